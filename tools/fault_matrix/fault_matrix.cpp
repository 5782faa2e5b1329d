#include "fault_matrix.h"

#include <QCoreApplication>
#include <memory>

#include "app/frm_tests.h"
#include "core/station.h"
#include "procedures/production_tests.h"
#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"
#include "visa/visa_call_trace.h"

namespace fault_matrix {
namespace {

using core::ProcedureKind;

// The bus tests' columns, named by their captions.
constexpr core::ProcedureKind kFunctional[] = {
    core::ProcedureKind::rec,       core::ProcedureKind::recm,       core::ProcedureKind::trnsrecm,
    core::ProcedureKind::trnorecm,  core::ProcedureKind::trndrecm,   core::ProcedureKind::trncrecm,
    core::ProcedureKind::self_loop, core::ProcedureKind::self_loop2, core::ProcedureKind::self_long,
    core::ProcedureKind::stamp,
};
const std::string kSelfTest(core::procedure_row(core::ProcedureKind::self_test).caption);
const std::string kMemoryTest(core::procedure_row(core::ProcedureKind::memory_test).caption);
// The main window's TestButton elements of the production tests.
constexpr int kMemoryTestButton = 2;
constexpr int kSelfTestButton = 3;

// Counts the VISA calls that failed, through the trace: a test may pass over a failed call.
struct ErrorCount final : visa::VisaCallSink {
  void record(const visa::VisaCall& call) override {
    if (call.status < visa::VI_SUCCESS) ++errors;
  }
  bool takes_register_runs() const override { return true; }
  int errors = 0;
};

// The whole station over a fresh standard bench on virtual time, both units opened.
struct Bench : testing_support::SimStation {
  explicit Bench(const sim::FaultRequest* fault)
      : SimStation({.window_events = testing_support::run_qt_events,
                    .in_use = {"fault matrix bench", true},
                    .traced = true}) {
    traced->set_sink(&errors);
    if (fault != nullptr) sim::apply_fault(chassis, *fault);
    windows = std::make_unique<station::StationWindows>(station, [] {});
    open_unit(station.units.uut, "VXI0::8::INSTR");
    open_unit(station.units.qcu, "VXI0::24::INSTR");
    errors.errors = 0;
  }

  // "passed", or "passed, 2 VISA errors" when calls failed without failing the test.
  Cell passed() {
    traced->flush();
    if (errors.errors == 0) return {true, "passed"};
    return {true, "passed, " + std::to_string(errors.errors) +
                      (errors.errors == 1 ? " VISA error" : " VISA errors")};
  }
  ~Bench() {
    windows.reset();
    QCoreApplication::processEvents();  // the windows Qt deletes later
  }

  void open_unit(driver::UnitRecord& unit, const char* resource) {
    unit.model_code = driver::kQuorModelCode;
    station.driver.quor_init(resource, 1, 0, unit.session);
  }

  // The boxes shown besides the ones every run shows.
  std::string first_unexpected_box(std::initializer_list<const char*> expected) const {
    for (const auto& box : person.shown) {
      bool known = false;
      for (const char* text : expected) known = known || box.text == text;
      if (!known) return box.text.substr(0, box.text.find_first_of("\r\n"));
    }
    return {};
  }

