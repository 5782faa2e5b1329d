// The production records on the simulated bench: every procedure run from the station's windows
// leaves one record with its outcome and fields, a run cut off midway is found interrupted with
// its report so far, and the records window filters what was kept.
#include <gtest/gtest.h>
#include <algorithm>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../records/other_connection.h"
#include "app/unit_initialization.h"
#include "records/record_store.h"
#include "station/records_wiring.h"
#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace {

using records::Outcome;
using records::Procedure;
using records::RunRecord;

class RecordsWiringTest : public ::testing::Test, public testing_support::SimStation {
 public:
  RecordsWiringTest()
      : SimStation({.window_events = testing_support::run_qt_events,
                    .in_use = {"the suite's simulated chassis", true}}),
        windows(station, [this] { ++program_ends; }) {
    open_unit(station.units.uut, "VXI0::8::INSTR");
    open_unit(station.units.qcu, "VXI0::24::INSTR");
    windows.form().TestTechnicianName->setText("O'Brien; DROP TABLE runs");
    windows.form().TopSerialNumber->setText("TOP-77");
    wiring = std::make_unique<station::RecordsWiring>(
        station, windows, station::RecordsOptions{path(), "bench-1", "", ""});
  }

  void open_unit(driver::UnitRecord& unit, const char* resource) {
    unit.model_code = driver::kQuorModelCode;
    ASSERT_EQ(station.driver.quor_init(resource, 1, 0, unit.session), visa::VI_SUCCESS);
    unit.resource = resource;
  }

  std::string path() const { return folder.path().toStdString() + "/records.sqlite"; }

  std::vector<RunRecord> runs() {
    wiring->flush();
    records::RecordFilter all;
    all.include_simulated = true;
    return wiring->reader().query(all).value;
  }

  // Picks the module in the Initialize dialog's row `index` at the next yield; -1 closes it.
  void choose_at_next_yield(int index) {
    pump.then([this, index] {
      app::InitializeDialog* dialog = windows.form().unit_initialization().dialog();
      ASSERT_NE(dialog, nullptr);
      if (index < 0) {
        dialog->close();
        return;
      }
      dialog->List_Of_Resources->setCurrentIndex(index);
      emit dialog->List_Of_Resources->activated(index);
    });
  }

  app::FrmTests& console() {
    if (windows.test_console().console() == nullptr) windows.form().mnuTest->trigger();
    return *windows.test_console().console();
  }

  QTemporaryDir folder;
  station::StationWindows windows;
  std::unique_ptr<station::RecordsWiring> wiring;
  int program_ends = 0;
};

// --- One record per run, with its outcome ---

struct RunCase {
  const char* name;
  std::function<void(RecordsWiringTest&)> run;
  Procedure procedure;
  Outcome outcome;
  int passes_run;
  int failures;
  std::function<void(const RunRecord&)> check = [](const RunRecord&) {};
};

void make_memory_unreadable(sim::SimModule& module) {
  module.fail_next(sim::VisaFunction::In16, visa::VI_ERROR_BERR, 100'000'000);
}

class EachRunTest : public RecordsWiringTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(EachRunTest, LeavesOneRecordWithItsOutcome) {
  GetParam().run(*this);
  const std::vector<RunRecord> kept = runs();
  ASSERT_EQ(kept.size(), 1U);
  const RunRecord& run = kept[0];
  EXPECT_EQ(run.procedure, GetParam().procedure);
  EXPECT_EQ(run.outcome, GetParam().outcome);
  EXPECT_EQ(run.passes_run, GetParam().passes_run);
  EXPECT_EQ(run.failures, GetParam().failures);
  EXPECT_TRUE(run.ended.has_value());
  EXPECT_EQ(run.station_id, "bench-1");
  EXPECT_EQ(run.technician, "O'Brien; DROP TABLE runs") << "stored as the text it is";
  EXPECT_EQ(run.top_serial, "TOP-77");
  EXPECT_TRUE(run.sub_serial.empty());
  EXPECT_TRUE(run.simulated);
  EXPECT_EQ(run.visa_library, "the suite's simulated chassis");
  EXPECT_FALSE(run.program_version.empty());
  GetParam().check(run);
}

void expect_two_units(const RunRecord& run) {
  EXPECT_EQ(run.uut.serial, "SIM-LA008") << run.uut.reply;
  EXPECT_EQ(run.uut_resource, "VXI0::8::INSTR");
  EXPECT_EQ(run.qcu_resource, "VXI0::24::INSTR");
  EXPECT_EQ(run.report.rfind("Quor Bus--Recm", 0), 0U) << "the results window's report";
}

