// A store that fails (locked, read-only, full, damaged) keeps the station testing: records wait
// in memory, the status text says why, and retry() writes them once the file works again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <csignal>

#include "other_connection.h"
#include "record_samples.h"
#include "records/record_store.h"
#include "records/run_journal.h"
#include "records/sql_dialect.h"

namespace records {
namespace {

using samples::full_record;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

QByteArray read_all(const std::string& path) {
  QFile file(QString::fromStdString(path));
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

class FailingStore : public ::testing::Test {
 protected:
  std::string path() const { return folder_.file("records.sqlite"); }
  samples::Folder folder_;
};

TEST_F(FailingStore, LockedFileQueuesTheRunAndWritesItOnRetry) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  OtherConnection other(path());
  ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
  ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));

  const RunRecord record = full_record();
  EXPECT_FALSE(store.complete_run(record));
  EXPECT_FALSE(store.keeping_records());
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_TRUE(contains(store.status_text(), "Records are not being kept")) << store.status_text();
  EXPECT_TRUE(contains(store.status_text(), "locked")) << store.status_text();
  EXPECT_TRUE(contains(store.status_text(), "1 run waits")) << store.status_text();
  EXPECT_EQ(store.retry(), 0u) << "still locked";
  EXPECT_EQ(store.waiting(), 1u);

  ASSERT_TRUE(other.exec("ROLLBACK"));
  EXPECT_EQ(store.retry(), 1u);
  EXPECT_EQ(store.waiting(), 0u);
  EXPECT_TRUE(store.keeping_records());
  EXPECT_EQ(store.status_text(), "");
  EXPECT_EQ(store.find(record.id).value, record);
}

TEST_F(FailingStore, ProgressOfAWaitingRunGoesIntoTheWaitingRecord) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  OtherConnection other(path());
  ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
  ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
  RunRecord record = full_record();
  EXPECT_FALSE(store.begin_run(record));
  EXPECT_FALSE(store.save_progress(record.id, "Pass 1\r\n"));
  ASSERT_TRUE(other.exec("ROLLBACK"));
  EXPECT_EQ(store.retry(), 1u);
  const auto found = store.find(record.id).value;
  ASSERT_TRUE(found);
  EXPECT_EQ(found->outcome, Outcome::running);
  EXPECT_EQ(found->report, "Pass 1\r\n");
}

// A run begun while the file was locked and completed once it was free: the completion is
// written, and the waiting "running" copy must not overwrite it on the next retry.
TEST_F(FailingStore, ACompletionWrittenDirectlyReplacesTheWaitingBegin) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  const RunRecord record = full_record();
  {
    OtherConnection other(path());
    ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
    EXPECT_FALSE(store.begin_run(record));
    ASSERT_TRUE(other.exec("ROLLBACK"));
  }
  EXPECT_TRUE(store.complete_run(record));
  EXPECT_EQ(store.waiting(), 0u);
  store.retry();
  EXPECT_EQ(store.find(record.id).value->outcome, record.outcome);
}

// Deferred writes (a close out of time) touch not the file: the run's progress and its end wait.
TEST_F(FailingStore, DeferredWritesWaitWithoutTryingTheFile) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  const RunRecord record = full_record();
  ASSERT_TRUE(store.begin_run(record));
  store.defer_writes(true);
  EXPECT_FALSE(store.save_progress(record.id, "Pass 1\r\n"));
  EXPECT_FALSE(store.complete_run(record));
  EXPECT_EQ(store.waiting(), 1u);
  const auto found = store.find(record.id).value;
  ASSERT_TRUE(found);
  EXPECT_EQ(found->outcome, Outcome::running);
  EXPECT_EQ(found->report, record.report) << "the file was written while writes were deferred";
  store.defer_writes(false);
  EXPECT_EQ(store.retry(), 1u);
  EXPECT_EQ(store.find(record.id).value, record);
}

