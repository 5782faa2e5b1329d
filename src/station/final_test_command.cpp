#include "station/final_test_command.h"

#include <QDate>
#include <QLocale>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <memory>
#include <sstream>
#include <thread>

#include "procedures/production_tests.h"
#include "records/record_export.h"
#include "records/record_store.h"
#include "records/record_writer.h"
#include "station/messages.h"
#include "station/records_commands.h"
#include "station/run_recorder.h"
#include "station/unit_result_recorder.h"
#include "station/virtual_time_pump.h"
#include "station/visa_options.h"

#ifndef QUOR_PROGRAM_VERSION
#define QUOR_PROGRAM_VERSION "unknown"
#endif

namespace station {
namespace {

using Clock = std::chrono::steady_clock;

// The tick source on real time: ticks counted as the time passes, a wait sleeping until the
// next tick is due. With no window there is no event to wait for otherwise.
class TerminalPump final : public driver::EventPump {
 public:
  void count_ticks_in(driver::DriverState& state) { state_ = &state; }
  void process_events() override { tick(); }
  void wait_for_events() override {
    const Clock::time_point until =
        running_ ? next_tick_ : Clock::now() + std::chrono::milliseconds(10);
    std::this_thread::sleep_until(until);
    tick();
  }
  void start_tick_timer(int interval_ms) override {
    interval_ = std::chrono::milliseconds(interval_ms > 0 ? interval_ms : 1);
    next_tick_ = Clock::now() + interval_;
    running_ = true;
  }
  void stop_tick_timer() override { running_ = false; }
  bool tick_timer_running() const override { return running_; }
  std::int64_t now_ms() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
  }

 private:
  void tick() {
    if (!running_) return;
    const Clock::time_point now = Clock::now();
    while (next_tick_ <= now) {
      if (state_ != nullptr) ++state_->tick_counter;
      next_tick_ += interval_;
    }
  }
  driver::DriverState* state_ = nullptr;
  bool running_ = false;
  std::chrono::milliseconds interval_{1};
  Clock::time_point next_tick_{};
};

// The person at the terminal: a box is a printed line, an input box takes its default answer.
class TerminalOperator final : public driver::Operator {
 public:
  explicit TerminalOperator(std::ostream& out) : out_(out) {}
  void message(const std::string& text, const std::string& title) override {
    out_ << "  " << (title.empty() ? std::string("message") : title) << ": " << one_line(text)
         << "\n";
  }
  std::optional<std::string> input(const std::string& prompt, const std::string& default_answer,
                                   const std::string& /*title*/) override {
    out_ << "  " << one_line(prompt) << " " << default_answer << "\n";
    return default_answer;
  }
  void print(const std::string& text) override { out_ << text << "\n"; }
  std::string short_date() override {
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
  }

 private:
  static std::string one_line(std::string text) {
    for (char& c : text) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
  }
  std::ostream& out_;
};

// The main window's lines are not shown on the terminal: the step errors reach it as boxes.
class NoMainWindow final : public procedures::MainWindowView {
 public:
  void show_step_text(const std::string& /*text*/) override {}
  void show_controls_for(procedures::MainStep /*step*/) override {}
  void show_instruction(const std::string& /*text*/) override {}
  void show_status_byte(const std::string& /*text*/) override {}
  void show_cal_constant(const std::string& /*text*/) override {}
};

std::string seconds_text(std::chrono::milliseconds duration) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::fixed << std::setprecision(1) << static_cast<double>(duration.count()) / 1000.0
       << " s";
  return text.str();
}

std::string_view state_text(procedures::StepState state) {
  switch (state) {
    case procedures::StepState::waiting:
      return "not run";
    case procedures::StepState::running:
      return "running";
    case procedures::StepState::passed:
      return "passed";
    case procedures::StepState::failed:
      return "FAILED";
    case procedures::StepState::error:
      return "ERROR";
    case procedures::StepState::stopped:
      return "stopped";
  }
  return "";
}

// The final test on the terminal: cabling asked on `in` (or confirmed by --yes), a line per step.
class TerminalView final : public procedures::FinalTestView {
 public:
  TerminalView(std::istream& in, std::ostream& out, bool yes, std::size_t steps)
      : in_(in), out_(out), yes_(yes), steps_(steps) {}