INSTANTIATE_TEST_SUITE_P(
    OnTheBench, EachRunTest,
    ::testing::Values(
        RunCase{"RecmHealthy", [](RecordsWiringTest& bench) { bench.console().cmdRecM->click(); },
                Procedure::recm, Outcome::passed, 50, 0,
                [](const RunRecord& run) {
                  expect_two_units(run);
                  EXPECT_NE(run.report.find("\r\n"), std::string::npos) << "CR LF kept";
                  EXPECT_EQ(run.report.substr(run.report.size() - 13), "\r\nUnit Passes");
                  EXPECT_TRUE(run.last_errors.empty());
                }},
        RunCase{"RecmNothingReceived",
                [](RecordsWiringTest& bench) {
                  bench.chassis.module_at(8)->set_route_dead(sim::Route::Unpr);
                  bench.console().cmdRecM->click();
                },
                Procedure::recm, Outcome::failed, 50, 50, expect_two_units},
        RunCase{"RecStopTest",
                [](RecordsWiringTest& bench) {
                  bench.pump.at_yield(9, [&bench] { bench.console().cmdStop->click(); });
                  bench.console().cmdRec->click();
                },
                Procedure::rec, Outcome::stopped, 3, 0},
        RunCase{"TrnsrecmFailureLimit",
                [](RecordsWiringTest& bench) {
                  make_memory_unreadable(*bench.chassis.module_at(24));
                  bench.console().cmdTrnsrecm->click();
                },
                Procedure::trnsrecm, Outcome::failure_limit, 5, 5},
        RunCase{"SelfTestPassed",
                [](RecordsWiringTest& bench) { bench.windows.form().TestButton[3]->click(); },
                Procedure::self_test, Outcome::passed, 0, 0,
                [](const RunRecord& run) {
                  EXPECT_EQ(run.self_test_result, 0);
                  EXPECT_EQ(run.report, "Self Test Passed");
                  EXPECT_TRUE(run.qcu_resource.empty()) << "one-unit procedure";
                }},
        RunCase{"SelfTestFault",
                [](RecordsWiringTest& bench) {
                  bench.chassis.module_at(8)->set_self_test_result(3);
                  bench.windows.form().TestButton[3]->click();
                },
                Procedure::self_test, Outcome::failed, 0, 0,
                [](const RunRecord& run) { EXPECT_EQ(run.self_test_result, 3); }},
        RunCase{"MemoryTestPassed",
                [](RecordsWiringTest& bench) { bench.windows.form().TestButton[2]->click(); },
                Procedure::memory_test, Outcome::passed, 0, 0,
                [](const RunRecord& run) { EXPECT_EQ(run.memory_miscompares, 0); }},
        RunCase{"MemoryTestUnreadable",
                [](RecordsWiringTest& bench) {
                  bench.chassis.module_at(8)->fail_next(sim::VisaFunction::MoveIn16,
                                                        visa::VI_ERROR_BERR, 1);
                  bench.windows.form().TestButton[2]->click();
                },
                Procedure::memory_test, Outcome::failed, 0, 0,
                [](const RunRecord& run) {
                  ASSERT_TRUE(run.memory_miscompares.has_value());
                  EXPECT_GT(*run.memory_miscompares, 0);
                  ASSERT_FALSE(run.last_errors.empty());
                  EXPECT_EQ(run.last_errors[0].rfind("Reading data from Quor Bus RAM\n", 0), 0U);
                  EXPECT_NE(run.last_errors[0].back(), ' ') << "padding trimmed";
                }},
        RunCase{"CalibrationComplete",
                [](RecordsWiringTest& bench) {
                  bench.pump.at_yield(3, [&bench] { bench.windows.form().CalUp->click(); });
                  bench.pump.at_yield(5, [&bench] { bench.windows.form().CalGood->click(); });
                  bench.windows.form().TestButton[0]->click();
                },
                Procedure::output_calibration, Outcome::passed, 0, 0,
                [](const RunRecord& run) {
                  EXPECT_EQ(run.cal_constant_read, 1.0);
                  EXPECT_EQ(run.cal_constant_sent, 1.1) << "as the command wrote it";
                }},
        RunCase{"CalibrationAbort",
                [](RecordsWiringTest& bench) {
                  bench.pump.at_yield(2, [&bench] { bench.windows.form().Abort->click(); });
                  bench.windows.form().TestButton[0]->click();
                },
                Procedure::output_calibration, Outcome::aborted, 0, 0},
        RunCase{"InitializeUut",
                [](RecordsWiringTest& bench) {
                  bench.choose_at_next_yield(0);
                  bench.windows.form().Init_UUT->trigger();
                },
                Procedure::initialize_uut, Outcome::passed, 0, 0,
                [](const RunRecord& run) {
                  EXPECT_EQ(run.uut.reply, "ARDENVALE,QUOR BUS SIMULATED,SIM-LA008,1.00\n")
                      << "as received";
                  EXPECT_EQ(run.uut.firmware, "1.00");
                  EXPECT_EQ(run.uut.maker, "ARDENVALE");
                  EXPECT_EQ(run.uut_resource, "VXI0::8::INSTR");
                  EXPECT_TRUE(run.last_errors.empty());
                }},
        RunCase{"InitializeQaClosedWithoutAChoice",
                [](RecordsWiringTest& bench) {
                  bench.choose_at_next_yield(-1);
                  bench.windows.form().Init_QA->trigger();
                },
                Procedure::initialize_qcu, Outcome::aborted, 0, 0},
        RunCase{"InitializeAll",
                [](RecordsWiringTest& bench) {
                  bench.choose_at_next_yield(0);
                  bench.choose_at_next_yield(1);
                  bench.windows.form().Init_ALL->trigger();
                },
                Procedure::initialize_all, Outcome::passed, 0, 0,
                [](const RunRecord& run) {
                  EXPECT_EQ(run.uut_resource, "VXI0::8::INSTR");
                  EXPECT_EQ(run.qcu_resource, "VXI0::24::INSTR");
                }},
        RunCase{"LoadNonVol",
                [](RecordsWiringTest& bench) { bench.windows.form().mnuNonVol->trigger(); },
                Procedure::load_non_vol, Outcome::passed, 0, 0,
                [](const RunRecord& run) {
                  EXPECT_EQ(run.non_vol_address, 8);
                  EXPECT_EQ(run.uut_resource, "VXI0::8::INSTR");
                }},
        RunCase{"LoadNonVolNoNumber",
                [](RecordsWiringTest& bench) {
                  bench.person.answers.push_back(std::string("eight"));
                  bench.windows.form().mnuNonVol->trigger();
                  EXPECT_EQ(bench.program_ends, 1);
                },
                Procedure::load_non_vol, Outcome::failed, 0, 0}),
    [](const ::testing::TestParamInfo<RunCase>& row) { return std::string(row.param.name); });

