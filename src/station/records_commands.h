// The records as the command line names them: where the station keeps them, and the two commands
// about them that need no display, --export-records and --setup-records-server.
#pragma once

#include <ostream>

#include "records/record_export.h"
#include "records/records_location.h"
#include "station/command_line.h"
#include "station/records_wiring.h"

namespace station {

// --records, else QUOR_RECORDS, else the application data folder (which follows the
// application's name: set it first).
records::RecordsLocation records_location(const StationOptions& options);

// What the records wiring takes. With a server named, runs are written to the station's own file
// first and forwarded.
RecordsOptions records_options(const StationOptions& options,
                               const records::RecordsLocation& where);

// --export-records FILE with its filters, reading the records where `where` says.
records::ExportRequest export_request(const StationOptions& options,
                                      const records::RecordsLocation& where);

// The commands, saying what they did on `out` and a wrong command line on `err`; each returns
// its exit status.
int run_export(const StationOptions& options, std::ostream& out, std::ostream& err);
int run_server_setup(const StationOptions& options, std::ostream& out, std::ostream& err);

}  // namespace station
