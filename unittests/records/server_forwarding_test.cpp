// Forwarding to a real PostgreSQL server when the server refuses a run, stops answering, or is
// set up for least privilege: a refused run is set aside and the runs behind it arrive in order;
// a stopped server is said not to answer and never holds the close; a station's role adds and
// reads runs and nothing else.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "record_samples.h"
#include "records/record_forwarder.h"
#include "records/record_store.h"
#include "records/server_setup.h"
#include "records/server_watch.h"
#include "test_server.h"

namespace records {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kPatience = 30s;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Finished runs with every field, numbered in the order they finish.
RunRecord finished(int n) {
  RunRecord run = samples::full_record("run-" + std::to_string(100 + n));
  run.started = samples::at(samples::kMorning + n * 60'000LL);
  run.ended = run.started + 30s;
  return run;
}

// Waits until `holds` or the patience is spent.
template <typename Condition>
bool eventually(Condition holds) {
  const auto end = std::chrono::steady_clock::now() + kPatience;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// A station's record file that forwards, and its forwarder to `line`.
class Station {
 public:
  Station(const std::string& file, const std::string& line) : file_(file), line_(line) {}

  void finish(const std::vector<RunRecord>& runs) {
    RecordStore store(file_, OpenMode::station);
    store.set_forwarding(true);
    ASSERT_TRUE(store.open()) << store.status_text();
    for (const RunRecord& run : runs) ASSERT_TRUE(store.complete_run(run)) << store.status_text();
  }
  void finish(const UnitResult& unit) {
    RecordStore store(file_, OpenMode::station);
    store.set_forwarding(true);
    ASSERT_TRUE(store.open()) << store.status_text();
    ASSERT_TRUE(store.complete_unit_result(unit)) << store.status_text();
  }
  void start_forwarding() {
    RecordForwarder::Options options;
    options.station_store = file_;
    options.shared_store = line_;
    options.retry_interval = 1h;
    options.batch_forwarded = [this](const std::vector<std::string>& ids) {
      std::lock_guard lock(mutex_);
      sent_.insert(sent_.end(), ids.begin(), ids.end());
    };
    forwarder_ = std::make_unique<RecordForwarder>(std::move(options));
  }
  RecordForwarder& forwarder() { return *forwarder_; }
  void stop_forwarding() { forwarder_.reset(); }
  std::vector<std::string> sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  // The station's own view: what waits and what was set aside.
  ForwardBacklog backlog() {
    RecordStore store(file_, OpenMode::reader);
    EXPECT_TRUE(store.open()) << store.status_text();
    return store.forward_backlog().value;
  }
  std::vector<SetAsideRun> set_aside() {
    RecordStore store(file_, OpenMode::reader);
    EXPECT_TRUE(store.open()) << store.status_text();
    return store.set_aside_runs().value;
  }
  std::optional<RunRecord> kept(const std::string& id) {
    RecordStore store(file_, OpenMode::reader);
    EXPECT_TRUE(store.open()) << store.status_text();
    return store.find(id).value;
  }

 private:
  std::string file_;
  std::string line_;
  std::mutex mutex_;
  std::vector<std::string> sent_;
  std::unique_ptr<RecordForwarder> forwarder_;
};

std::vector<std::string> ids_on_server(const std::string& line) {
  test_server::Connection server(line);
  return server.texts("SELECT id FROM runs ORDER BY started_ms");
}

struct PoisonCase {
  const char* label;
  void (*spoil)(RunRecord& run);
};

class RefusedRun : public ::testing::TestWithParam<PoisonCase> {
 protected:
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  test_server::Database database_;
  samples::Folder folder_;
};

TEST_P(RefusedRun, IsSetAsideWithTheServersReasonAndTheRunsBehindItArriveInOrder) {
  Station station(folder_.file("station.sqlite"), database_.line());
  std::vector<RunRecord> runs;
  for (int n = 1; n <= 5; ++n) runs.push_back(finished(n));
  GetParam().spoil(runs[2]);
  station.finish(runs);
  station.start_forwarding();

  ASSERT_TRUE(station.forwarder().wait_until_forwarded(kPatience))
      << station.forwarder().state().reason;
  const std::vector<std::string> others = {"run-101", "run-102", "run-104", "run-105"};
  EXPECT_EQ(station.sent(), others);
  EXPECT_EQ(ids_on_server(database_.line()), others);
  const ForwardState state = station.forwarder().state();
  EXPECT_EQ(state.set_aside, 1u);
  EXPECT_TRUE(contains(state.set_aside_reason, "the records server refused the run's content"))
      << state.set_aside_reason;
  const std::vector<SetAsideRun> aside = station.set_aside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside[0].run_id, "run-103");
  EXPECT_EQ(aside[0].reason, state.set_aside_reason);
  EXPECT_LT(aside[0].reason.size(), 300u) << "a line, not the statement";
  EXPECT_EQ(station.kept("run-103"), runs[2]) << "the refused run stays whole in the file";
  EXPECT_EQ(station.backlog().count, 0u);

  // Forwarding goes on as before.
  station.finish({finished(6)});
  ASSERT_TRUE(station.forwarder().wait_until_forwarded(kPatience));
  EXPECT_EQ(ids_on_server(database_.line()).back(), "run-106");
  EXPECT_EQ(station.forwarder().state().set_aside, 1u);
}

INSTANTIATE_TEST_SUITE_P(Content, RefusedRun,
                         ::testing::Values(
                             // More than an index row can hold.
                             PoisonCase{"long_serial",
                                        [](RunRecord& run) {
                                          // Not compressible, as a module's reply may be.
                                          std::string serial;
                                          unsigned state = 12345;
                                          while (serial.size() < 3000) {
                                            state = state * 1103515245u + 12345u;
                                            serial += char('!' + (state >> 16) % 90);
                                          }
                                          run.uut.serial = serial;
                                        }},
                             // The driver sends texts as literals, which end at a NUL byte.
                             PoisonCase{"nul_byte",
                                        [](RunRecord& run) {
                                          run.technician = std::string("A.\0Marsh", 8);
                                        }}),
                         [](const auto& row) { return std::string(row.param.label); });

// Stops every process of a server (SIGSTOP) and continues them when it ends, however the test ends.
class StoppedServer {
 public:
  explicit StoppedServer(const std::string& line) {
    processes_ = test_server::server_processes(line);
    // The postmaster first, so that it starts no process the list misses; a child may have ended
    // since it was listed.
    for (const pid_t pid : processes_) {
      if (::kill(pid, SIGSTOP) != 0 && pid == processes_.front()) break;
      stopped_ = true;
    }
  }
  ~StoppedServer() { resume(); }
  StoppedServer(const StoppedServer&) = delete;
  StoppedServer& operator=(const StoppedServer&) = delete;
  bool stopped() const { return stopped_; }
  void resume() {
    for (const pid_t pid : processes_) ::kill(pid, SIGCONT);
    processes_.clear();
    stopped_ = false;
  }

 private:
  std::vector<pid_t> processes_;
  bool stopped_ = false;
};

class HungServer : public ::testing::Test {
 protected:
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  test_server::Database database_;
  samples::Folder folder_;
};

TEST_F(HungServer, IsSaidNotToAnswerHoldsNotTheCloseAndGetsTheRunsOnceContinued) {
  test_server::OwnServer server("hung");
  ASSERT_FALSE(server.line().empty()) << "the own server did not start";
  Station station(folder_.file("station.sqlite"), server.line());
  station.finish({finished(1), finished(2)});
  station.start_forwarding();
  ASSERT_TRUE(station.forwarder().wait_until_forwarded(kPatience))
      << station.forwarder().state().reason;
  {
    StoppedServer stopped(server.line());
    ASSERT_TRUE(stopped.stopped());
    station.finish({finished(3), finished(4)});
    station.forwarder().nudge();
    EXPECT_TRUE(eventually([&] {
      return station.forwarder().state().reason == kServerDoesNotAnswer;
    })) << station.forwarder().state().reason;
    // Without a limit of the station's own, this waits for the server for ever.
    station.stop_forwarding();
    EXPECT_EQ(station.backlog().count, 2u) << "what was not forwarded stays queued";
  }
  station.start_forwarding();
  ASSERT_TRUE(station.forwarder().wait_until_forwarded(kPatience))
      << station.forwarder().state().reason;
  EXPECT_EQ(ids_on_server(server.line()),
            (std::vector<std::string>{"run-101", "run-102", "run-103", "run-104"}));
}

// Whether `socket` still carries a byte to `peer`.
bool carries(int socket, int peer) {
  const char sent = 'q';
  char received = 0;
  return ::send(socket, &sent, 1, MSG_NOSIGNAL) == 1 &&
         ::recv(peer, &received, 1, MSG_DONTWAIT) == 1 && received == sent;
}

TEST(ServerWatchSocket, ACutReachesTheWatchedConnectionAndNeverTheSocketThatReusedItsNumber) {
  int watched[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, watched), 0);
  ServerWatch watch({}, nullptr);
  watch.set_socket(watched[0]);
  // The driver closes its socket when the connection drops; the next socket takes its number.
  const int number = watched[0];
  ASSERT_EQ(::close(watched[0]), 0);
  int other[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, other), 0);
  ASSERT_EQ(other[0], number) << "the number is reused";
  watch.cut_all();
  EXPECT_TRUE(carries(other[0], other[1])) << "another socket was shut down";
  char byte = 0;
  EXPECT_EQ(::recv(watched[1], &byte, 1, MSG_DONTWAIT), 0) << "the watched connection was cut";
  watch.set_socket(-1);
  for (const int socket : {watched[1], other[0], other[1]}) ::close(socket);
}