TEST_F(RecordsWiringTest, AProcedureRefusedWhileAnotherRunsIsRecordedAsRefused) {
  pump.at_yield(2, [this] { windows.form().TestButton[3]->click(); });
  pump.at_yield(4, [this] { windows.form().CalGood->click(); });
  windows.form().TestButton[0]->click();
  const std::vector<RunRecord> kept = runs();
  ASSERT_EQ(kept.size(), 2U);
  const RunRecord& refused = kept[0].procedure == Procedure::self_test ? kept[0] : kept[1];
  const RunRecord& calibration = kept[0].procedure == Procedure::self_test ? kept[1] : kept[0];
  EXPECT_EQ(refused.outcome, Outcome::refused);
  EXPECT_EQ(refused.report,
            "Calibrate Outputs is running. End it with Cal Complete or Abort before starting "
            "Self Test.");
  EXPECT_FALSE(refused.self_test_result.has_value()) << "it never ran";
  EXPECT_EQ(calibration.outcome, Outcome::passed);
}

TEST_F(RecordsWiringTest, AProcedureOnAUnitNotInitializedIsRecordedAsRefusedWithWhatToRun) {
  station.driver.quor_close(station.units.uut.session);
  station.units.uut.session = 0;
  windows.form().TestButton[3]->click();
  const std::vector<RunRecord> kept = runs();
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(kept[0].procedure, Procedure::self_test);
  EXPECT_EQ(kept[0].outcome, Outcome::refused);
  EXPECT_EQ(kept[0].report,
            "No UUT has been initialized. Run Initialize UUT before starting Self Test.");
  EXPECT_FALSE(kept[0].self_test_result.has_value()) << "it never ran";
  EXPECT_EQ(person.texts(), std::vector<std::string>{kept[0].report});
}

TEST_F(RecordsWiringTest, TheRunningRecordIsWrittenAtTheStartAndItsReportWhileItRuns) {
  std::vector<RunRecord> seen_running;
  std::string saved_report;
  pump.at_yield(30, [this, &seen_running, &saved_report] {
    seen_running = runs();
    wiring->save_progress();
    saved_report = runs().at(0).report;
  });
  console().cmdRecM->click();
  ASSERT_EQ(seen_running.size(), 1U);
  EXPECT_EQ(seen_running[0].outcome, Outcome::running);
  EXPECT_EQ(seen_running[0].report, "") << "the header was not written yet at the first save";
  EXPECT_EQ(saved_report.rfind("Quor Bus--Recm", 0), 0U);
  EXPECT_EQ(runs().at(0).outcome, Outcome::passed);
}

TEST_F(RecordsWiringTest, ARunCutOffMidwayIsInterruptedAtTheNextStartWithItsReportSoFar) {
  const std::string copy = folder.path().toStdString() + "/copy.sqlite";
  std::string partial;
  // The file as a power cut would leave it: copied while the run goes on, after a save.
  pump.at_yield(200, [&] {
    wiring->save_progress();
    wiring->flush();
    partial = windows.test_console().results().report_text();
    for (const char* suffix : {"", "-wal"}) {
      std::filesystem::copy_file(path() + suffix, copy + suffix);
    }
  });
  console().cmdRecM->click();
  ASSERT_FALSE(partial.empty());

  records::RecordStore next_start(copy);
  ASSERT_TRUE(next_start.open());
  records::RecordFilter all;
  all.include_simulated = true;
  const std::vector<RunRecord> kept = next_start.query(all).value;
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(kept[0].outcome, Outcome::interrupted);
  EXPECT_EQ(kept[0].report, partial);
  EXPECT_FALSE(kept[0].ended.has_value());
}

