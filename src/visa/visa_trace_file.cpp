#include "visa/visa_trace_file.h"

#include <algorithm>

namespace visa {
namespace {

using Clock = std::chrono::steady_clock;

// "12.3 us", to a tenth (no printf: the decimal point stays "." in every locale).
void append_microseconds(std::string& out, std::chrono::nanoseconds duration) {
  const std::int64_t tenths = duration.count() < 0 ? 0 : duration.count() / 100;
  append_decimal(out, static_cast<std::uint64_t>(tenths / 10));
  out += '.';
  out += static_cast<char>('0' + tenths % 10);
  out += " us";
}

// `value` as exactly `digits` decimal digits, with leading zeros.
void append_fixed(std::string& out, std::int64_t value, int digits) {
  char text[8];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(text, static_cast<std::size_t>(digits));
}

const std::string kNoName = "-";

}  // namespace

StatusDescriber library_status_describer(VisaLibrary& library) {
  return [&library](ViStatus status) {
    std::array<ViChar, VI_FIND_BUFLEN> text{};
    if (library.viStatusDesc(0, status, text.data()) < VI_SUCCESS) return std::string();
    text.back() = '\0';
    return std::string(text.data());
  };
}

TraceClock::TraceClock()
    : steady_origin_(Clock::now()), system_origin_(std::chrono::system_clock::now()) {}

std::string TraceClock::time_of_day(Clock::time_point at) const {
  std::string text;
  append_time_of_day(text, at);
  return text;
}

void TraceClock::append_time_of_day(std::string& out, Clock::time_point at) const {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::microseconds>(
      (system_origin_ +
       std::chrono::duration_cast<std::chrono::system_clock::duration>(at - steady_origin_))
          .time_since_epoch());
  constexpr std::int64_t kDayUs = 86'400'000'000;
  const std::int64_t of_day = ((since_epoch.count() % kDayUs) + kDayUs) % kDayUs;
  const std::int64_t seconds = of_day / 1'000'000;
  append_fixed(out, seconds / 3600, 2);
  out += ':';
  append_fixed(out, seconds / 60 % 60, 2);
  out += ':';
  append_fixed(out, seconds % 60, 2);
  out += '.';
  append_fixed(out, of_day % 1'000'000, 6);
}

TraceFormatter::TraceFormatter(StatusDescriber describe, TraceClock clock)
    : describe_(std::move(describe)), clock_(clock) {}

const std::string& TraceFormatter::status_text(ViStatus status) {
  auto found = status_texts_.find(status);
  if (found == status_texts_.end()) {
    found = status_texts_.emplace(status, describe_ ? describe_(status) : std::string()).first;
  }
  return found->second;
}

const std::string& TraceFormatter::object_name(ViObject object) const {
  const auto found = names_.find(object);
  return found == names_.end() ? kNoName : found->second;
}

void TraceFormatter::learn(const VisaCall& call) {
  if (call.status < VI_SUCCESS) return;
  switch (call.function) {
    case VisaFunction::OpenDefaultRM:
      names_[call.opened] = "resource-manager";
      break;
    case VisaFunction::FindRsrc:
      names_[call.opened] = "find-list";
      break;
    case VisaFunction::Open:
      names_[call.opened] = call.text;
      break;
    case VisaFunction::Close:
      names_.erase(call.object);
      break;
    default:
      break;
  }
}

const std::string& TraceFormatter::line(const VisaCall& call) {
  // One buffer for every line: its capacity stays, so a line costs no allocation.
  std::string& text = line_;
  text.clear();
  clock_.append_time_of_day(text, call.start);
  text += ' ';
  text += function_name(call.function);
  if (call.count > 1) {
    text += " x";
    append_decimal(text, call.count);
  }
  text += ' ';
  append_hex(text, call.object, 8);
  text += ' ';
  // The name is the one the object had when the call was made (a close forgets it after).
  text += object_name(call.object);
  text += " (";
  append_arguments(text, call);
  text += ") -> ";
  append_status_name(text, call.status);
  text += " \"";
  text += status_text(call.status);
  text += '"';
  append_outcome(text, call);
  text += ' ';
  append_microseconds(text, call.duration);
  text += '\n';
  learn(call);
  return text;
}

void TraceFanOut::add(VisaCallSink* sink) {
  if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
}

void TraceFanOut::remove(VisaCallSink* sink) { std::erase(sinks_, sink); }

bool TraceFanOut::takes_register_runs() const {
  return std::all_of(sinks_.begin(), sinks_.end(),
                     [](const VisaCallSink* sink) { return sink->takes_register_runs(); });
}

void TraceSinks::add(VisaCallSink* sink) {
  fan_.add(sink);
  update();
}

void TraceSinks::remove(VisaCallSink* sink) {
  fan_.remove(sink);
  update();
}

bool TraceSinks::feeds(const VisaCallSink* sink) const {
  return std::find(fan_.sinks().begin(), fan_.sinks().end(), sink) != fan_.sinks().end();
}

void TraceSinks::update() {
  const std::vector<VisaCallSink*>& sinks = fan_.sinks();
  VisaCallSink* sink = sinks.empty() ? nullptr : sinks.size() == 1 ? sinks.front() : &fan_;
  traced_.set_sink(nullptr);  // ends the open run for the sinks that had it
  traced_.set_sink(sink);
}

std::unique_ptr<TraceFileSink> TraceFileSink::open(const std::string& path,
                                                   StatusDescriber describe, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write the trace file " + path;
    return nullptr;
  }
  // Register runs come thousands a second; the file is written in large pieces between the
  // flushes at message-based calls.
  std::setvbuf(file, nullptr, _IOFBF, std::size_t{1} << 16);
  return std::unique_ptr<TraceFileSink>(new TraceFileSink(file, std::move(describe)));
}

TraceFileSink::TraceFileSink(std::FILE* file, StatusDescriber describe)
    : file_(file), formatter_(std::move(describe)) {}

TraceFileSink::~TraceFileSink() { std::fclose(file_); }

void TraceFileSink::record(const VisaCall& call) {
  const std::string& text = formatter_.line(call);
  std::fwrite(text.data(), 1, text.size(), file_);
  if (is_message_call(call.function)) std::fflush(file_);
}

}  // namespace visa