TEST_F(FailingStore, RetryWritesManyWaitingRunsInShortBatchesOldestFirst) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  const std::size_t count = 2 * RecordStore::kRetryBatch + 7;
  {
    OtherConnection other(path());
    ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
    for (std::size_t i = 0; i < count; ++i) {
      RunRecord run = full_record("run " + std::to_string(i));
      run.started = samples::at(samples::kMorning + static_cast<long long>(i));
      EXPECT_FALSE(store.complete_run(run));
    }
    ASSERT_TRUE(other.exec("ROLLBACK"));
  }
  EXPECT_EQ(store.retry(), RecordStore::kRetryBatch);
  EXPECT_EQ(store.waiting(), count - RecordStore::kRetryBatch);
  EXPECT_TRUE(contains(store.status_text(), "wait to be written")) << store.status_text();
  const auto first_batch = store.query({}).value;
  ASSERT_EQ(first_batch.size(), RecordStore::kRetryBatch);
  EXPECT_EQ(first_batch.back().id, "run 0");
  EXPECT_EQ(store.retry(), RecordStore::kRetryBatch);
  EXPECT_EQ(store.retry(), 7u);
  EXPECT_EQ(store.retry(), 0u);
  EXPECT_EQ(store.query({}).value.size(), count);
  EXPECT_EQ(store.status_text(), "");
}

// A journal left by a program that ended midway: a unit's final test begun in the journal, its
// first step's run begun in the file and finished in the journal, and its second only begun in
// the journal. Whatever a crash did to the journal's last entry or
// the middle of it, the whole entries are written at the next start before runs left running are
// marked interrupted: the finished run is never taken for one cut off.
struct JournalDamage {
  const char* label;
  // Applied to the journal's bytes.
  void (*damage)(QByteArray& bytes, qsizetype last_entry);
  // Whether the begun run's entry (the last) survives.
  bool last_kept;
};

class LeftJournal : public FailingStore, public ::testing::WithParamInterface<JournalDamage> {};

TEST_P(LeftJournal, IsWrittenBeforeRunsLeftRunningAreMarked) {
  const UnitResult unit = samples::full_unit_result();
  RunRecord finished = full_record("finished");
  finished.outcome = Outcome::passed;
  finished.unit_result_id = unit.id;
  RunRecord begun = full_record("begun");
  begun.unit_result_id = unit.id;
  qsizetype last_entry = 0;
  {
    RecordStore store(path());
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.begin_run(finished));
    OtherConnection other(path());
    ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
    EXPECT_FALSE(store.begin_unit_result(unit));
    EXPECT_FALSE(store.complete_run(finished));
    last_entry = read_all(path() + ".journal").size();
    EXPECT_FALSE(store.begin_run(begun));
    EXPECT_EQ(store.waiting(), 3u);
    EXPECT_TRUE(contains(store.status_text(), "in the journal")) << store.status_text();
    // The program ends here as a crash would end it: the journal is copied as it is.
    QFile::copy(QString::fromStdString(path() + ".journal"),
                QString::fromStdString(path() + ".journal-7"));
    ASSERT_TRUE(other.exec("ROLLBACK"));
  }
  QByteArray bytes = read_all(path() + ".journal-7");
  ASSERT_GT(bytes.size(), last_entry);
  GetParam().damage(bytes, last_entry);
  QFile::remove(QString::fromStdString(path() + ".journal"));
  QFile left(QString::fromStdString(path() + ".journal-7"));
  ASSERT_TRUE(left.open(QIODevice::WriteOnly | QIODevice::Truncate));
  left.write(bytes);
  left.close();
  {
    OtherConnection other(path());
    ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'begun'"));
  }

  RecordStore next_start(path());
  ASSERT_TRUE(next_start.open()) << next_start.status_text();
  EXPECT_EQ(next_start.waiting(), 0u);
  EXPECT_EQ(next_start.find("finished").value, finished);
  const auto begun_kept = next_start.find("begun").value;
  EXPECT_EQ(begun_kept.has_value(), GetParam().last_kept);
  if (begun_kept) {
    EXPECT_EQ(begun_kept->outcome, Outcome::interrupted);
  }
  const auto unit_kept = next_start.find_unit_result(unit.id).value;
  ASSERT_TRUE(unit_kept) << "the unit result in the journal was lost";
  EXPECT_EQ(unit_kept->verdict, UnitVerdict::interrupted);
  EXPECT_EQ(unit_kept->finding, unit.finding);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path() + ".journal-7"))) << "taken over";
}