// A unit's final test, as its runner tells the wiring's observer: one unit result, running from
// its start, completed with the verdict; each step's run linked to it and carrying the serials
// and technician entered for the unit; a run after it on its own again. The time left reads the
// station's passed runs.
TEST_F(RecordsWiringTest, AFinalTestIsOneUnitResultLinkingTheRunsOfItsSteps) {
  EXPECT_EQ(wiring->expected_duration()(Procedure::self_test), std::nullopt) << "no run yet";
  procedures::FinalTestResult test;
  test.unit = {"TOP-1", "SUB-1", "A. Marsh", "VXI0::8::INSTR", "VXI0::24::INSTR"};
  test.uut_identity = "ARDENVALE,QUOR BUS SIMULATED,SIM-LA008,1.00\n";
  test.sequence = {"default", {Procedure::self_test, Procedure::memory_test}};
  wiring->unit_results().unit_started(test);
  ASSERT_TRUE(wiring->unit_results().open());
  const std::string id = wiring->unit_results().open()->id;
  wiring->flush();
  const auto begun = wiring->reader().find_unit_result(id).value;
  ASSERT_TRUE(begun);
  EXPECT_EQ(begun->verdict, records::UnitVerdict::running);

  chassis.module_at(8)->fail_next(sim::VisaFunction::MoveIn16, visa::VI_ERROR_BERR, 1);
  windows.form().TestButton[3]->click();
  windows.form().TestButton[2]->click();
  test.steps.resize(2);
  test.steps[0].kind = Procedure::self_test;
  test.steps[0].state = procedures::StepState::passed;
  test.steps[1].kind = Procedure::memory_test;
  test.steps[1].state = procedures::StepState::failed;
  test.steps[1].finding = std::string("Miscompare at 0x0000\0", 21);
  test.verdict = {procedures::Verdict::fail, 1, test.steps[1].finding};
  test.finished = true;
  wiring->unit_results().unit_ended(test);
  EXPECT_FALSE(wiring->unit_results().open());
  windows.form().TestButton[3]->click();

  // Runs started within one millisecond have no order of their own: each is found by what it is.
  const std::vector<RunRecord> kept = runs();
  ASSERT_EQ(kept.size(), 3U);
  const auto find = [&kept](Procedure procedure, bool linked) {
    const auto at = std::find_if(kept.begin(), kept.end(), [&](const RunRecord& run) {
      return run.procedure == procedure && run.unit_result_id.empty() != linked;
    });
    return at == kept.end() ? RunRecord{} : *at;
  };
  const RunRecord alone = find(Procedure::self_test, false);
  const RunRecord self_test = find(Procedure::self_test, true);
  const RunRecord memory_test = find(Procedure::memory_test, true);
  EXPECT_EQ(alone.top_serial, "TOP-77") << "after the unit, a run on its own: the window's fields";
  for (const RunRecord& step : {self_test, memory_test}) {
    EXPECT_EQ(step.unit_result_id, id) << records::text_id(step.procedure);
    EXPECT_EQ(step.top_serial, "TOP-1");
    EXPECT_EQ(step.sub_serial, "SUB-1");
    EXPECT_EQ(step.technician, "A. Marsh");
  }
  EXPECT_EQ(memory_test.outcome, Outcome::failed);
  const auto unit = wiring->reader().find_unit_result(id).value;
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->verdict, records::UnitVerdict::fail);
  EXPECT_EQ(unit->deciding_step, 1);
  EXPECT_EQ(unit->deciding_procedure, Procedure::memory_test);
  EXPECT_EQ(unit->finding, "Miscompare at 0x0000\u2400") << "a module's bytes as record text";
  EXPECT_EQ(unit->uut.serial, "SIM-LA008");
  EXPECT_EQ(unit->station_id, "bench-1");
  EXPECT_EQ(unit->sequence, "default");
  EXPECT_TRUE(unit->simulated);
  ASSERT_TRUE(unit->ended.has_value());
  ASSERT_TRUE(memory_test.ended.has_value());
  EXPECT_GE(*unit->ended, memory_test.started);

  const auto typical = wiring->expected_duration()(Procedure::self_test);
  ASSERT_TRUE(typical.has_value()) << "two self tests passed";
  ASSERT_TRUE(self_test.ended.has_value() && alone.ended.has_value());
  const long long first = (*self_test.ended - self_test.started).count();
  const long long last = (*alone.ended - alone.started).count();
  EXPECT_EQ(typical->count(), (first + last + 1) / 2) << "their average, rounded";
  EXPECT_EQ(wiring->expected_duration()(Procedure::memory_test), std::nullopt) << "none passed";
}

TEST_F(RecordsWiringTest, AStoreThatCannotBeWrittenIsNamedOnTheStatusLineAndCatchesUpLater) {
  wiring.reset();
  const std::string blocked = folder.path().toStdString() + "/not-a-folder";
  ASSERT_TRUE(QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly));
  wiring = std::make_unique<station::RecordsWiring>(
      station, windows, station::RecordsOptions{blocked + "/records.sqlite", "", "", ""});
  EXPECT_TRUE(windows.form().recordsStatusLabel->isVisibleTo(&windows.form()));
  windows.form().TestButton[3]->click();
  wiring->flush();
  const std::string status = windows.form().recordsStatusLabel->text().toStdString();
  EXPECT_EQ(status, "Records not kept: the record file cannot be opened (1 in memory)");
  const std::string details = windows.form().recordsStatusLabel->toolTip().toStdString();
  EXPECT_NE(details.find(blocked + "/records.sqlite"), std::string::npos) << details;
  EXPECT_EQ(person.texts().size(), 1U) << "the test itself went on";

  // The folder can be made now: the waiting run is written at the next retry.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(blocked)));
  wiring->retry();
  wiring->flush();
  EXPECT_FALSE(windows.form().recordsStatusLabel->isVisibleTo(&windows.form()));
  const std::vector<RunRecord> kept = runs();
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(kept[0].outcome, Outcome::passed);
  EXPECT_EQ(kept[0].procedure, Procedure::self_test);
}

