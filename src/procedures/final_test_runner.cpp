// One unit's final test: the units initialized on the resources chosen, the serial checked, then
// each step run as its window runs it, with the cabling confirmed once for the steps that share
// it and the steps' own settled prompts answered.
#include <algorithm>
#include <cctype>
#include <deque>
#include <string>

#include "procedures/bus_test_texts.h"
#include "procedures/bus_tests.h"
#include "procedures/final_test.h"
#include "procedures/production_tests.h"
#include "procedures/unit_init.h"

namespace procedures {
namespace {

using Clock = std::chrono::steady_clock;

// The bus tests' view inside a final test: their progress goes to the final test's view; the
// console, the results window and the main window are not shown (the step's report is kept in
// its facts all the same).
class StepBusView final : public BusTestView {
 public:
  explicit StepBusView(FinalTestView& view) : view_(view) {}
  void set_step(std::size_t index) {
    index_ = index;
    maximum_ = 0;
  }

  void set_console_caption(const std::string& /*caption*/) override {}
  void show_console_line(const ConsoleLine& /*line*/) override {}
  void set_tests_running(bool /*running*/) override {}
  void send_main_window_back() override {}
  void open_report() override {}
  void report_done() override {}
  void set_report(const std::string& /*text*/) override {}
  void append_report(const std::string& /*text*/) override {}
  void set_progress_maximum(float maximum) override { maximum_ = maximum; }
  void set_progress_value(float value) override { view_.step_progress(index_, value, maximum_); }

 private:
  FinalTestView& view_;
  std::size_t index_ = 0;
  double maximum_ = 0;
};

// The selection window as the technician answers it: each list shown is answered with the next
// resource chosen, or closed without a choice when that resource is not among the modules found.
class ChosenSelection final : public SelectionView {
 public:
  void choose(UnitInitialization& init, std::deque<std::string> resources) {
    init_ = &init;
    resources_ = std::move(resources);
  }
  void open_selection(const std::string& /*caption*/) override {}
  void show_modules(const std::vector<std::string>& resources) override {
    if (init_ == nullptr) return;
    std::string wanted;
    if (!resources_.empty()) {
      wanted = std::move(resources_.front());
      resources_.pop_front();
    }
    if (!wanted.empty() &&
        std::find(resources.begin(), resources.end(), wanted) != resources.end()) {
      init_->module_chosen({wanted, true, true});
    } else {
      init_->selection_closed();
    }
  }
  void close_selection() override {}
  void unload_selection() override {}