  ErrorCount errors;
  std::unique_ptr<station::StationWindows> windows;
};

Cell run_functional(const sim::FaultRequest* fault, core::ProcedureKind test) {
  Bench bench(fault);
  bench.windows->form().mnuTest->trigger();
  bench.windows->test_console().console()->button(test)->click();
  const core::RunFacts& facts = bench.station.run;
  const int count = facts.passes_run;
  const int failures = facts.failures;
  if (failures > 0) {
    return {false, "failed: " + std::to_string(failures) +
                       (failures == 1 ? " failure in " : " failures in ") + std::to_string(count) +
                       " passes"};
  }
  const std::string box = bench.first_unexpected_box({"Hit OK to Start Test!", "Test Completed!"});
  if (!box.empty()) return {false, "failed: " + box};
  if (bench.station.driver_state.last_error_text != "No Error") {
    return {false, "failed: " + bench.station.driver_state.last_error_text};
  }
  return bench.passed();
}

Cell run_production(const sim::FaultRequest* fault, int button, const char* passed_text) {
  Bench bench(fault);
  bench.windows->production_tests().on_test_button(button);
  const std::string result = bench.station.run.verdict;
  if (result != passed_text) return {false, "failed: " + result};
  const std::string box = bench.first_unexpected_box({procedures::production_text::kPressOk});
  if (!box.empty()) return {false, "failed: " + box};
  return bench.passed();
}

// "|" would end a Markdown cell.
std::string markdown_text(std::string text) {
  for (char& c : text) {
    if (c == '|') c = '/';
  }
  return text;
}

std::string csv_field(const std::string& text) {
  std::string field = "\"";
  for (char c : text) field += c == '"' ? std::string("\"\"") : std::string(1, c);
  return field + "\"";
}

}  // namespace

std::vector<std::string> test_names() {
  std::vector<std::string> names;
  for (const core::ProcedureKind test : kFunctional)
    names.emplace_back(core::procedure_row(test).caption);
  names.emplace_back(kSelfTest);
  names.emplace_back(kMemoryTest);
  return names;
}

Row run_row(const sim::FaultRequest* fault) {
  Row row;
  row.fault = fault == nullptr ? "healthy" : sim::fault_label(*fault);
  for (const core::ProcedureKind test : kFunctional)
    row.cells.push_back(run_functional(fault, test));
  row.cells.push_back(
      run_production(fault, kSelfTestButton, procedures::production_text::kSelfTestPassed));
  row.cells.push_back(
      run_production(fault, kMemoryTestButton, procedures::production_text::kMemoryTestPassed));
  return row;
}

std::vector<Row> run_matrix() {
  std::vector<Row> rows;
  rows.push_back(run_row(nullptr));
  for (const sim::FaultEntry& entry : sim::fault_catalogue()) {
    const sim::FaultRequest fault{&entry, sim::kDefaultFaultAddress};
    rows.push_back(run_row(&fault));
  }
  return rows;
}

std::string markdown(const std::vector<Row>& rows) {
  std::string text = "| fault |";
  std::string rule = "|---|";
  for (const std::string& name : test_names()) {
    text.append(" ").append(name).append(" |");
    rule.append("---|");
  }
  text.append("\n").append(rule).append("\n");
  for (const Row& row : rows) {
    text.append("| ").append(row.fault).append(" |");
    for (const Cell& cell : row.cells)
      text.append(" ").append(markdown_text(cell.detail)).append(" |");
    text.append("\n");
  }
  return text;
}

std::string csv(const std::vector<Row>& rows) {
  std::string text = csv_field("fault");
  for (const std::string& name : test_names()) text.append(",").append(csv_field(name));
  text.append("\r\n");
  for (const Row& row : rows) {
    text.append(csv_field(row.fault));
    for (const Cell& cell : row.cells) text.append(",").append(csv_field(cell.detail));
    text.append("\r\n");
  }
  return text;
}

std::span<const Catch> expected_catches() {
  static const std::vector<Catch> kCatches = {
      {"dead-input-1", {"REC", "RECM", "STAMP", "SELFLOOP"}},
      {"dead-input-2", {"SELFLOOP2"}},
      {"dead-output-1", {"TRNSRECM", "TRNORECM", "TRNDRECM", "TRNCRECM"}},
      {"dead-output-2", {"SELFLOOP"}},
      {"stuck-receive-bit", {"REC", "RECM"}},
      {"dropped-receive-bit", {"REC", "RECM"}},
      {"flipped-receive-bit", {"REC", "RECM"}},
      {"stuck-transmit-bit", {"TRNSRECM", "TRNORECM", "TRNDRECM", "TRNCRECM"}},
      {"flipped-transmit-bit", {"TRNSRECM", "TRNORECM", "TRNDRECM", "TRNCRECM"}},
      {"cut-output-cable", {"TRNSRECM", "TRNORECM", "TRNDRECM", "TRNCRECM"}},
      {"cut-input-cable", {"REC", "RECM", "STAMP"}},
      {"repeated-frame", {"TRNORECM"}},
      {"stamp-skew", {"STAMP"}},
      {"self-test-fail", {"Self Test"}},
      {"memory-bit-error", {"Memory Test"}},
      // A lone failed call is no test's target: the tests retry or go on, and the matrix shows
      // the failed calls beside "passed".
      {"visa-read-timeout", {}},
      {"visa-write-timeout", {}},
      // A bus error on a compare's read is a miscompare.
      {"visa-bus-error", {"REC", "RECM"}},
  };
  return kCatches;
}

}  // namespace fault_matrix