TEST_F(RecordsWiringTest, NoRecordFileNamedKeepsNoRecordsAndSaysSo) {
  wiring.reset();
  wiring = std::make_unique<station::RecordsWiring>(station, windows, station::RecordsOptions{});
  windows.form().TestButton[3]->click();
  wiring->flush();
  EXPECT_EQ(windows.form().recordsStatusLabel->text().toStdString(),
            "Records not kept: the record file cannot be opened (1 in memory)");
  EXPECT_FALSE(wiring->writer().state().keeping_records);
}

// Another program holds the record file's lock while a run ends: the status line says the run
// waits in the journal; the window's close writes it once the lock is gone.
TEST_F(RecordsWiringTest, TheWindowsCloseWritesTheRunsThatWaitInTheJournal) {
  auto other = std::make_unique<records::OtherConnection>(path());
  ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE"));
  ASSERT_TRUE(other->exec("DELETE FROM runs WHERE id = 'none'"));
  windows.form().TestButton[3]->click();
  wiring->flush();
  EXPECT_EQ(windows.form().recordsStatusLabel->text().toStdString(),
            "Records not kept: the record file is locked by another program (1 in the journal)");
  other.reset();
  windows.form().close();
  EXPECT_FALSE(windows.form().recordsStatusLabel->isVisibleTo(&windows.form()))
      << windows.form().recordsStatusLabel->text().toStdString();
  const std::vector<RunRecord> kept = runs();
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(kept[0].procedure, Procedure::self_test);
  EXPECT_EQ(kept[0].outcome, Outcome::passed);
}

// --- The records window ---

TEST_F(RecordsWiringTest, TheRecordsMenuItemOpensTheWindowModelessOverTheKeptRuns) {
  EXPECT_TRUE(windows.form().mnuRecords->isEnabled());
  windows.form().TestButton[3]->click();
  wiring->flush();
  windows.form().mnuRecords->trigger();
  app::RecordsWindow* window = wiring->window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  ASSERT_TRUE(window->wait_for_reads());
  EXPECT_EQ(window->model().rowCount(), 0) << "simulated runs are left out by default";
  window->chkSimulated->setChecked(true);
  ASSERT_TRUE(window->wait_for_reads());
  ASSERT_EQ(window->model().rowCount(), 1);
  EXPECT_EQ(window->model().index(0, app::RunListModel::Simulated).data().toString(), "SIMULATED");
  EXPECT_TRUE(window->lblSimulated->isVisibleTo(window));
  ASSERT_TRUE(window->selected().has_value());
  EXPECT_EQ(window->txtReport->toPlainText(), "Self Test Passed");
  window->print_selected();
  EXPECT_EQ(person.printed, std::vector<std::string>{"Self Test Passed"});
}

}  // namespace

namespace {

// A store of runs made up for the window: two units, two technicians, a few days.
class RecordsWindowTest : public ::testing::Test {
 public:
  RecordsWindowTest() : store(folder.path().toStdString() + "/window.sqlite") {
    EXPECT_TRUE(store.open());
    std::vector<RunRecord> made;
    const auto run = [&](int n, const char* serial, const char* technician, Outcome outcome,
                         bool simulated, int day) {
      RunRecord r;
      r.id = "run-" + std::to_string(n);
      r.station_id = "bench-1";
      r.started = *records::parse_utc_date("2026-12-0" + std::to_string(day)) +
                  std::chrono::hours{12} + std::chrono::minutes{n};
      r.ended = r.started + std::chrono::seconds{30};
      r.procedure = n % 2 ? Procedure::self_test : Procedure::rec;
      r.outcome = outcome;
      r.uut = records::identify(std::string("QUOR,QB-1,") + serial + ",1.0");
      r.technician = technician;
      r.simulated = simulated;
      r.report = "report " + std::to_string(n) + "\r\n";
      made.push_back(r);
    };
    run(1, "QB100", "A. Marsh", Outcome::failed, false, 1);  // self test, QB100 fails first
    run(3, "QB100", "A. Marsh", Outcome::passed, false, 2);  // ... and passes later
    run(2, "QB100", "A. Marsh", Outcome::passed, false, 2);  // rec
    run(5, "QB200", "D. Okafor", Outcome::passed, false, 3);
    run(7, "QB200", "D. Okafor", Outcome::stopped, false, 4);
    run(9, "SIM-LA008", "D. Okafor", Outcome::passed, true, 4);
    EXPECT_TRUE(store.import_runs(made));
  }