INSTANTIATE_TEST_SUITE_P(
    Damage, LeftJournal,
    ::testing::Values(JournalDamage{"whole", [](QByteArray&, qsizetype) {}, true},
                      JournalDamage{"last_entry_torn",
                                    [](QByteArray& bytes, qsizetype) { bytes.chop(7); }, false},
                      JournalDamage{"garbage_before_the_last_entry",
                                    [](QByteArray& bytes, qsizetype last) {
                                      bytes.insert(last,
                                                   QByteArray("QRJ1\xff\xff\x00\x00garbage", 15));
                                    },
                                    true},
                      JournalDamage{
                          "last_entry_altered",
                          [](QByteArray& bytes, qsizetype) { bytes[bytes.size() - 3] ^= 0x20; },
                          false}),
    [](const auto& row) { return std::string(row.param.label); });

// Two stations write one file: a station's start marks its own runs left running interrupted, and
// queues them for forwarding, never the other station's live runs.
TEST_F(FailingStore, AStationsStartMarksOnlyItsOwnRunsInterrupted) {
  RunRecord live = full_record("live");
  live.station_id = "station A";
  RunRecord left = full_record("left");
  left.station_id = "station B";
  RecordStore a(path());
  a.set_station(live.station_id);
  a.set_forwarding(true);
  ASSERT_TRUE(a.open());
  ASSERT_TRUE(a.begin_run(live));
  ASSERT_TRUE(a.begin_run(left));  // as station B's last program left it

  RecordStore b(path());
  b.set_station(left.station_id);
  b.set_forwarding(true);
  ASSERT_TRUE(b.open()) << b.status_text();
  EXPECT_EQ(b.find(live.id).value->outcome, Outcome::running);
  EXPECT_EQ(b.find(left.id).value->outcome, Outcome::interrupted);
  const auto queued = b.forward_batch(10);
  ASSERT_EQ(queued.error, "");
  ASSERT_EQ(queued.value.size(), 1u);
  EXPECT_EQ(queued.value[0].id, left.id);
}

// Makes a file unwritable, for root too (which ignores the mode): the immutable flag.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(std::string path) : path_(std::move(path)) {
    ::chmod(path_.c_str(), 0444);
    if (::geteuid() == 0) immutable_ = set_immutable(true);
  }
  ~ReadOnlyFile() { release(); }
  bool unwritable() const { return ::geteuid() != 0 || immutable_; }
  void release() {
    if (immutable_) set_immutable(false);
    immutable_ = false;
    ::chmod(path_.c_str(), 0644);
  }

 private:
  bool set_immutable(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  }
  std::string path_;
  bool immutable_ = false;
};

TEST_F(FailingStore, ReadOnlyFileQueuesRunsUntilItCanBeWritten) {
  {
    RecordStore first(path());
    ASSERT_TRUE(first.open());
    ASSERT_TRUE(first.complete_run(full_record("earlier")));
  }
  ReadOnlyFile read_only(path());
  if (!read_only.unwritable()) GTEST_SKIP() << "cannot make a file read-only here";

  RecordStore store(path());
  EXPECT_FALSE(store.open());
  const RunRecord record = full_record();
  EXPECT_FALSE(store.begin_run(record));
  EXPECT_FALSE(store.complete_run(record));
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_TRUE(contains(store.status_text(), "Records are not being kept")) << store.status_text();
  EXPECT_TRUE(contains(store.status_text(), "read-only")) << store.status_text();
  EXPECT_TRUE(contains(store.status_text(), path())) << store.status_text();
  EXPECT_EQ(store.retry(), 0u);

  read_only.release();
  EXPECT_EQ(store.retry(), 1u);
  EXPECT_TRUE(store.keeping_records()) << store.status_text();
  EXPECT_EQ(store.find(record.id).value, record);
  EXPECT_TRUE(store.find("earlier").value);
}

