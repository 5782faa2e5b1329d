// The rows of the unit_results table: the statements that write and read them, and the binding
// of a UnitResult to their columns. Internal to src/records.
#pragma once

#include <QSqlQuery>
#include <QString>

#include "records/unit_result.h"

namespace records::sql {

// "SELECT <every column> FROM unit_results"; read_unit_result() reads its rows.
QString select_unit_results();
// Writes a unit result over the one of its id, except that a running state never comes back over
// an ended one (a journal's older state written late).
QString upsert_unit_result_statement();
// The unit result unless one of its id is there (what a shared store takes).
QString insert_new_unit_result_statement();
// Binds every column, in the statements' order.
void bind_unit_result(QSqlQuery& query, const UnitResult& result);
// False for a row written by a newer program with a verdict or procedure this one does not know.
bool read_unit_result(const QSqlQuery& query, UnitResult& result);

}  // namespace records::sql
