// Exports of run records to a file whose extension chooses the format:
//   .csv   RFC 4180, a header row and one row per run, every field quoted (line ends inside a
//          report kept); the last-error texts as one JSON array text
//   .json  an array with one object per run, every field, and the unit result the run is a
//          step of (records/unit_result.h) as the object "unit_result" (null for none)
//   .xml   JUnit XML: one testsuite per procedure, one testcase per run on its own; then one
//          testsuite per unit result, with its fields as properties and one testcase per step in
//          the order they ran; a failed run's report is the text of its failure element
// Each run carries the id of its unit result (unit_result_id; empty or null for none). In CSV a
// text of one line carries no line end at its end (an identity reply's, say).
// JSON and XML come out as UTF-8: a byte from 0x80 up that is not part of UTF-8 text (a
// module's 8-bit text) is written as the Latin-1 character it is. A module's bytes reach the
// records as module_text(), which every format carries as it is: module_bytes() of a field read
// back gives them again.
// and the `--export-records` command that writes them without a display.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "records/run_record.h"
#include "records/unit_result.h"

namespace records {

enum class ExportFormat { csv, json, junit_xml };

// By the file's extension, in any case; none for another one.
std::optional<ExportFormat> export_format_for(std::string_view file);

// The CSV columns, in order.
std::vector<std::string_view> csv_columns();

// Writes into a temporary file in FILE's folder and renames it to FILE at the end, so a failure
// leaves nothing partial under FILE. Returns an empty text on success, else what went wrong.
// `unit_results`: those the runs are steps of, for the JSON objects and the JUnit suites'
// properties.
std::string export_records(const std::vector<RunRecord>& records, const std::string& file,
                           const std::vector<UnitResult>& unit_results = {});

// The JUnit XML of one unit result: one testsuite with a testcase per step's run.
std::string unit_result_junit(const UnitResult& unit, const std::vector<RunRecord>& steps);

class RecordStore;
struct RecordFilter;

// The runs of `store` that `filter` selects, newest first, read in chunks and written as they
// come (JUnit XML: the suites' counts first, then each procedure's runs), all from one view of
// the store. The same file and the same guarantees as above; `count` receives how many runs were
// written.
std::string export_records(RecordStore& store, const RecordFilter& filter, const std::string& file,
                           std::size_t* count = nullptr);

// The JUnit XML of the unit result `unit_result_id` and its steps as `store` holds them, written
// to FILE as above. Returns an empty text on success, else what went wrong.
std::string export_unit_result_junit(RecordStore& store, const std::string& unit_result_id,
                                     const std::string& file);

// Runs read from the store at a time by the export above.
inline constexpr std::size_t kExportChunk = 2000;

// What the export command writes and from where; the station fills it from its command line.
struct ExportRequest {
  std::string file;
  std::string records_path;
  std::optional<TimePoint> since;           // runs started at this instant or later
  std::optional<std::string> serial;        // part of a unit serial number
  bool include_simulated = false;           // --include-simulated
  std::optional<std::string> station = {};  // a station id, exactly
};

// Exit statuses of the export command.
inline constexpr int kExportDone = 0;
inline constexpr int kExportFailed = 1;
inline constexpr int kExportUsage = 2;

// Writes the records the request selects (simulated runs only when asked) and says what it did
// or what went wrong on `out`. Does not change the record file.
int export_records_main(const ExportRequest& request, std::ostream& out);

}  // namespace records