  QTemporaryDir folder;
  records::RecordStore store;
  testing_support::ScriptedOperator person;
};

struct FilterCase {
  const char* name;
  std::function<void(app::RecordsWindow&)> set;
  std::vector<std::string> ids;  // newest first
  std::string summary;
};

class WindowFilterTest : public RecordsWindowTest,
                         public ::testing::WithParamInterface<FilterCase> {};

TEST_P(WindowFilterTest, ListsTheRunsTheControlsSelectNewestFirst) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  GetParam().set(window);
  window.apply_filter();
  ASSERT_TRUE(window.wait_for_reads());
  std::vector<std::string> ids;
  for (const RunRecord& run : window.model().runs()) ids.push_back(run.id);
  EXPECT_EQ(ids, GetParam().ids);
  EXPECT_EQ(window.lblSummary->text().toStdString(), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, WindowFilterTest,
    ::testing::Values(FilterCase{"Default",
                                 [](app::RecordsWindow&) {},
                                 {"run-7", "run-5", "run-3", "run-2", "run-1"},
                                 "3 of 5 runs passed; first-pass yield 66.7% over 3 first runs"},
                      FilterCase{"IncludeSimulated",
                                 [](app::RecordsWindow& w) { w.chkSimulated->setChecked(true); },
                                 {"run-9", "run-7", "run-5", "run-3", "run-2", "run-1"},
                                 "4 of 6 runs passed; first-pass yield 75% over 4 first runs"},
                      FilterCase{"TechnicianText",
                                 [](app::RecordsWindow& w) { w.txtFilter->setText("marsh"); },
                                 {"run-3", "run-2", "run-1"},
                                 "2 of 3 runs passed; first-pass yield 50% over 2 first runs"},
                      FilterCase{"SerialText",
                                 [](app::RecordsWindow& w) { w.txtFilter->setText("qb2"); },
                                 {"run-7", "run-5"},
                                 "1 of 2 runs passed; first-pass yield 100% over 1 first run"},
                      // QB100's pass (run-3) is a retest: its first Self Test failed.
                      FilterCase{"ProcedureAndOutcome",
                                 [](app::RecordsWindow& w) {
                                   w.cboProcedure->setCurrentText("Self Test");
                                   w.cboOutcome->setCurrentText("passed");
                                 },
                                 {"run-5", "run-3"},
                                 "2 of 2 runs passed; first-pass yield 100% over 1 unit"},
                      FilterCase{"DateRange",
                                 [](app::RecordsWindow& w) {
                                   w.chkFrom->setChecked(true);
                                   w.dtFrom->setDate(QDate(2026, 12, 2));
                                   w.chkTo->setChecked(true);
                                   w.dtTo->setDate(QDate(2026, 12, 3));
                                 },
                                 {"run-5", "run-3", "run-2"},
                                 "3 of 3 runs passed; first-pass yield 100% over 2 first runs"},
                      FilterCase{"NothingMatches",
                                 [](app::RecordsWindow& w) { w.txtFilter->setText("'; --"); },
                                 {},
                                 "No runs"}),
    [](const ::testing::TestParamInfo<FilterCase>& row) { return std::string(row.param.name); });

TEST_F(RecordsWindowTest, ExportsTheFilteredRunsOfEveryPage) {
  app::RecordsWindow window(store, person);
  window.txtFilter->setText("okafor");
  window.apply_filter();
  const std::string file = folder.path().toStdString() + "/okafor.csv";
  std::size_t count = 0;
  EXPECT_EQ(window.export_to(file, &count), "");
  EXPECT_EQ(count, 2U);
  QFile written(QString::fromStdString(file));
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(written.readAll());
  EXPECT_TRUE(text.contains("\"run-7\"") && text.contains("\"run-5\""));
  EXPECT_FALSE(text.contains("\"run-9\"")) << "simulated runs stay out unless included";
  EXPECT_TRUE(text.contains("\"report 7\r\n\"")) << "line ends kept inside the quotes";
}

TEST_F(RecordsWindowTest, PagesThroughMoreRunsThanAPageHolds) {
  std::vector<RunRecord> many;
  for (int n = 0; n < int(app::RecordsWindow::kPageSize) + 5; ++n) {
    RunRecord r;
    r.id = "many-" + std::to_string(1000 + n);
    r.started = records::TimePoint{std::chrono::milliseconds{1'800'000'000'000LL + n}};
    r.outcome = Outcome::passed;
    many.push_back(r);
  }
  ASSERT_TRUE(store.import_runs(many));
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_EQ(window.model().rowCount(), int(app::RecordsWindow::kPageSize));
  EXPECT_FALSE(window.cmdNewer->isEnabled());
  window.cmdOlder->click();
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_EQ(window.model().rowCount(), 10);  // 5 of the many and the five made above
  EXPECT_EQ(window.lblPage->text().toStdString(), "Runs 201 - 210 of 210");
  EXPECT_FALSE(window.cmdOlder->isEnabled());
}

// Holds every read of a window's reader until opened, as a server that does not answer holds
// it; shared with the reader's thread, which may outlive the test's scope.
struct ReadGate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  std::atomic<int> pages{0};
  std::atomic<int> runs{0};

  static std::shared_ptr<ReadGate> hold(app::RecordsWindow& window) {
    auto gate = std::make_shared<ReadGate>();
    window.reader().set_read_hook([gate](records::ReadKind kind) {
      if (kind == records::ReadKind::page) ++gate->pages;
      if (kind == records::ReadKind::run) ++gate->runs;
      std::unique_lock lock(gate->mutex);
      gate->opened.wait(lock, [&] { return gate->open; });
    });
    return gate;
  }
  void release() {
    {
      std::lock_guard lock(mutex);
      open = true;
    }
    opened.notify_all();
  }
};

// Opens the gate when the test ends, however it ends.
struct Release {
  std::shared_ptr<ReadGate> gate;
  ~Release() { gate->release(); }
};

