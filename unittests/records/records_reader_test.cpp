// The records window's reader on a real PostgreSQL server: a runs table locked by another
// connection holds the reader's thread only, the read's failure comes back as a result, and the
// next read works once the lock is gone.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "record_samples.h"
#include "records/record_store.h"
#include "records/records_reader.h"
#include "test_server.h"

namespace records {
namespace {

using samples::full_record;
using Steady = std::chrono::steady_clock;

class ServerReader : public ::testing::Test {
 protected:
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  const std::string& line() const { return database_.line(); }
  test_server::Database database_;

  // Asks for the first page of every run; the result's future.
  static std::future<PageResult> ask(RecordsReader& reader) {
    auto promise = std::make_shared<std::promise<PageResult>>();
    PageRequest request;
    request.filter.include_simulated = true;
    request.filter.limit = 200;
    reader.read_page(request, [promise](PageResult result) { promise->set_value(result); });
    return promise->get_future();
  }
};

TEST_F(ServerReader, ALockedRunsTableHoldsTheReadersThreadOnlyAndItsFailureComesAsAResult) {
  {
    RecordStore writer(line(), OpenMode::shared);
    ASSERT_TRUE(writer.open()) << writer.status_text();
    ASSERT_TRUE(writer.complete_run(full_record()));
  }
  test_server::Connection other(line());
  ASSERT_EQ(other.exec("BEGIN"), "");
  ASSERT_EQ(other.exec("LOCK TABLE runs IN ACCESS EXCLUSIVE MODE"), "");

  // No context: the result comes on the reader's thread.
  RecordsReader reader(line(), nullptr);
  std::future<PageResult> locked = ask(reader);
  // The caller went on at once; the reader's thread waits on the lock.
  EXPECT_FALSE(reader.idle());
  EXPECT_EQ(locked.wait_for(std::chrono::seconds{1}), std::future_status::timeout);
  const std::optional<std::chrono::milliseconds> running = reader.busy_for();
  ASSERT_TRUE(running.has_value());
  EXPECT_GE(*running, std::chrono::milliseconds{900});
  // The server ends the wait at the store's statement time-out: a result that says so.
  ASSERT_EQ(locked.wait_for(RecordStore::kServerTimeout + std::chrono::seconds{10}),
            std::future_status::ready);
  const PageResult failed = locked.get();
  EXPECT_NE(failed.error, "");
  EXPECT_TRUE(failed.runs.empty());
  EXPECT_FALSE(failed.summary.has_value());

  ASSERT_EQ(other.exec("ROLLBACK"), "");
  std::future<PageResult> freed = ask(reader);
  ASSERT_EQ(freed.wait_for(std::chrono::seconds{30}), std::future_status::ready);
  const PageResult page = freed.get();
  EXPECT_EQ(page.error, "");
  ASSERT_EQ(page.runs.size(), 1U);
  EXPECT_EQ(page.runs[0].id, full_record().id);
  EXPECT_EQ(page.runs[0].report, "") << "the list reads no report";
  ASSERT_TRUE(page.summary.has_value());
  EXPECT_EQ(page.summary->count, 1U);
  ASSERT_TRUE(page.stations.has_value());
  EXPECT_EQ(*page.stations, std::vector<std::string>{full_record().station_id});
  while (!reader.idle()) std::this_thread::sleep_for(std::chrono::milliseconds{1});
}

}  // namespace
}  // namespace records