  bool accept_serial_mismatch(const std::string& entered, const std::string& reported) override {
    out_ << "The serial entered (" << entered << ") is not the one the UUT reports (" << reported
         << ").\n";
    if (yes_) {
      out_ << "Not tested: --yes confirms the cabling only, never another unit's serial.\n";
      return false;
    }
    out_ << "Test this unit all the same? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
  }
  bool confirm_cabling(const std::string& prompt) override {
    out_ << prompt << "\n";
    if (yes_) {
      out_ << "  (confirmed by --yes)\n";
      return true;
    }
    out_ << "Press Enter when connected, or type n to end the test: " << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) return false;
    return answer != "n" && answer != "N" && answer != "no";
  }
  void step_changed(std::size_t index, const procedures::StepResult& step) override {
    if (step.state == procedures::StepState::running) return;
    std::ostringstream line;
    line << std::setw(2) << index + 1 << "/" << steps_ << "  " << std::left << std::setw(18)
         << core::procedure_row(step.kind).caption << std::setw(8) << state_text(step.state)
         << std::right << std::setw(9) << seconds_text(step.duration);
    if (!step.finding.empty()) line << "  " << step.finding;
    out_ << line.str() << "\n" << std::flush;
  }
  void step_progress(std::size_t /*index*/, double /*value*/, double /*maximum*/) override {}
  void time_left(std::optional<std::chrono::milliseconds> /*left*/) override {}

 private:
  std::istream& in_;
  std::ostream& out_;
  bool yes_;
  std::size_t steps_;
};

}  // namespace

int final_test_status(procedures::Verdict verdict) {
  switch (verdict) {
    case procedures::Verdict::pass:
      return kFinalTestPass;
    case procedures::Verdict::fail:
      return kFinalTestFail;
    case procedures::Verdict::error:
      return kFinalTestError;
  }
  return kFinalTestError;
}

std::string final_test_usage_error(const StationOptions& options) {
  const auto missing = [](const std::optional<std::string>& value) {
    return !value || value->empty();
  };
  std::string missing_options;
  if (missing(options.top_serial)) missing_options += " --top-serial S";
  if (missing(options.technician)) missing_options += " --technician T";
  if (missing(options.uut_resource)) missing_options += " --uut RESOURCE";
  if (missing(options.qcu_resource)) missing_options += " --qcu RESOURCE";
  if (missing_options.empty()) return {};
  return "--final-test needs" + missing_options;
}

CommandSequence chosen_sequence(const StationOptions& options) {
  if (!options.sequence_file) return {procedures::default_sequence(), {}};
  const std::string& path = *options.sequence_file;
  std::ifstream file(path, std::ios::binary);
  if (!file) return {std::nullopt, path + ": the sequence file cannot be read"};
  std::ostringstream text;
  text << file.rdbuf();
  auto parsed = procedures::parse_sequence(text.str(), path);
  if (const auto* error = std::get_if<procedures::SequenceError>(&parsed)) {
    return {std::nullopt, path + ": " + error->message};
  }
  return {std::get<procedures::Sequence>(std::move(parsed)), {}};
}

CommandSequence command_sequence(const StationOptions& options) {
  CommandSequence chosen = chosen_sequence(options);
  if (!chosen.sequence) return chosen;
  const std::string path = options.sequence_file.value_or(std::string());
  const procedures::Sequence& sequence = *chosen.sequence;
  for (std::size_t i = 0; i < sequence.steps.size(); ++i) {
    if (sequence.steps[i] == core::ProcedureKind::output_calibration) {
      return {std::nullopt,
              path + ": step " + std::to_string(i + 1) +
                  " is Calibrate Outputs, which needs the technician at the main window's Up, "
                  "Down and Cal Complete: run this sequence from the Final Test window"};
    }
  }
  return chosen;
}

namespace {

// The unit result's JUnit as the records hold it, once the writer has written it.
std::string junit_of(const std::string& records_path, const std::string& unit_result_id,
                     const std::string& file) {
  if (unit_result_id.empty()) return "no unit result was recorded";
  records::RecordStore store(records_path, records::OpenMode::reader);
  if (!store.open()) return store.status_text();
  return records::export_unit_result_junit(store, unit_result_id, file);
}

}  // namespace

