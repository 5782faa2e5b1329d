// A station's writer for the crash suite, as a program of its own that the suite kills at a
// random moment: it writes runs through a RecordWriter without end, another connection of its
// own holding the record file's write lock now and then so that runs go to the journal, and
// prints "done ID" for every run acknowledged (its completion written to the file or the journal
// before flush() returned), after a line "ready" once it has opened the file. Every three runs
// are the steps of a unit result, begun before the first and completed after the third; "unit ID"
// acknowledges a unit result completed.
//
//   records_crash_writer RECORD-FILE SEED
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "record_samples.h"
#include "records/record_writer.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RECORD-FILE SEED\n", argv[0]);
    return 2;
  }
  std::mt19937 random(static_cast<unsigned>(std::stoul(argv[2])));
  records::RecordWriter::Options writing;
  writing.path = argv[1];
  writing.busy_timeout = std::chrono::milliseconds{5};
  writing.retry_interval = std::chrono::milliseconds{20};
  records::RecordWriter writer(std::move(writing));
  // A file another writer holds locked at this moment is no reason to stop: runs wait.
  writer.open();
  QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
  other.setDatabaseName(QString::fromLocal8Bit(argv[1]));
  other.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5"));
  other.open();
  QSqlQuery lock(other);
  std::printf("ready\n");
  std::fflush(stdout);
  bool locked = false;
  std::vector<std::string> finished;
  std::vector<std::string> units_finished;
  records::UnitResult unit;
  for (int n = 0;; ++n) {
    if (n % 3 == 0) {
      unit = records::samples::full_unit_result(records::new_run_id());
      unit.verdict = records::UnitVerdict::pass;
      writer.begin_unit_result(unit);
    }
    if (random() % 8 == 0) {
      locked = !locked ? lock.exec(QStringLiteral("BEGIN EXCLUSIVE"))
                       : !lock.exec(QStringLiteral("ROLLBACK"));
    }
    records::RunRecord run = records::samples::full_record(records::new_run_id());
    run.outcome = records::Outcome::passed;
    run.started = records::samples::at(records::samples::kMorning + n * 1000LL);
    run.unit_result_id = unit.id;
    writer.begin_run(run);
    writer.save_progress(run.id, "Pass 1\r\n");
    std::this_thread::sleep_for(std::chrono::microseconds{random() % 2000});
    writer.complete_run(run);
    finished.push_back(run.id);
    if (n % 3 == 2) {
      writer.complete_unit_result(unit);
      units_finished.push_back(unit.id);
    }
    if (random() % 3 == 0) {
      writer.flush();
      for (const std::string& id : finished) std::printf("done %s\n", id.c_str());
      for (const std::string& id : units_finished) std::printf("unit %s\n", id.c_str());
      std::fflush(stdout);
      finished.clear();
      units_finished.clear();
    }
  }
}
