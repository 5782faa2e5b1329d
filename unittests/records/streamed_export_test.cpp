// The export that reads the store in chunks: the same file, byte for byte, as the export of the
// records read all at once, for every format, chunk boundaries and filter; a failing read leaves
// nothing under the file.
#include <gtest/gtest.h>

#include <QFile>
#include <string>
#include <vector>

#include "record_samples.h"
#include "records/record_export.h"
#include "records/record_store.h"

namespace records {
namespace {

using samples::bare_record;
using samples::Folder;
using samples::full_record;

std::string contents(const std::string& file) {
  QFile read(QString::fromStdString(file));
  if (!read.open(QIODevice::ReadOnly)) return "(missing)";
  return read.readAll().toStdString();
}

struct StreamCase {
  const char* extension;
  int runs;  // around the chunk size: none, one, a chunk and a bit
  bool simulated_included;
};

class StreamedExportTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.open());
    std::vector<RunRecord> runs;
    for (int n = 0; n < GetParam().runs; ++n) {
      RunRecord r = n % 7 == 0 ? full_record("full-" + std::to_string(n))
                               : bare_record("bare-" + std::to_string(n), Procedure::self_test,
                                             n % 3 ? Outcome::passed : Outcome::failed,
                                             samples::kMorning + n * 1000LL,
                                             "QB" + std::to_string(n), "", n % 5 == 0);
      r.started = samples::at(samples::kMorning + n * 1000LL);
      runs.push_back(std::move(r));
    }
    ASSERT_TRUE(store.import_runs(runs));
  }

  Folder folder;
  RecordStore store{folder.file("records.sqlite")};
};

TEST_P(StreamedExportTest, WritesWhatTheExportOfEveryRecordReadFirstWrites) {
  RecordFilter filter;
  filter.include_simulated = GetParam().simulated_included;
  const std::string all_at_once = folder.file(std::string("at-once.") + GetParam().extension);
  const std::string streamed = folder.file(std::string("streamed.") + GetParam().extension);
  const auto read = store.query(filter);
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(export_records(read.value, all_at_once), "");
  std::size_t count = 99;
  ASSERT_EQ(export_records(store, filter, streamed, &count), "");
  EXPECT_EQ(count, read.value.size());
  EXPECT_EQ(contents(streamed), contents(all_at_once));
}

INSTANTIATE_TEST_SUITE_P(FormatsAndChunks, StreamedExportTest,
                         ::testing::Values(StreamCase{"csv", 0, true}, StreamCase{"json", 0, true},
                                           StreamCase{"xml", 0, true}, StreamCase{"xml", 1, true},
                                           StreamCase{"csv", 1, true}, StreamCase{"json", 1, true},
                                           StreamCase{"csv", int(kExportChunk) + 3, false},
                                           StreamCase{"json", int(kExportChunk) + 3, true},
                                           StreamCase{"xml", int(kExportChunk) + 3, false}));

TEST_P(StreamedExportTest, APageOfRunsWritesWhatTheExportOfThatPageWrites) {
  RecordFilter page;
  page.include_simulated = GetParam().simulated_included;
  page.limit = 5;
  page.offset = 2;
  const std::string read_first = folder.file(std::string("page.") + GetParam().extension);
  const std::string streamed = folder.file(std::string("streamed.") + GetParam().extension);
  const auto read = store.query(page);
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(export_records(read.value, read_first), "");
  ASSERT_EQ(export_records(store, page, streamed), "");
  EXPECT_EQ(contents(streamed), contents(read_first));
}

TEST(StoreScan, HandsEveryRunOnceInChunksNewestFirstAndStopsWhenAsked) {
  Folder folder;
  RecordStore store(folder.file("records.sqlite"));
  ASSERT_TRUE(store.open());
  std::vector<RunRecord> runs;
  for (int n = 0; n < 7; ++n) {
    runs.push_back(bare_record("run-" + std::to_string(n), Procedure::rec, Outcome::passed,
                               samples::kMorning + n));
  }
  runs[3].last_errors = {"first", "second"};
  ASSERT_TRUE(store.import_runs(runs));

  std::vector<std::size_t> sizes;
  std::vector<std::string> ids;
  std::vector<std::string> errors_of_3;
  EXPECT_EQ(store.scan({}, 3,
                       [&](std::vector<RunRecord>& chunk) {
                         sizes.push_back(chunk.size());
                         for (const RunRecord& run : chunk) {
                           ids.push_back(run.id);
                           if (run.id == "run-3") errors_of_3 = run.last_errors;
                         }
                         return true;
                       }),
            "");
  EXPECT_EQ(sizes, (std::vector<std::size_t>{3, 3, 1}));
  EXPECT_EQ(ids, (std::vector<std::string>{"run-6", "run-5", "run-4", "run-3", "run-2", "run-1",
                                           "run-0"}));
  EXPECT_EQ(errors_of_3, (std::vector<std::string>{"first", "second"}));

  int calls = 0;
  store.scan({}, 2, [&](std::vector<RunRecord>&) { return ++calls < 2; });
  EXPECT_EQ(calls, 2);
}

TEST(StoreScan, AReadThatFailsLeavesNothingUnderTheFile) {
  Folder folder;
  RecordStore never_opened(folder.file("records.sqlite"));
  const std::string file = folder.file("out.csv");
  EXPECT_NE(export_records(never_opened, RecordFilter{}, file), "");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
}

}  // namespace
}  // namespace records