int run_final_test(const StationOptions& options, const FinalTestOutputs& outputs, std::istream& in,
                   std::ostream& out, std::ostream& err) {
  if (const std::string usage = final_test_usage_error(options); !usage.empty()) {
    err << complaint(usage, "give the unit and the modules to test");
    return kUsageStatus;
  }
  const CommandSequence chosen_sequence = command_sequence(options);
  if (!chosen_sequence.sequence) {
    err << complaint(chosen_sequence.error, "correct the sequence file named by --sequence");
    return kUsageStatus;
  }
  const procedures::Sequence& sequence = *chosen_sequence.sequence;
  if (options.report_file && !outputs.report) {
    err << complaint("this program cannot write the unit report", "leave out --report");
    return kUsageStatus;
  }

  OptionVisa chosen = choose_visa_for(options);
  if (!chosen.error.empty()) {
    err << complaint(chosen.error, "choose a VISA library that works, or --simulate");
    return kFinalTestError;
  }
  out << report_line("VISA: " + chosen.choice.in_use.description);

  TerminalOperator person(out);
  // On virtual time the waits cost no real time; on real time the ticks come as time passes.
  std::unique_ptr<VirtualTimePump> virtual_pump;
  if (chosen.virtual_clock != nullptr) {
    virtual_pump = std::make_unique<VirtualTimePump>(*chosen.virtual_clock);
  }
  TerminalPump real_pump;
  driver::EventPump& pump =
      virtual_pump ? static_cast<driver::EventPump&>(*virtual_pump) : real_pump;
  core::Station station(*chosen.choice.library, person, pump, chosen.choice.in_use);
  if (virtual_pump) virtual_pump->count_ticks_in(station.driver_state);
  real_pump.count_ticks_in(station.driver_state);

  // The runs are recorded as from the windows, the technician and serials as entered.
  const RecordsOptions records = records_options(options, records_location(options));
  records::RecordWriter::Options writer_options;
  writer_options.path = records.path;
  writer_options.station_id = records.station_id;
  records::RecordWriter writer(writer_options);
  writer.open();
  for (const std::string& notice : writer.take_notices()) err << report_line(notice);
  RecorderSources sources;
  const OperatorFields fields{*options.technician, *options.top_serial,
                              options.sub_serial.value_or(std::string())};
  sources.operator_fields = [fields] { return fields; };
  RunRecorder recorder(station, writer, {records.station_id, QUOR_PROGRAM_VERSION},
                       std::move(sources));
  station.procedure.observers.push_back(&recorder);

  NoMainWindow main_window;
  procedures::ProductionTests production(station, main_window);
  TerminalView view(in, out, options.yes, sequence.steps.size());
  procedures::FinalTestRunner runner(station, production, view);
  UnitResultRecorder unit_results(station, writer, recorder,
                                  {records.station_id, QUOR_PROGRAM_VERSION});
  runner.add_observer(unit_results);

  out << "Final test of " << *options.top_serial << " (" << sequence.name << ", "
      << sequence.steps.size() << " steps) on UUT " << *options.uut_resource << ", QCU "
      << *options.qcu_resource << "\n"
      << std::flush;
  const procedures::FinalTestResult result =
      runner.run({*options.top_serial, options.sub_serial.value_or(std::string()),
                  *options.technician, *options.uut_resource, *options.qcu_resource},
                 sequence);
  std::erase(station.procedure.observers, &recorder);

  out << procedures::verdict_text(result.verdict.verdict);
  if (result.verdict.step) {
    out << ": " << core::procedure_row(result.steps[*result.verdict.step].kind).caption;
  }
  if (!result.verdict.finding.empty()) out << ": " << result.verdict.finding;
  out << "\n" << std::flush;

  int status = final_test_status(result.verdict.verdict);
  // The unit's verdict stands; a file asked for and not written is an error of the run.
  const auto written = [&](const std::string& problem, const std::string& what,
                           const std::string& path) {
    if (problem.empty()) {
      out << report_line(what + " written to " + path);
      return;
    }
    err << complaint(what + " not written to " + path + ": " + problem,
                     "choose a file the station may write");
    status = kFinalTestError;
  };
  if (options.report_file) {
    written(outputs.report(result, station.visa_in_use, *options.report_file), "unit report",
            *options.report_file);
  }
  writer.flush();
  if (options.junit_file)
    written(junit_of(records.path, unit_results.last_id(), *options.junit_file), "JUnit result",
            *options.junit_file);
  return status;
}

}  // namespace station