TEST_F(RecordsWindowTest, AHungReadLeavesTheWindowTurningAndABurstOfRefreshesSharesTwoReads) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  ASSERT_EQ(window.model().rowCount(), 5);
  const std::shared_ptr<ReadGate> gate = ReadGate::hold(window);
  const Release release{gate};

  window.txtFilter->setText("okafor");
  window.apply_filter();
  EXPECT_EQ(window.lblSummary->text().toStdString(), app::window_text::kReading);
  RunRecord later;
  later.id = "run-later";
  later.station_id = "bench-1";
  later.started = *records::parse_utc_date("2026-12-05");
  later.outcome = Outcome::passed;
  later.technician = "D. Okafor";
  ASSERT_TRUE(store.complete_run(later));
  // Runs end one after another while the read hangs; each end asks for a refresh.
  for (int n = 0; n < 50; ++n) window.refresh();

  // The window's own timer keeps firing while the read hangs, and the summary line comes to say
  // that the store does not answer.
  int ticks = 0;
  QTimer tick;
  tick.setInterval(10);
  QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
  tick.start();
  const std::string silent =
      std::string(app::window_text::kReading) + " " + app::window_text::kFileSilent + " (";
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds{20};
  while (window.lblSummary->text().toStdString().rfind(silent, 0) != 0 &&
         std::chrono::steady_clock::now() < give_up) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds{5});
  }
  EXPECT_EQ(window.lblSummary->text().toStdString().rfind(silent, 0), 0U)
      << window.lblSummary->text().toStdString();
  EXPECT_GE(ticks, 100) << "the window's events went on";
  EXPECT_TRUE(window.reading());
  EXPECT_EQ(window.model().rowCount(), 5) << "the list shown stays until the read comes";

  gate->release();
  ASSERT_TRUE(window.wait_for_reads());
  std::vector<std::string> ids;
  for (const RunRecord& run : window.model().runs()) ids.push_back(run.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"run-later", "run-7", "run-5"}));
  EXPECT_EQ(window.lblSummary->text().toStdString().rfind("2 of 3 runs passed", 0), 0U)
      << window.lblSummary->text().toStdString();
  EXPECT_GE(gate->pages.load(), 1);
  EXPECT_LE(gate->pages.load(), 2) << "one read running, one waiting for the 50 refreshes";
  ASSERT_TRUE(window.selected().has_value());
  EXPECT_EQ(window.selected()->id, "run-later");
  EXPECT_LE(gate->runs.load(), 2) << "the run shown, read again after the refresh";

  // A refresh keeps the run chosen in the list when the page still holds it.
  window.select_row(2);
  window.refresh();
  ASSERT_TRUE(window.wait_for_reads());
  ASSERT_TRUE(window.selected().has_value());
  EXPECT_EQ(window.selected()->id, "run-5");
  EXPECT_EQ(window.txtReport->toPlainText().toStdString(), "report 5\n");
}

TEST_F(RecordsWindowTest, ClosingTheWindowLeavesAHungReadBehind) {
  auto window = std::make_unique<app::RecordsWindow>(store, person);
  ASSERT_TRUE(window->wait_for_reads());
  const std::shared_ptr<ReadGate> gate = ReadGate::hold(*window);
  const Release release{gate};
  window->refresh();
  while (!window->reader().busy_for()) std::this_thread::sleep_for(std::chrono::milliseconds{1});
  // Were the close to wait for the read, it would never end: the gate is still shut.
  window.reset();
  EXPECT_EQ(gate->pages.load(), 1);
  // The read left behind ends on its own once it returns, delivering nothing.
  gate->release();
  std::this_thread::sleep_for(std::chrono::milliseconds{50});
  QCoreApplication::processEvents();
}

TEST_F(RecordsWindowTest, TheListReadsNoReportAndCutsLongTextsTheSelectedRunIsReadWhole) {
  RunRecord huge;
  huge.id = "run-huge";
  huge.station_id = std::string(records::kListTextLimit + 1, 'S');
  huge.started = *records::parse_utc_date("2026-12-06");
  huge.outcome = Outcome::failed;
  huge.technician = std::string(1'000'000, 't');
  huge.report = "Miscompare\r\n";
  ASSERT_TRUE(store.import_runs({huge}));
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  ASSERT_EQ(window.model().rowCount(), 6);
  for (const RunRecord& run : window.model().runs()) EXPECT_EQ(run.report, "") << run.id;
  const RunRecord& listed = window.model().runs().front();
  ASSERT_EQ(listed.id, "run-huge");
  EXPECT_EQ(listed.technician, std::string(records::kListTextLimit, 't'));
  EXPECT_EQ(listed.station_id, std::string(records::kListTextLimit, 'S'));
  // The station box offers ids it can show whole only.
  ASSERT_EQ(window.cboStation->count(), 2);
  EXPECT_EQ(window.cboStation->itemText(1).toStdString(), "bench-1");

  ASSERT_TRUE(window.selected().has_value());
  EXPECT_EQ(window.selected()->technician.size(), 1'000'000U);
  EXPECT_EQ(window.txtReport->toPlainText().toStdString(), "Miscompare\n");
  const std::string fields = window.txtFields->toPlainText().toStdString();
  EXPECT_NE(fields.find("Technician: " + std::string(app::kShownFieldLimit, 't') +
                        " ... (999,000 bytes more)\n"),
            std::string::npos);
  window.print_selected();
  EXPECT_EQ(person.printed, std::vector<std::string>{"Miscompare\r\n"});
}

}  // namespace

