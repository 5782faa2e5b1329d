// The set-up of a line's records server, which a test engineer runs once with the role that owns
// the records (and again after an update of the program): it creates the schema or brings it
// forward, and grants the stations' role the rights a station needs, to add runs and read them,
// and nothing else (no UPDATE, DELETE, TRUNCATE or DDL). Stations never change the schema.
#pragma once

#include <ostream>
#include <string>

namespace records {

// Exit statuses of the set-up command.
inline constexpr int kSetupDone = 0;
inline constexpr int kSetupFailed = 1;
inline constexpr int kSetupUsage = 2;

// `line`: the owner role's server line (records/server_location.h); `station_role`: the role the
// stations log in with. Tells what it did on `out`, or why it could not on `err`; no text shows
// the line's password.
int setup_records_server(const std::string& line, const std::string& station_role,
                         std::ostream& out, std::ostream& err);

}  // namespace records