void write_at(const std::string& path, qint64 offset, const QByteArray& bytes) {
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  file.seek(offset);
  file.write(bytes);
}

struct DamageCase {
  const char* label;
  void (*damage)(const std::string& path);
};

void garbage_file(const std::string& path) {
  QByteArray garbage;
  for (int i = 0; i < 5000; ++i) garbage.append(char((i * 131 + 7) % 256));
  write_at(path, 0, garbage);
}

// A real store whose pages after the first are overwritten.
void torn_pages(const std::string& path) {
  {
    RecordStore store(path);
    ASSERT_TRUE(store.open());
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(store.complete_run(full_record("run " + std::to_string(i))));
    }
  }
  write_at(path, 4096 * 3, QByteArray(4096 * 6, char(0xA5)));
}

class DamagedFile : public FailingStore, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedFile, IsMovedAsideAndAFreshStoreBegun) {
  GetParam().damage(path());
  const QByteArray damaged = read_all(path());

  RecordStore store(path());
  ASSERT_TRUE(store.open()) << store.status_text();
  const auto notices = store.take_notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(store.take_notices().empty());

  const QStringList moved =
      QDir(folder_.dir.path()).entryList({"records.sqlite.damaged-*"}, QDir::Files);
  ASSERT_EQ(moved.size(), 1) << moved.join(", ").toStdString();
  const std::string moved_path = folder_.file(moved[0].toStdString());
  EXPECT_EQ(read_all(moved_path), damaged) << "moved as it was, never changed or deleted";
  EXPECT_TRUE(contains(notices[0], path())) << notices[0];
  EXPECT_TRUE(contains(notices[0], moved_path)) << notices[0];