namespace {

// A station that forwards to a line's shared store (an SQLite file stands in for the server).
class ForwardingWiringTest : public RecordsWiringTest {
 public:
  void forward_to(const std::string& shared) {
    wiring.reset();
    wiring = std::make_unique<station::RecordsWiring>(
        station, windows,
        station::RecordsOptions{path(), "bench-1", shared, "the line's store " + shared});
  }
  std::string records_line() {
    return windows.form().recordsStatusLabel->isVisibleTo(&windows.form())
               ? windows.form().recordsStatusLabel->text().toStdString()
               : std::string();
  }
};

TEST_F(ForwardingWiringTest, ARunReachesTheSharedStoreAndTheWindowShowsIt) {
  const std::string shared = folder.path().toStdString() + "/line.sqlite";
  forward_to(shared);
  windows.form().TestButton[3]->click();
  wiring->flush();
  ASSERT_NE(wiring->forwarder(), nullptr);
  ASSERT_TRUE(wiring->forwarder()->wait_until_forwarded(std::chrono::seconds{30}))
      << wiring->forwarder()->state().reason;
  wiring->update_status();
  EXPECT_EQ(records_line(), "");

  windows.form().mnuRecords->trigger();
  app::RecordsWindow* window = wiring->window();
  ASSERT_NE(window, nullptr);
  window->chkSimulated->setChecked(true);
  ASSERT_TRUE(window->wait_for_reads());
  ASSERT_EQ(window->model().rowCount(), 1) << "the window reads the shared store";
  EXPECT_EQ(window->model().runs().at(0).procedure, Procedure::self_test);
  EXPECT_EQ(window->model().runs().at(0).station_id, "bench-1");
}

TEST_F(ForwardingWiringTest, RunsWaitingForTheServerAreCountedOnTheStatusLine) {
  const std::string blocked = folder.path().toStdString() + "/not-a-folder";
  ASSERT_TRUE(QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly));
  forward_to(blocked + "/line.sqlite");
  windows.form().TestButton[3]->click();
  windows.form().TestButton[3]->click();
  wiring->flush();
  ASSERT_FALSE(wiring->forwarder()->wait_until_forwarded(std::chrono::milliseconds{300}));
  wiring->update_status();
  const std::string line = records_line();
  EXPECT_EQ(line.rfind("2 runs wait for the records server since ", 0), 0U) << line;
  EXPECT_NE(line.find(": the record file cannot be opened"), std::string::npos) << line;
  const std::string details = windows.form().recordsStatusLabel->toolTip().toStdString();
  EXPECT_NE(details.find("the line's store " + blocked), std::string::npos) << details;
  records::RecordStore own_file(path(), records::OpenMode::reader);
  ASSERT_TRUE(own_file.open());
  records::RecordFilter all;
  all.include_simulated = true;
  EXPECT_EQ(own_file.query(all).value.size(), 2U)
      << "both runs are kept in the station's own file meanwhile";
}

TEST_F(ForwardingWiringTest, ARunTheServerRefusesIsCountedOnTheStatusLineAndTheOthersGoOn) {
  const std::string blocked = folder.path().toStdString() + "/not-a-folder";
  ASSERT_TRUE(QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly));
  const std::string shared = blocked + "/line.sqlite";
  forward_to(shared);
  windows.form().TestButton[3]->click();
  windows.form().TestButton[3]->click();
  wiring->flush();
  ASSERT_FALSE(wiring->forwarder()->wait_until_forwarded(std::chrono::milliseconds{300}));
  // The line's store comes up holding the first run's id with other content.
  records::RecordFilter all;
  all.include_simulated = true;
  std::vector<records::RunRecord> runs;
  {
    records::RecordStore own_file(path(), records::OpenMode::reader);
    ASSERT_TRUE(own_file.open());
    runs = own_file.query(all).value;
  }
  ASSERT_EQ(runs.size(), 2U);
  records::RunRecord clash = runs.back();  // newest first: the first run is last
  clash.technician = "another station's";
  ASSERT_TRUE(QFile::remove(QString::fromStdString(blocked)));
  {
    records::RecordStore line(shared, records::OpenMode::shared);
    ASSERT_TRUE(line.open());
    ASSERT_TRUE(line.import_runs({clash}));
  }
  ASSERT_TRUE(wiring->forwarder()->wait_until_forwarded(std::chrono::seconds{30}))
      << wiring->forwarder()->state().reason;
  wiring->update_status();
  EXPECT_EQ(records_line(), "1 run set aside, refused by the records server.");
  const std::string details = windows.form().recordsStatusLabel->toolTip().toStdString();
  EXPECT_NE(details.find("the record file holds a run of that id with other content"),
            std::string::npos)
      << details;
  // The records window says so too.
  const app::RecordsWindow& window = wiring->show_window();
  EXPECT_TRUE(window.lblSetAside->isVisibleTo(&window));
  EXPECT_NE(window.lblSetAside->text().toStdString().find(
                "1 run set aside, refused by the records server: the record file holds a run of "
                "that id with other content"),
            std::string::npos)
      << window.lblSetAside->text().toStdString();
  records::RecordStore line(shared, records::OpenMode::reader);
  ASSERT_TRUE(line.open());
  EXPECT_EQ(line.find(runs.front().id).value, runs.front()) << "the run behind it arrived";
}

}  // namespace
