// The record store on a real PostgreSQL server (the throw-away one of scripts/test-postgres.sh):
// stores that start at the same moment, the failures a station meets on a line's server, the
// password kept out of every text, the password file, and the reader on the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <cstdlib>
#include <fstream>
#include <latch>
#include <sstream>
#include <thread>

#include "record_samples.h"
#include "records/record_export.h"
#include "records/record_store.h"
#include "records/schema.h"
#include "records/sql_dialect.h"
#include "test_server.h"

namespace records {
namespace {

using samples::bare_record;
using samples::full_record;
using samples::kMorning;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ServerStore : public ::testing::Test {
 protected:
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  const std::string& line() const { return database_.line(); }
  std::string password() const {
    return parse_server_location(line()).location.value_or(ServerLocation{}).password;
  }
  test_server::Database database_;
};

TEST_F(ServerStore, TwoStationsStartingOnAFreshDatabaseBothOpenAndTheSchemaIsMadeOnce) {
  for (int round = 0; round < 5; ++round) {
    test_server::Database fresh;
    ASSERT_FALSE(fresh.line().empty()) << fresh.error();
    std::latch start(2);
    bool opened[2] = {false, false};
    bool written[2] = {false, false};
    std::string status[2];
    auto station = [&](int n) {
      RecordStore store(fresh.line(), OpenMode::shared);
      start.arrive_and_wait();
      opened[n] = store.open();
      written[n] = store.complete_run(full_record("station " + std::to_string(n)));
      status[n] = store.status_text();
    };
    std::thread first(station, 0);
    std::thread second(station, 1);
    first.join();
    second.join();
    for (int n = 0; n < 2; ++n) {
      EXPECT_TRUE(opened[n]) << "round " << round << ": " << status[n];
      EXPECT_TRUE(written[n]) << "round " << round << ": " << status[n];
    }
    test_server::Connection check(fresh.line());
    EXPECT_EQ(check.value("SELECT COUNT(*) - COUNT(DISTINCT version) FROM schema_version").toInt(),
              0)
        << "each migration made once";
    EXPECT_EQ(check.value("SELECT MAX(version) FROM schema_version").toInt(), sql::kSchemaVersion);
    EXPECT_EQ(check.value("SELECT COUNT(*) FROM runs").toInt(), 2);
  }
}

TEST_F(ServerStore, ASharedStoreMarksNoRunInterruptedAndAReaderReadsEverything) {
  RunRecord other_station = full_record("still running elsewhere");
  {
    RecordStore elsewhere(line(), OpenMode::shared);
    ASSERT_TRUE(elsewhere.open()) << elsewhere.status_text();
    ASSERT_TRUE(elsewhere.begin_run(other_station));
  }
  // A station started while another one tests; a station-mode store on a server is shared.
  for (const OpenMode mode : {OpenMode::shared, OpenMode::station}) {
    RecordStore store(line(), mode);
    ASSERT_TRUE(store.open()) << store.status_text();
    EXPECT_TRUE(store.take_notices().empty());
    ASSERT_TRUE(
        store.complete_run(bare_record("passed " + std::to_string(int(mode)), Procedure::rec,
                                       Outcome::passed, kMorning + int(mode), "QB7")));
  }
  RecordStore reader(line(), OpenMode::reader);
  ASSERT_TRUE(reader.open()) << reader.status_text();
  EXPECT_EQ(reader.find(other_station.id).value->outcome, Outcome::running);
  const auto all = reader.query({});
  ASSERT_EQ(all.error, "");
  EXPECT_EQ(all.value.size(), 3u);
  const auto summary = reader.summarize({});
  ASSERT_EQ(summary.error, "");
  EXPECT_EQ(summary.value.count, 3u);
  EXPECT_EQ(summary.value.passed, 2u);
  EXPECT_EQ(summary.value.first_runs, 1u);
  std::vector<std::string> scanned;
  EXPECT_EQ(reader.scan({}, 2,
                        [&](std::vector<RunRecord>& runs) {
                          for (const RunRecord& run : runs) scanned.push_back(run.id);
                          return true;
                        }),
            "");
  EXPECT_EQ(scanned.size(), 3u);
  EXPECT_FALSE(reader.complete_run(full_record("from a reader")));
}

// Two stations forward runs of one unit at once, the later run's transaction still open when the
// earlier run arrives: the earlier one waits for it and becomes the unit's only first run.
TEST_F(ServerStore, RunsOfOneUnitAddedAtOnceMakeOneFirstRun) {
  {
    RecordStore setting_up(line(), OpenMode::shared);
    ASSERT_TRUE(setting_up.open()) << setting_up.status_text();
  }
  test_server::Connection other(line());
  ASSERT_EQ(other.exec("BEGIN"), "");
  ASSERT_EQ(other.exec("INSERT INTO runs (id, station_id, started_ms, procedure_id, outcome,"
                       " passes_run, failures, uut_reply, uut_maker, uut_model, uut_serial,"
                       " uut_firmware, qcu_reply, qcu_maker, qcu_model, qcu_serial, qcu_firmware,"
                       " uut_resource, qcu_resource, technician, top_serial, sub_serial,"
                       " visa_library, simulated, program_version) VALUES ('later', 'other', " +
                       std::to_string(kMorning + 3'600'000) +
                       ", 'rec', 'passed', 1, 0, '', '', '', 'QB1', '', '', '', '', '', '', '',"
                       " '', '', '', '', '', 0, '1')"),
            "");
  bool written = false;
  std::string status;
  std::thread earlier([&] {
    RecordStore store(line(), OpenMode::shared);
    written = store.open() && store.complete_run(bare_record("earlier", Procedure::rec,
                                                             Outcome::failed, kMorning, "QB1"));
    status = store.status_text();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds{300});
  EXPECT_EQ(other.exec("COMMIT"), "");
  earlier.join();
  ASSERT_TRUE(written) << status;
  EXPECT_EQ(other.texts("SELECT id FROM runs WHERE first_run <> 0"),
            std::vector<std::string>{"earlier"});
  RecordStore store(line(), OpenMode::reader);
  ASSERT_TRUE(store.open()) << store.status_text();
  const auto summary = store.summarize({});
  EXPECT_EQ(summary.value.first_runs, 1u);
  EXPECT_EQ(summary.value.first_runs_passed, 0u);
}

TEST_F(ServerStore, TheExportCommandReadsTheServerAndNamesItWithoutThePassword) {
  {
    RecordStore store(line(), OpenMode::shared);
    ASSERT_TRUE(store.open()) << store.status_text();
    ASSERT_TRUE(store.complete_run(full_record("one")));
    ASSERT_TRUE(store.complete_run(full_record("two")));
  }
  samples::Folder folder;
  ExportRequest request;
  request.file = folder.file("runs.csv");
  request.records_path = line();
  std::ostringstream out;
  EXPECT_EQ(export_records_main(request, out), kExportDone) << out.str();
  EXPECT_EQ(out.str(), "Exported 2 runs to " + request.file + ".\n");

  request.records_path = test_server::with_database(line(), "no_such_records");
  std::ostringstream refused;
  EXPECT_EQ(export_records_main(request, refused), kExportFailed);
  EXPECT_TRUE(contains(refused.str(), "the records database does not exist")) << refused.str();
  EXPECT_FALSE(contains(refused.str(), password())) << refused.str();
}

TEST_F(ServerStore, AReaderOfADatabaseWithoutRecordsSaysSo) {
  RecordStore reader(line(), OpenMode::reader);
  EXPECT_FALSE(reader.open());
  EXPECT_TRUE(contains(reader.status_text(), "Records are not being kept")) << reader.status_text();
  test_server::Connection check(line());
  EXPECT_FALSE(check.value("SELECT to_regclass('runs') IS NOT NULL").toBool())
      << "a reader creates nothing";
}

// A port on 127.0.0.1 that nobody listens on: bound for a moment and let go.
int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A server that takes the connection and never answers.
class SilentListener {
 public:
  SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 8);
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

std::string with_port(const std::string& line, int port) {
  const auto server = parse_server_location(line).location;
  const std::string from = ":" + std::to_string(server->port.value_or(5432)) + "/";
  std::string result = line;
  result.replace(result.find(from), from.size(), ":" + std::to_string(port) + "/");
  return result;
}

struct RefusalCase {
  const char* label;
  std::string (*line)(const std::string& good, int silent_port);
  sql::Failure failure;
  const char* reason;
};

class ServerRefusal : public ServerStore, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ServerRefusal, LeavesTheRunWaitingAndSaysWhyWithoutThePassword) {
  SilentListener silent;
  const std::string bad = GetParam().line(line(), silent.port());
  RecordStore store(bad, OpenMode::shared);
  EXPECT_FALSE(store.open());
  const RunRecord record = full_record();
  EXPECT_FALSE(store.begin_run(record));
  EXPECT_FALSE(store.complete_run(record));
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_EQ(store.retry(), 0u);
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_EQ(store.reason(), GetParam().reason);
  EXPECT_EQ(store.reason(), sql::postgresql_dialect().reason_text(GetParam().failure));
  const std::string status = store.status_text();
  EXPECT_TRUE(contains(status, "Records are not being kept: " + std::string(GetParam().reason)))
      << status;
  EXPECT_TRUE(contains(status, "1 run waits in memory")) << status;
  EXPECT_TRUE(contains(status, store.location_text())) << status;
  const auto server = parse_server_location(bad).location;
  ASSERT_TRUE(server);
  if (!server->password.empty()) {
    for (const std::string& text :
         {status, store.reason(), store.location_text(), store.query({}).error}) {
      EXPECT_FALSE(contains(text, server->password)) << text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ServerRefusal,
    ::testing::Values(
        RefusalCase{"connection_refused",
                    [](const std::string& good, int) { return with_port(good, free_port()); },
                    sql::Failure::unreachable, "the records server cannot be reached"},
        RefusalCase{"wrong_password",
                    [](const std::string& good, int) {
                      return test_server::with_login(good, "postgres", "not-the-password");
                    },
                    sql::Failure::authentication,
                    "the records server refused the user name or password"},
        RefusalCase{"unknown_user",
                    [](const std::string& good, int) {
                      return test_server::with_login(good, "nobody_here", "whatever");
                    },
                    sql::Failure::authentication,
                    "the records server refused the user name or password"},
        RefusalCase{"missing_database",
                    [](const std::string& good, int) {
                      return test_server::with_database(good, "no_such_records");
                    },
                    sql::Failure::no_database, "the records database does not exist on the server"},
        RefusalCase{"server_never_answers",
                    [](const std::string& good, int silent_port) {
                      return with_port(good, silent_port) + "?connect_timeout=2";
                    },
                    sql::Failure::timed_out, "the records server did not answer in time"},
        // It could not hold a control character's picture (U+2400) a module's text is kept with.
        RefusalCase{"database_not_in_utf8",
                    [](const std::string& good, int) {
                      const std::string name = test_server::unique_name("quor_latin1_");
                      test_server::Connection admin(good);
                      const std::string made =
                          admin.exec("CREATE DATABASE " + name +
                                     " ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C'"
                                     " TEMPLATE template0");
                      EXPECT_EQ(made, "");
                      return test_server::with_database(good, name);
                    },
                    sql::Failure::not_unicode,
                    "the records database is not in UTF8 and cannot hold every text the stations "
                    "keep: create it with ENCODING 'UTF8'"},
        RefusalCase{"encryption_required",
                    [](const std::string& good, int) { return good + "?sslmode=require"; },
                    sql::Failure::encryption,
                    "the records server does not offer the encrypted connection the line "
                    "requires"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(ServerStore, ASlowServerFailsTheWriteWithinTheTimeOutAndTheRunIsWrittenLater) {
  RecordStore store(line(), OpenMode::shared, std::chrono::milliseconds{300});
  ASSERT_TRUE(store.open()) << store.status_text();
  test_server::Connection other(line());
  ASSERT_EQ(other.exec("BEGIN"), "");
  ASSERT_EQ(other.exec("LOCK TABLE runs IN ACCESS EXCLUSIVE MODE"), "");

  const RunRecord record = full_record();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(store.complete_run(record));
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_LT(waited, std::chrono::seconds(3)) << "the write gave up instead of hanging";
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_EQ(store.reason(), "the records server did not answer in time");
  EXPECT_TRUE(contains(store.status_text(), "1 run waits in memory")) << store.status_text();
  EXPECT_FALSE(contains(store.status_text(), password())) << store.status_text();
  EXPECT_EQ(store.retry(), 0u) << "still locked";

  ASSERT_EQ(other.exec("ROLLBACK"), "");
  EXPECT_EQ(store.retry(), 1u) << store.status_text();
  EXPECT_EQ(store.status_text(), "");
  EXPECT_EQ(store.find(record.id).value, record);
}

TEST_F(ServerStore, ARoleWithoutTheRightToCreateTheSchemaIsToldSo) {
  const std::string role = test_server::unique_name("quor_norights_");
  test_server::Connection admin(line());
  ASSERT_EQ(admin.exec("CREATE ROLE " + role + " LOGIN PASSWORD 'pw-" + role + "'"), "");
  ASSERT_EQ(admin.exec("REVOKE CREATE ON SCHEMA public FROM PUBLIC"), "");
  RecordStore store(test_server::with_login(line(), role, "pw-" + role), OpenMode::shared);
  EXPECT_FALSE(store.open());
  EXPECT_EQ(store.reason(), sql::postgresql_dialect().reason_text(sql::Failure::needs_setup));
  EXPECT_TRUE(contains(store.reason(), "--setup-records-server")) << store.reason();
  EXPECT_FALSE(store.complete_run(full_record()));
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_FALSE(contains(store.status_text(), "pw-" + role)) << store.status_text();
}

// A role that owns a schema of its own name (the set-up earlier READMEs gave) keeps working: it
// creates its schema itself.
TEST_F(ServerStore, TheReadmeRoleCreatesItsSchemaWritesAndReads) {
  const std::string role = test_server::unique_name("quor_station_");
  {
    test_server::Connection admin(line());
    for (const std::string& statement : std::vector<std::string>{
             "CREATE ROLE " + role + " LOGIN PASSWORD 'pw-" + role + "'",
             "REVOKE ALL ON DATABASE " + database_.name() + " FROM PUBLIC",
             "GRANT CONNECT ON DATABASE " + database_.name() + " TO " + role,
             "REVOKE CREATE ON SCHEMA public FROM PUBLIC", "CREATE SCHEMA AUTHORIZATION " + role}) {
      ASSERT_EQ(admin.exec(statement), "");
    }
  }
  const std::string station_line = test_server::with_login(line(), role, "pw-" + role);
  {
    RecordStore store(station_line, OpenMode::shared);
    ASSERT_TRUE(store.open()) << store.status_text();
    ASSERT_TRUE(store.complete_run(full_record()));
  }
  RecordStore reader(station_line, OpenMode::reader);
  ASSERT_TRUE(reader.open()) << reader.status_text();
  EXPECT_EQ(reader.find(full_record().id).value, full_record());
  test_server::Connection admin(line());
  EXPECT_EQ(admin.value("SELECT schemaname FROM pg_tables WHERE tablename = 'runs'").toString(),
            QString::fromStdString(role));
}

// Sets an environment variable for the test's length.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

struct PasswordFileCase {
  const char* label;
  bool right_password;
};

class PasswordFile : public ServerStore, public ::testing::WithParamInterface<PasswordFileCase> {};

TEST_P(PasswordFile, GivesThePasswordALineLeavesOut) {
  const ServerLocation server = *parse_server_location(line()).location;
  samples::Folder folder;
  const std::string file = folder.file("pgpass");
  {
    std::ofstream out(file);
    // host:port:database:user:password, ':' and '\' escaped
    std::string secret = GetParam().right_password ? server.password : "wrong";
    std::string escaped;
    for (const char c : secret) {
      if (c == ':' || c == '\\') escaped += '\\';
      escaped += c;
    }
    out << server.host << ':' << *server.port << ":*:" << server.user << ':' << escaped << '\n';
  }
  QFile::setPermissions(QString::fromStdString(file), QFile::ReadOwner | QFile::WriteOwner);
  ScopedVariable pgpassfile("PGPASSFILE", file);
  const std::string without_password = test_server::with_login(line(), server.user);
  ASSERT_FALSE(contains(without_password, server.password));

  RecordStore store(without_password, OpenMode::shared);
  EXPECT_EQ(store.open(), GetParam().right_password) << store.status_text();
  if (GetParam().right_password) {
    EXPECT_TRUE(store.complete_run(full_record()));
    EXPECT_EQ(store.find(full_record().id).value, full_record());
  } else {
    EXPECT_EQ(store.reason(), "the records server refused the user name or password");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, PasswordFile,
                         ::testing::Values(PasswordFileCase{"right_password", true},
                                           PasswordFileCase{"wrong_password", false}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST_F(ServerStore, AServerStoppedMidwayGetsTheWaitingRunsInOrderWhenItIsBack) {
  test_server::OwnServer server("store");
  ASSERT_FALSE(server.line().empty()) << "the own server did not start";
  RecordStore store(server.line(), OpenMode::shared);
  ASSERT_TRUE(store.open()) << store.status_text();
  ASSERT_TRUE(store.complete_run(bare_record("before", Procedure::rec, Outcome::passed, kMorning)));

  ASSERT_TRUE(server.run("stop"));
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(store.complete_run(bare_record(
        "while stopped " + std::to_string(i), Procedure::rec, Outcome::failed, kMorning + 1 + i)));
  }
  EXPECT_EQ(store.waiting(), 3u);
  EXPECT_EQ(store.reason(), "the records server cannot be reached") << store.status_text();
  EXPECT_EQ(store.retry(), 0u);

  ASSERT_TRUE(server.run("start"));
  EXPECT_EQ(store.retry(), 3u) << store.status_text();
  EXPECT_EQ(store.status_text(), "");
  const auto all = store.query({});
  ASSERT_EQ(all.error, "");
  std::vector<std::string> ids;
  for (const RunRecord& run : all.value) ids.push_back(run.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"while stopped 2", "while stopped 1", "while stopped 0",
                                           "before"}));
}

}  // namespace
}  // namespace records