  EXPECT_TRUE(store.query({}).value.empty());
  ASSERT_TRUE(store.complete_run(full_record()));
  EXPECT_EQ(store.find(full_record().id).value, full_record());
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedFile,
                         ::testing::Values(DamageCase{"garbage", garbage_file},
                                           DamageCase{"torn_pages", torn_pages}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST_F(FailingStore, AReaderReportsADamagedFileAndMovesNothing) {
  garbage_file(path());
  RecordStore reader(path(), OpenMode::reader);
  EXPECT_FALSE(reader.open());
  EXPECT_TRUE(contains(reader.status_text(), "damaged")) << reader.status_text();
  EXPECT_EQ(QDir(folder_.dir.path()).entryList(QDir::Files), QStringList{"records.sqlite"});
}

TEST_F(FailingStore, AFolderThatCannotBeMadeLeavesRunsWaiting) {
  const std::string blocked = folder_.file("plain-file");
  garbage_file(blocked);  // a file where the folder would be
  RecordStore store(blocked + "/records.sqlite");
  EXPECT_FALSE(store.open());
  EXPECT_FALSE(store.complete_run(full_record()));
  EXPECT_EQ(store.waiting(), 1u);
  EXPECT_TRUE(contains(store.status_text(), "cannot be opened")) << store.status_text();
}

// A volume of `kilobytes` mounted over a folder of the test's own (root only), and a file that
// takes every free byte of it until it is removed.
class SmallVolume {
 public:
  SmallVolume(const std::string& folder, int kilobytes) : folder_(folder) {
    QDir().mkpath(QString::fromStdString(folder));
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    mounted_ =
        ::geteuid() == 0 && ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallVolume() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  void fill() {
    const int fd = ::open((folder_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  void free_space() { ::unlink((folder_ + "/filler").c_str()); }

 private:
  std::string folder_;
  bool mounted_ = false;
};

RunRecord with_report(const std::string& id, std::size_t report_bytes) {
  RunRecord run = full_record(id);
  run.report = std::string(report_bytes, 'r');
  return run;
}

// No file of this process grows past `bytes` while it lives, as on a disk that is full but for
// the space a file already holds.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    const rlimit limit{bytes, before_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit before_{};
  void (*handler_)(int);
};

// The journal cannot grow (a full disk: the record file's log reuses its own space) while a run
// that waits there as running is finished in the file: the journal's older entry never brings
// it back as running, to be marked interrupted, whether the program ends as a crash ends it once
// the journal has room again or while it still has none.
class FullJournal : public FailingStore, public ::testing::WithParamInterface<bool> {};

TEST_P(FullJournal, NeverBringsAFinishedRunBackRunning) {
  const bool room_before_the_crash = GetParam();
  RunRecord finished = full_record("finished");
  finished.outcome = Outcome::passed;
  const std::string journal = path() + ".journal";
  {
    RecordStore store(path());
    ASSERT_TRUE(store.open());
    OtherConnection other(path());
    ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
    // A long report makes the journal longer than the record file and its log.
    EXPECT_FALSE(store.begin_run(with_report("long", 1 << 20)));
    EXPECT_FALSE(store.begin_run(finished));
    ASSERT_TRUE(other.exec("ROLLBACK"));
    {
      const FileSizeLimit full(rlim_t(read_all(journal).size()));
      EXPECT_TRUE(store.complete_run(finished)) << store.status_text();
      EXPECT_EQ(store.waiting(), 1u);
    }
    if (room_before_the_crash) {
      // The file locked: the long run still waits.
      ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
      ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
      EXPECT_EQ(store.retry(), 0u);
      ASSERT_TRUE(other.exec("ROLLBACK"));
    }
    QFile::copy(QString::fromStdString(journal), QString::fromStdString(journal + "-7"));
    // The program ends here, as a crash would end it.
    ::unlink(journal.c_str());
  }

  RecordStore next_start(path());
  ASSERT_TRUE(next_start.open()) << next_start.status_text();
  const auto kept = next_start.find("finished").value;
  ASSERT_TRUE(kept);
  EXPECT_EQ(text_id(kept->outcome), text_id(Outcome::passed));
  EXPECT_EQ(kept, finished);
  EXPECT_EQ(next_start.find("long").value->outcome, Outcome::interrupted);
}

INSTANTIATE_TEST_SUITE_P(Crash, FullJournal, ::testing::Values(true, false), [](const auto& row) {
  return std::string(row.param ? "with_room_again" : "still_full");
});

// The journal could not be made at first (no folder yet): the run kept then, the journal another
// program left there once it can be made, and the run kept next all reach the disk.
TEST_F(FailingStore, AJournalMadeLateTakesTheLeftRunsAndKeepsEveryRunOnDisk) {
  const std::string blocked = folder_.file("plain-file");
  garbage_file(blocked);  // a file where the folder would be
  const std::string file = blocked + "/records.sqlite";
  RecordStore store(file);
  EXPECT_FALSE(store.open());
  EXPECT_FALSE(store.complete_run(full_record("first")));
  EXPECT_EQ(store.in_memory(), 1u);
  ASSERT_TRUE(QFile::remove(QString::fromStdString(blocked)));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(blocked)));
  {
    RunJournal left(file);
    for (int n = 0; n < 5; ++n) ASSERT_TRUE(left.keep(full_record("left " + std::to_string(n))));
  }
  // Opening the journal loads the left runs while this one is kept (AddressSanitizer once saw
  // that write land in freed memory).
  EXPECT_FALSE(store.complete_run(full_record("second")));
  EXPECT_EQ(store.waiting(), 7u);
  EXPECT_EQ(store.in_memory(), 0u) << store.status_text();
  while (store.retry() > 0) {
  }
  EXPECT_EQ(store.waiting(), 0u) << store.status_text();
  EXPECT_EQ(store.query({}).value.size(), 7u);
}

// A full disk is named as such; the runs that could not be written are all written once space
// returns.
TEST_F(FailingStore, AFullDiskIsNamedAndEveryRunIsWrittenOnceSpaceReturns) {
  SmallVolume volume(folder_.file("small"), 1024);
  if (!volume.mounted()) GTEST_SKIP() << "mounting a small volume needs root";
  const std::string file = folder_.file("small/records.sqlite");
  RecordStore store(file);
  ASSERT_TRUE(store.open()) << store.status_text();
  ASSERT_TRUE(store.complete_run(full_record("before")));
  volume.fill();
  std::vector<std::string> ids;
  for (int n = 0; n < 12; ++n) {
    ids.push_back("full " + std::to_string(n));
    store.complete_run(with_report(ids.back(), 10'000));
  }
  EXPECT_FALSE(store.keeping_records());
  EXPECT_EQ(store.reason(), "the disk that holds the record file is full") << store.status_text();
  EXPECT_EQ(store.waiting(), ids.size());
  // The journal beside the file cannot take them either, and the status says so.
  EXPECT_TRUE(contains(store.status_text(), "in memory only")) << store.status_text();

  volume.free_space();
  while (store.retry() > 0) {
  }
  EXPECT_TRUE(store.keeping_records()) << store.status_text();
  EXPECT_EQ(store.waiting(), 0u);
  for (const std::string& id : ids) EXPECT_TRUE(store.find(id).value) << id;
}

// The write-ahead log is folded back into the file long before it fills a small volume: a
// volume three times the runs' size takes them all.
TEST_F(FailingStore, ASmallVolumeTakesRunsUntilTheFileItselfFillsIt) {
  SmallVolume volume(folder_.file("small"), 3 * 1024);
  if (!volume.mounted()) GTEST_SKIP() << "mounting a small volume needs root";
  RecordStore store(folder_.file("small/records.sqlite"));
  ASSERT_TRUE(store.open()) << store.status_text();
  for (int n = 0; n < 100; ++n) {
    ASSERT_TRUE(store.complete_run(with_report("run " + std::to_string(n), 10'000)))
        << "run " << n << ": " << store.status_text();
  }
}

struct CodeCase {
  const char* native_code;
  sql::Failure failure;
  // SQLite's message: a failed commit comes with it alone.
  const char* message = "database";
};

class SqliteFailure : public ::testing::TestWithParam<CodeCase> {};

TEST_P(SqliteFailure, IsReadFromTheResultCode) {
  const QSqlError error("driver", GetParam().message, QSqlError::StatementError,
                        GetParam().native_code);
  EXPECT_EQ(sql::sqlite_dialect().classify(error), GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SqliteFailure,
    ::testing::Values(CodeCase{"5", sql::Failure::locked}, CodeCase{"517", sql::Failure::locked},
                      CodeCase{"6", sql::Failure::locked}, CodeCase{"8", sql::Failure::read_only},
                      CodeCase{"264", sql::Failure::read_only},
                      CodeCase{"13", sql::Failure::disk_full},
                      CodeCase{"11", sql::Failure::damaged}, CodeCase{"26", sql::Failure::damaged},
                      CodeCase{"14", sql::Failure::cannot_open},
                      CodeCase{"1034", sql::Failure::other}, CodeCase{"", sql::Failure::other},
                      CodeCase{"", sql::Failure::disk_full, "database or disk is full"},
                      CodeCase{"", sql::Failure::locked, "database is locked"}));

}  // namespace
}  // namespace records
