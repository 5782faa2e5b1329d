// The runs a station's record file could not take at once, kept in a journal file beside it until
// it does: each run's latest state is appended and synced to the disk before the write returns,
// so that it survives a close, a crash and a power cut, and is written to the file at the next
// start. Each writing program holds a journal of its own (RECORD-FILE.journal, or
// RECORD-FILE.journal-2, ... when another program holds that one), locked for as long as it runs;
// a journal no program holds any more was left by one that ended before its runs were written,
// and the next program to open its own takes its runs over. Not thread-safe: one thread uses a
// journal.
//
// The file is a sequence of entries, each framed by a mark, its length and a checksum, so that an
// entry torn by a crash or a power cut is recognised and skipped. An entry holds a run's whole
// record, a unit result's whole record, or the ids of runs and unit results that reached the
// record file (a unit result is kept as a run is, under its own id).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "records/run_record.h"
#include "records/unit_result.h"

namespace records {

class RunJournal {
 public:
  // `store_path`: the record file the journal stands beside; empty: runs are kept in memory only
  // (a records server's store, which has no file beside it).
  explicit RunJournal(std::string store_path);
  // Lets the journal go; an empty journal file is removed.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Takes a journal file of this program's own and loads the runs it holds and those of
  // journals no program holds (taking those over: their runs are written into this one first,
  // then the files are removed). The runs loaded are marked as left by an earlier program. Once
  // open, does nothing; when it fails (a folder that cannot be written), keep() tries again.
  void open();
  bool is_open() const { return fd_ >= 0; }

  // Keeps the run's latest state, after the states kept before it (a run kept earlier keeps its
  // place). True when it is in the journal file on the disk; false when it is in memory only
  // (error() says why).
  bool keep(const RunRecord& record);
  // The same for a unit result.
  bool keep(const UnitResult& result);
  // The runs reached the record file: they are taken off (a run any state of which reached the
  // journal file is said to be stored there, now or, when that cannot be written, before its
  // next entry).
  void stored(const std::vector<std::string>& ids);
  // Writes the runs held in memory only to the journal file, after the ids of runs stored that it
  // could not take before; true when nothing is left so.
  bool sync();

  // The run kept under that id, or none.
  const RunRecord* find(const std::string& id) const;
  const UnitResult* find_unit_result(const std::string& id) const;
  std::size_t size() const { return runs_.size(); }
  // Of them, those in memory only.
  std::size_t in_memory() const;
  // The first `limit` runs in the order they were first kept; only those left by an earlier
  // program when `from_before`.
  std::vector<RunRecord> oldest(std::size_t limit, bool from_before = false) const;
  // The same for the unit results kept.
  std::vector<UnitResult> oldest_unit_results(std::size_t limit, bool from_before = false) const;
  std::size_t from_before() const;

  // The journal file in use (empty while none is).
  const std::string& file() const { return file_; }
  // Why a run is in memory only; empty when none is.
  const std::string& error() const { return error_; }

  // The journal files that may stand beside the record file, this program's first.
  static std::string file_name(const std::string& store_path, int number);

 private:
  struct Kept {
    RunRecord record;  // a unit result's holds its id only
    std::optional<UnitResult> unit_result;
    bool from_before = false;
    bool on_disk = false;       // its latest state is in the journal file
    bool ever_on_disk = false;  // some state of it is: stored() must say it was stored
  };
  // Keeps `kept` as the latest state of its id; see keep().
  bool keep(Kept kept, const std::string& payload);
  bool append(const std::string& payload);
  // Appends the ids of runs stored whose entry could not be appended; true when none is left.
  bool append_stored();
  bool rewrite();
  void take_over_orphans();
  void load(int fd, bool from_before);
  void apply(const std::string& payload, bool from_before);
  Kept* entry(const std::string& id);
  const Kept* entry(const std::string& id) const;

  std::string store_path_;
  std::string file_;
  int fd_ = -1;
  long long file_size_ = 0;
  std::string error_;
  std::vector<Kept> runs_;
  // Runs stored whose "stored" entry could not be appended: their older states are still in the
  // journal file and would come back at the next start.
  std::vector<std::string> stored_pending_;
};

}  // namespace records