 private:
  UnitInitialization* init_ = nullptr;
  std::deque<std::string> resources_;
};

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) {
    return c == '\0' || std::isspace(static_cast<unsigned char>(c)) != 0;
  };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool same_serial(std::string_view a, std::string_view b) {
  a = trimmed(a);
  b = trimmed(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The boxes a step shows once the technician has confirmed its cabling (or that need none).
bool settled_prompt(const std::string& text) {
  return text == text::kHitOkToStart || text == text::kTestCompleted ||
         text == production_text::kPressOk || text == init_text::kUutComplete ||
         text == init_text::kQcuComplete;
}

}  // namespace

std::optional<std::string> identity_serial(std::string_view identity) {
  std::size_t from = 0;
  for (int field = 0; field < 2; ++field) {
    const std::size_t comma = identity.find(',', from);
    if (comma == std::string_view::npos) return std::nullopt;
    from = comma + 1;
  }
  std::string_view serial = identity.substr(from);
  serial = trimmed(serial.substr(0, serial.find(',')));
  // "0" is what a module without a serial number gives.
  if (serial.empty() || serial == "0") return std::nullopt;
  return std::string(serial);
}

struct FinalTestRunner::Impl final : core::ProcedureObserver {
  Impl(core::Station& station_in, ProductionTests& production_in, FinalTestView& view_in)
      : station(station_in),
        production(production_in),
        view(view_in),
        bus_view(view_in),
        bus_tests(station_in, bus_view),
        init(station_in, production_in.view(), selection) {}

  // --- What the procedures tell: whether the step's procedure started, why it was refused ---
  void started(const core::Procedure& /*procedure*/) override { procedure_started = true; }
  void ended(const core::Procedure& /*procedure*/) override {
    errors_at_end = station.driver_state.reported_errors;
  }
  void refused(const core::Procedure& holder, const core::Procedure& refused) override {
    refusal = core::refusal_text(holder, refused);
  }
  void refused_without_units(const core::Procedure& /*refused*/, const std::string& why) override {
    refusal = why;
  }

  // Runs one procedure as its button or menu entry does; false when it did not start.
  bool run_procedure(core::ProcedureKind kind) {
    procedure_started = false;
    refusal.clear();
    errors_at_end.clear();
    running_kind = kind;
    switch (kind) {
      case core::ProcedureKind::self_test:
        production.on_test_button(3);
        break;
      case core::ProcedureKind::memory_test:
        production.on_test_button(2);
        break;
      case core::ProcedureKind::output_calibration:
        production.output_calibration().on_start_calibration();
        production.on_test_button(0);
        break;
      case core::ProcedureKind::initialize_uut:
        init.initialize_uut();
        break;
      case core::ProcedureKind::initialize_all:
        init.initialize_all();
        break;
      default:
        if (core::procedure_row(kind).bus_test) bus_tests.run_from_console(kind);
        break;
    }
    running_kind.reset();
    return procedure_started;
  }

  StepResult step_result(core::ProcedureKind kind, bool ran) const {
    StepResult step;
    step.kind = kind;
    if (ran) {
      step.facts = station.run;
    } else {
      step.facts.outcome = core::Outcome::refused;
      step.facts.report = refusal;
    }
    step.state = step_state_of(step.facts.outcome);
    step.finding = finding_of(kind, step.state, step.facts, errors_at_end);
    return step;
  }

  std::optional<std::chrono::milliseconds> time_left(const FinalTestResult& result,
                                                     std::size_t from) const {
    if (!expected) return std::nullopt;
    std::chrono::milliseconds left{0};
    for (std::size_t i = from; i < result.steps.size(); ++i) {
      const auto step = expected(result.steps[i].kind);
      if (!step) return std::nullopt;
      left += *step;
    }
    return left;
  }

  // Initializes the units the steps need; false (with the verdict set) when they are not open.
  bool initialize(FinalTestResult& result) {
    const bool needs_qcu =
        std::any_of(result.sequence.steps.begin(), result.sequence.steps.end(),
                    [](core::ProcedureKind kind) { return core::procedure_row(kind).uses_qcu; });
    const core::ProcedureKind kind =
        needs_qcu ? core::ProcedureKind::initialize_all : core::ProcedureKind::initialize_uut;
    std::deque<std::string> resources{result.unit.uut_resource};
    if (needs_qcu) resources.push_back(result.unit.qcu_resource);
    selection.choose(init, std::move(resources));
    const bool ran = run_procedure(kind);
    const StepResult done = step_result(kind, ran);
    if (done.state == StepState::passed) {
      // Only an initialization that opened the units read this unit's identity: the station's
      // may still be the previous unit's.
      result.uut_identity = station.units.uut_identity;
      if (needs_qcu) result.qcu_identity = station.units.qcu_identity;
      return true;
    }
    std::string finding = std::string(core::procedure_row(kind).caption) + " on " +
                          result.unit.uut_resource +
                          (needs_qcu ? " and " + result.unit.qcu_resource : std::string());
    finding += done.finding.empty() ? std::string(" did not open the units")
                                    : " did not open the units: " + done.finding;
    result.verdict = {Verdict::error, std::nullopt, std::move(finding)};
    return false;
  }

  // Compares the serial entered with the UUT's own; false (with the verdict set) when the
  // technician declines a mismatch.
  bool check_serial(FinalTestResult& result) {
    const std::optional<std::string> reported = identity_serial(result.uut_identity);
    if (!reported || same_serial(result.unit.top_serial, *reported)) return true;
    if (view.accept_serial_mismatch(result.unit.top_serial, *reported)) return true;
    result.verdict = {Verdict::error, std::nullopt,
                      "the serial entered (" + result.unit.top_serial + ") is not the UUT's own (" +
                          *reported + ")"};
    return false;
  }

  void run_steps(FinalTestResult& result) {
    std::string_view cabling_confirmed;
    for (std::size_t i = 0; i < result.steps.size(); ++i) {
      if (stop || station.shutting_down) return;
      const core::ProcedureKind kind = result.steps[i].kind;
      const std::string_view cabling = cabling_of(kind);
      if (!cabling.empty() && cabling != cabling_confirmed) {
        if (!view.confirm_cabling(std::string(cabling))) return;
        cabling_confirmed = cabling;
        // STOP while the cabling was asked for.
        if (stop || station.shutting_down) return;
      }
      view.time_left(time_left(result, i));
      result.steps[i].state = StepState::running;
      view.step_changed(i, result.steps[i]);
      bus_view.set_step(i);
      const Clock::time_point begun = Clock::now();
      const bool ran = run_procedure(kind);
      StepResult step = step_result(kind, ran);
      step.duration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
      result.steps[i] = std::move(step);
      view.step_changed(i, result.steps[i]);
      if (result.steps[i].state == StepState::stopped) stop = true;
    }
  }

  core::Station& station;
  ProductionTests& production;
  FinalTestView& view;
  StepBusView bus_view;
  BusTests bus_tests;
  ChosenSelection selection;
  UnitInitialization init;
  std::vector<FinalTestObserver*> observers;
  ExpectedDuration expected;
  bool running = false;
  bool stop = false;
  std::optional<core::ProcedureKind> running_kind;
  // The running procedure's: whether it claimed the units, why it was refused, its errors.
  bool procedure_started = false;
  std::string refusal;
  std::vector<std::string> errors_at_end;
};

FinalTestRunner::FinalTestRunner(core::Station& station, ProductionTests& production,
                                 FinalTestView& view)
    : impl_(std::make_unique<Impl>(station, production, view)) {}

FinalTestRunner::~FinalTestRunner() = default;

void FinalTestRunner::add_observer(FinalTestObserver& observer) {
  impl_->observers.push_back(&observer);
}

void FinalTestRunner::set_expected_duration(ExpectedDuration expected) {
  impl_->expected = std::move(expected);
}

FinalTestResult FinalTestRunner::run(const UnitUnderTest& unit, const Sequence& sequence) {
  Impl& impl = *impl_;
  FinalTestResult result;
  result.unit = unit;
  result.sequence = sequence;
  for (core::ProcedureKind kind : sequence.steps) {
    StepResult step;
    step.kind = kind;
    result.steps.push_back(std::move(step));
  }
  result.started = std::chrono::system_clock::now();
  if (impl.running) {
    result.verdict = {Verdict::error, std::nullopt, "a final test is running already"};
    result.ended = result.started;
    result.finished = true;
    return result;
  }
  impl.running = true;
  impl.stop = false;

  std::vector<core::ProcedureObserver*>& procedure_observers = impl.station.procedure.observers;
  procedure_observers.push_back(&impl);
  for (FinalTestObserver* observer : impl.observers) observer->unit_started(result);
  {
    const core::PromptRelay::Scope answers(impl.station.person, settled_prompt);
    if (impl.initialize(result) && impl.check_serial(result)) {
      impl.run_steps(result);
      result.verdict = verdict_of(result.steps);
    }
  }
  impl.view.time_left(std::chrono::milliseconds{0});
  std::erase(procedure_observers, &impl);
  result.ended = std::chrono::system_clock::now();
  // A sequence the station's shut-down cut short decided nothing.
  result.finished = !impl.station.shutting_down;
  impl.running = false;
  for (FinalTestObserver* observer : impl.observers) observer->unit_ended(result);
  return result;
}

void FinalTestRunner::request_stop() {
  Impl& impl = *impl_;
  if (!impl.running) return;
  impl.stop = true;
  impl.bus_tests.request_stop();
  // The calibration ends as its Abort ends it; the self and memory tests are let finish.
  if (impl.running_kind == core::ProcedureKind::output_calibration) {
    impl.station.driver_state.abort_flag = true;
  }
}

bool FinalTestRunner::running() const { return impl_->running; }

}  // namespace procedures