// A TCP connection over the loopback: the station's end and the server's.
struct LoopbackConnection {
  int station = -1;
  int server = -1;
  LoopbackConnection() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::listen(listener, 1) == 0 &&
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      station = ::socket(AF_INET, SOCK_STREAM, 0);
      if (::connect(station, reinterpret_cast<sockaddr*>(&address), size) == 0) {
        server = ::accept(listener, nullptr, nullptr);
      }
    }
    ::close(listener);
  }
  ~LoopbackConnection() {
    for (const int socket : {station, server}) {
      if (socket >= 0) ::close(socket);
    }
  }
  LoopbackConnection(const LoopbackConnection&) = delete;
  LoopbackConnection& operator=(const LoopbackConnection&) = delete;
};

TEST(ServerWatchSocket, ALongRequestTheServerTakesInSlowlyIsNotCutAndAStoppedServerIs) {
  LoopbackConnection link;
  ASSERT_GE(link.server, 0);
  std::atomic<int> notices = 0;
  std::atomic<std::uint64_t> noticed = 0;
  ServerWatch watch({400ms, 800ms}, [&](std::uint64_t exchange) {
    noticed = exchange;
    ++notices;
  });
  watch.set_socket(link.station);
  const std::uint64_t exchange = watch.begin();
  // The station sends a request of many megabytes; no answer comes until it is all sent.
  std::atomic<bool> send_failed = false;
  std::thread sender([&] {
    const timeval wait{0, 100'000};
    ::setsockopt(link.station, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    const std::vector<char> chunk(64 * 1024, 'r');
    while (true) {
      if (::send(link.station, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN &&
          errno != EWOULDBLOCK) {
        break;
      }
    }
    send_failed = true;
  });
  // A slow link: the server takes in some 2.5 MB/s, for three times the cut's limit.
  std::vector<char> buffer(128 * 1024);
  const auto slow_until = std::chrono::steady_clock::now() + 2400ms;
  while (std::chrono::steady_clock::now() < slow_until) {
    if (::recv(link.server, buffer.data(), buffer.size(), 0) <= 0) {
      ADD_FAILURE() << "the link broke";
      break;
    }
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(notices, 0) << "a server that takes the request in is heard";
  EXPECT_FALSE(send_failed) << "cut while the server took the request in";
  // The server stops: its buffer fills and it acknowledges nothing more.
  EXPECT_TRUE(eventually([&] { return send_failed.load(); })) << "a stopped server is never cut";
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(noticed, exchange) << "the notice names its exchange";
  EXPECT_TRUE(watch.end());
  watch.cut_all();  // ends the sender, should the test have failed
  sender.join();
  watch.set_socket(-1);
}

// The set-up README gives a line: an owner role whose database holds the records, and a role
// for the stations that the set-up command lets add runs and read them.
class LeastPrivilege : public ::testing::Test {
 protected:
  void SetUp() override {
    QUOR_NEED_TEST_SERVER(database_);
    test_server::Connection admin(database_.line());
    for (const std::string& statement :
         std::vector<std::string>{"CREATE ROLE " + owner_ + " LOGIN PASSWORD 'pw-" + owner_ + "'",
                                  "CREATE ROLE " + role_ + " LOGIN PASSWORD 'pw-" + role_ + "'",
                                  "ALTER DATABASE " + database_.name() + " OWNER TO " + owner_,
                                  "ALTER SCHEMA public OWNER TO " + owner_,
                                  "REVOKE ALL ON DATABASE " + database_.name() + " FROM PUBLIC",
                                  "GRANT CONNECT ON DATABASE " + database_.name() + " TO " + role_,
                                  "REVOKE CREATE ON SCHEMA public FROM PUBLIC"}) {
      ASSERT_EQ(admin.exec(statement), "");
    }
  }
  std::string owner_line() const {
    return test_server::with_login(database_.line(), owner_, "pw-" + owner_);
  }
  std::string station_line() const {
    return test_server::with_login(database_.line(), role_, "pw-" + role_);
  }
  int set_up(std::string& said) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = setup_records_server(owner_line(), role_, out, err);
    said = out.str() + err.str();
    return status;
  }

  test_server::Database database_;
  samples::Folder folder_;
  std::string owner_ = test_server::unique_name("quor_owner_");
  std::string role_ = test_server::unique_name("quor_station_");
};

TEST_F(LeastPrivilege, AStationAddsAndReadsRunsAndCanChangeNothing) {
  {
    RecordStore before(station_line(), OpenMode::shared);
    EXPECT_FALSE(before.open());
    EXPECT_TRUE(contains(before.reason(), "quor_station --setup-records-server"))
        << before.reason();
  }
  std::string said;
  ASSERT_EQ(set_up(said), kSetupDone) << said;
  EXPECT_FALSE(contains(said, "pw-" + owner_)) << said;
  ASSERT_EQ(set_up(said), kSetupDone) << "a second set-up changes nothing: " << said;

  // A run another station delivered under an id this station's run has, with other content.
  RunRecord clash = finished(2);
  clash.technician = "someone else";
  // The same for unit results; run-103 is a step of the first.
  const UnitResult unit = samples::full_unit_result("unit-1");
  UnitResult unit_clash = samples::full_unit_result("unit-2");
  unit_clash.verdict = UnitVerdict::pass;
  RunRecord step = finished(3);
  step.unit_result_id = unit.id;
  {
    RecordStore elsewhere(station_line(), OpenMode::shared);
    ASSERT_TRUE(elsewhere.open()) << elsewhere.status_text();
    ASSERT_TRUE(elsewhere.import_runs({finished(1)}));
    ASSERT_TRUE(elsewhere.import_runs({clash}));
    EXPECT_TRUE(elsewhere.import_runs({finished(1)})) << "a second delivery is harmless";
    ASSERT_TRUE(elsewhere.import_unit_results({unit_clash}));
  }
  Station station(folder_.file("station.sqlite"), station_line());
  station.finish({finished(1), finished(2), step});
  station.finish(unit);
  station.finish(samples::full_unit_result("unit-2"));
  station.start_forwarding();
  ASSERT_TRUE(station.forwarder().wait_until_forwarded(kPatience))
      << station.forwarder().state().reason;
  EXPECT_EQ(station.sent(), (std::vector<std::string>{"run-101", "run-103"}));
  EXPECT_EQ(station.forwarder().state().forwarded, 3u) << "two runs and a unit result";
  EXPECT_EQ(station.forwarder().state().set_aside, 2u) << "a run and a unit result";
  const std::vector<SetAsideRun> aside = station.set_aside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside[0].run_id, "run-102");
  EXPECT_EQ(aside[0].reason, "the records server holds a run of that id with other content");
  RecordStore reader(station_line(), OpenMode::reader);
  ASSERT_TRUE(reader.open()) << reader.status_text();
  EXPECT_EQ(reader.find("run-102").value, clash) << "never overwritten";
  EXPECT_EQ(reader.find("run-101").value, finished(1));
  EXPECT_EQ(reader.find("run-103").value, step);
  EXPECT_EQ(reader.find_unit_result("unit-1").value, unit);
  EXPECT_EQ(reader.find_unit_result("unit-2").value, unit_clash) << "never overwritten";

  test_server::Connection as_station(station_line());
  ASSERT_TRUE(as_station.is_open()) << as_station.error();
  for (const std::string& statement :
       {std::string("UPDATE runs SET technician = 'x'"), std::string("DELETE FROM runs"),
        std::string("DELETE FROM run_reports"), std::string("UPDATE run_errors SET message = ''"),
        std::string("TRUNCATE runs CASCADE"), std::string("DROP TABLE run_errors"),
        std::string("ALTER TABLE runs ADD COLUMN x INTEGER"),
        std::string("CREATE TABLE runs_copy (id TEXT)"),
        std::string("INSERT INTO schema_version (version) VALUES (99)"),
        std::string("UPDATE unit_results SET verdict = 'pass'"),
        std::string("DELETE FROM unit_results"), std::string("SELECT * FROM unit_result_queue")}) {
    const std::string refused = as_station.exec(statement);
    EXPECT_TRUE(contains(refused, "permission denied") || contains(refused, "must be owner"))
        << statement << ": " << refused;
  }
  EXPECT_EQ(as_station.value("SELECT COUNT(*) FROM runs").toInt(), 3);
  EXPECT_EQ(reader.find("run-101").value, finished(1)) << "unchanged";
}

TEST_F(LeastPrivilege, TheSetUpRefusesADatabaseNotInUtf8) {
  const std::string name = test_server::unique_name("quor_latin1_");
  test_server::Connection admin(database_.line());
  ASSERT_EQ(admin.exec("CREATE DATABASE " + name + " OWNER " + owner_ +
                       " ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0"),
            "");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(setup_records_server(test_server::with_database(owner_line(), name), role_, out, err),
            kSetupFailed);
  EXPECT_TRUE(contains(err.str(), "is not in UTF8")) << err.str();
  EXPECT_TRUE(contains(err.str(), "LATIN1")) << err.str();
}

struct UnfitRoleCase {
  const char* label;
  // Made by the superuser in the line's database; {role} is the role's name, {owner} the owner's.
  std::vector<std::string> statements;
  const char* said;
};

class UnfitRole : public LeastPrivilege, public ::testing::WithParamInterface<UnfitRoleCase> {};

std::string named(std::string statement, const std::string& role, const std::string& owner) {
  for (const auto& [placeholder, name] :
       {std::pair{std::string("{role}"), role}, std::pair{std::string("{owner}"), owner}}) {
    for (std::size_t at = statement.find(placeholder); at != std::string::npos;
         at = statement.find(placeholder)) {
      statement.replace(at, placeholder.size(), name);
    }
  }
  return statement;
}

TEST_P(UnfitRole, IsRefusedByTheSetUpWhichChangesNothing) {
  role_ =
      GetParam().label == std::string("owner") ? owner_ : test_server::unique_name("quor_unfit_");
  test_server::Connection admin(database_.line());
  for (const std::string& statement : GetParam().statements) {
    ASSERT_EQ(admin.exec(named(statement, role_, owner_)), "");
  }
  std::string said;
  EXPECT_EQ(set_up(said), kSetupFailed);
  EXPECT_TRUE(contains(said, GetParam().said)) << said;
  EXPECT_TRUE(admin.value("SELECT to_regclass('runs') IS NULL").toBool()) << "nothing was set up";
}

INSTANTIATE_TEST_SUITE_P(
    Roles, UnfitRole,
    ::testing::Values(
        UnfitRoleCase{"owner", {}, "the stations need a role of their own"},
        UnfitRoleCase{"missing", {}, "does not exist"},
        UnfitRoleCase{"superuser", {"CREATE ROLE {role} LOGIN SUPERUSER"}, "is a superuser"},
        // It may SET ROLE to the owner, though it does not inherit the owner's rights.
        UnfitRoleCase{"noinherit_member",
                      {"CREATE ROLE {role} LOGIN NOINHERIT", "GRANT {owner} TO {role}"},
                      "is the owner of the records or a member of it"},
        UnfitRoleCase{"createrole", {"CREATE ROLE {role} LOGIN CREATEROLE"}, "may create roles"},
        // The one-role set-up of earlier versions: the role's own schema, first on its path.
        UnfitRoleCase{"own_schema",
                      {"CREATE ROLE {role} LOGIN", "CREATE SCHEMA {role} AUTHORIZATION {role}"},
                      "owns a schema or a table"},
        UnfitRoleCase{"creates_in_schema",
                      {"CREATE ROLE {role} LOGIN", "GRANT CREATE ON SCHEMA public TO {role}"},
                      "may create tables in the records' schema"}),
    [](const auto& row) { return std::string(row.param.label); });

}  // namespace
}  // namespace records
