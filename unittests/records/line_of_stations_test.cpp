// A line of stations on a real PostgreSQL server: stations forwarding at the same time, and a
// server that goes away while a station finishes runs, lose no run and store none twice.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "record_samples.h"
#include "records/record_forwarder.h"
#include "records/record_writer.h"
#include "test_server.h"

namespace records {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kPatience = 60s;

std::set<std::string> ids_on(test_server::Connection& server, const std::string& condition) {
  const std::vector<std::string> ids = server.texts("SELECT id FROM runs WHERE " + condition);
  return {ids.begin(), ids.end()};
}

class LineOfStations : public ::testing::Test {
 protected:
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  test_server::Database database_;
  samples::Folder folder_;
};

TEST_F(LineOfStations, TwoStationsForwardingAtOnceLeaveEveryRunOnTheServerOnce) {
  constexpr int kRuns = 200;
  std::vector<std::unique_ptr<QProcess>> stations;
  for (const char* station : {"line-a", "line-b"}) {
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral(QUOR_STATION_LOAD),
                   {QString::fromStdString(folder_.file(std::string(station) + ".sqlite")),
                    QString::fromStdString(database_.line()), QString::fromLatin1(station),
                    QString::number(kRuns)});
    stations.push_back(std::move(process));
  }
  std::vector<std::set<std::string>> written;
  for (auto& process : stations) {
    ASSERT_TRUE(process->waitForFinished(int(std::chrono::milliseconds(kPatience).count())));
    EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
    std::set<std::string> ids;
    for (const QString& id : QString::fromUtf8(process->readAllStandardOutput())
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      ids.insert(id.toStdString());
    }
    EXPECT_EQ(ids.size(), std::size_t(kRuns));
    written.push_back(std::move(ids));
  }
  test_server::Connection server(database_.line());
  EXPECT_EQ(server.value("SELECT COUNT(*) FROM runs").toInt(), 2 * kRuns);
  EXPECT_EQ(ids_on(server, "station_id = 'line-a'"), written[0]);
  EXPECT_EQ(ids_on(server, "station_id = 'line-b'"), written[1]);
  EXPECT_EQ(server.value("SELECT COUNT(*) FROM run_errors").toInt(), 2 * kRuns * 2)
      << "each run's two last errors arrived with it";
}

TEST_F(LineOfStations, AServerThatGoesAwayGetsEveryRunInOrderOnceWhenItIsBack) {
  test_server::OwnServer server("forwarding");
  ASSERT_FALSE(server.line().empty()) << "the own server did not start";
  RecordWriter::Options writing;
  writing.path = folder_.file("station.sqlite");
  writing.forward = true;
  RecordWriter writer(std::move(writing));
  ASSERT_TRUE(writer.open());
  std::mutex mutex;
  std::vector<std::string> sent;
  RecordForwarder::Options forwarding;
  forwarding.station_store = folder_.file("station.sqlite");
  forwarding.shared_store = server.line();
  forwarding.server_timeout = 2s;
  forwarding.retry_interval = 100ms;
  forwarding.batch_forwarded = [&](const std::vector<std::string>& ids) {
    std::lock_guard lock(mutex);
    sent.insert(sent.end(), ids.begin(), ids.end());
  };
  RecordForwarder forwarder(std::move(forwarding));

  std::vector<std::string> finished;
  const auto finish = [&](int first, int last) {
    for (int n = first; n <= last; ++n) {
      RunRecord run = samples::full_record("run-" + std::to_string(1000 + n));
      run.started = samples::at(samples::kMorning + n * 1000LL);
      writer.complete_run(run);
      finished.push_back(run.id);
    }
    writer.flush();
    forwarder.nudge();
  };
  finish(1, 10);
  ASSERT_TRUE(forwarder.wait_until_forwarded(kPatience)) << forwarder.state().reason;

  ASSERT_TRUE(server.run("stop"));
  finish(11, 30);
  EXPECT_FALSE(forwarder.wait_until_forwarded(1s));
  const ForwardState waiting = forwarder.state();
  EXPECT_EQ(waiting.waiting, 20U);
  EXPECT_TRUE(waiting.waiting_since.has_value());
  EXPECT_EQ(waiting.reason, "the records server cannot be reached");

  ASSERT_TRUE(server.run("start"));
  finish(31, 35);
  ASSERT_TRUE(forwarder.wait_until_forwarded(kPatience)) << forwarder.state().reason;
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(sent, finished) << "in the order they finished, each once";
  }
  test_server::Connection look(server.line());
  EXPECT_EQ(look.value("SELECT COUNT(*) FROM runs").toInt(), 35);
}

}  // namespace
}  // namespace records
