#include "records/record_export.h"

#include <QBuffer>
#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <tuple>

#include "records/record_store.h"
#include "records/server_location.h"

namespace records {

namespace {

enum class Kind { text, number, boolean, absent };

// A field's text: the record's own text where it has one (not copied), else one made here.
struct Field {
  Field(std::string_view field_name, std::string&& made, Kind field_kind)
      : name(field_name), owned(std::move(made)), kind(field_kind) {}
  Field(std::string_view field_name, const std::string& text, Kind field_kind)
      : name(field_name), borrowed(text), uses_borrowed(true), kind(field_kind) {}
  Field(std::string_view field_name, const char* text, Kind field_kind)
      : name(field_name), borrowed(text), uses_borrowed(true), kind(field_kind) {}

  std::string_view value() const { return uses_borrowed ? borrowed : std::string_view(owned); }

  std::string_view name;
  std::string owned;
  std::string_view borrowed;
  bool uses_borrowed = false;
  Kind kind;
};

constexpr std::size_t kFieldCount = 33;

template <typename T>
Field optional_number(std::string_view name, const std::optional<T>& value) {
  if (!value) return {name, std::string(), Kind::absent};
  if constexpr (std::is_same_v<T, double>) {
    return {name, number_text(*value), Kind::number};
  } else {
    return {name, std::to_string(*value), Kind::number};
  }
}

// Every field of a record but the last-error texts, in the exports' order.
std::array<Field, kFieldCount> fields_of(const RunRecord& r) {
  return {{
      {"id", r.id, Kind::text},
      {"station_id", r.station_id, Kind::text},
      {"started_utc", utc_text(r.started), Kind::text},
      r.ended ? Field{"ended_utc", utc_text(*r.ended), Kind::text}
              : Field{"ended_utc", std::string(), Kind::absent},
      {"procedure", std::string(text_id(r.procedure)), Kind::text},
      {"outcome", std::string(text_id(r.outcome)), Kind::text},
      {"passes_run", std::to_string(r.passes_run), Kind::number},
      {"failures", std::to_string(r.failures), Kind::number},
      {"uut_identity", r.uut.reply, Kind::text},
      {"uut_maker", r.uut.maker, Kind::text},
      {"uut_model", r.uut.model, Kind::text},
      {"uut_serial", r.uut.serial, Kind::text},
      {"uut_firmware", r.uut.firmware, Kind::text},
      {"qcu_identity", r.qcu.reply, Kind::text},
      {"qcu_maker", r.qcu.maker, Kind::text},
      {"qcu_model", r.qcu.model, Kind::text},
      {"qcu_serial", r.qcu.serial, Kind::text},
      {"qcu_firmware", r.qcu.firmware, Kind::text},
      {"uut_resource", r.uut_resource, Kind::text},
      {"qcu_resource", r.qcu_resource, Kind::text},
      {"technician", r.technician, Kind::text},
      {"top_serial", r.top_serial, Kind::text},
      {"sub_serial", r.sub_serial, Kind::text},
      {"visa_library", r.visa_library, Kind::text},
      {"simulated", r.simulated ? "true" : "false", Kind::boolean},
      optional_number("self_test_result", r.self_test_result),
      optional_number("memory_miscompares", r.memory_miscompares),
      optional_number("cal_constant_read", r.cal_constant_read),
      optional_number("cal_constant_sent", r.cal_constant_sent),
      optional_number("non_vol_address", r.non_vol_address),
      {"program_version", r.program_version, Kind::text},
      r.unit_result_id.empty() ? Field{"unit_result_id", std::string(), Kind::absent}
                               : Field{"unit_result_id", r.unit_result_id, Kind::text},
      {"report", r.report, Kind::text},
  }};
}

constexpr std::size_t kUnitFieldCount = 27;

// Every field of a unit result, in the exports' order.
std::array<Field, kUnitFieldCount> fields_of(const UnitResult& u) {
  return {{
      {"id", u.id, Kind::text},
      {"station_id", u.station_id, Kind::text},
      {"started_utc", utc_text(u.started), Kind::text},
      u.ended ? Field{"ended_utc", utc_text(*u.ended), Kind::text}
              : Field{"ended_utc", std::string(), Kind::absent},
      {"verdict", std::string(text_id(u.verdict)), Kind::text},
      {"sequence", u.sequence, Kind::text},
      optional_number("deciding_step", u.deciding_step),
      u.deciding_procedure
          ? Field{"deciding_procedure", std::string(text_id(*u.deciding_procedure)), Kind::text}
          : Field{"deciding_procedure", std::string(), Kind::absent},
      {"finding", u.finding, Kind::text},
      {"technician", u.technician, Kind::text},
      {"top_serial", u.top_serial, Kind::text},
      {"sub_serial", u.sub_serial, Kind::text},
      {"uut_identity", u.uut.reply, Kind::text},
      {"uut_maker", u.uut.maker, Kind::text},
      {"uut_model", u.uut.model, Kind::text},
      {"uut_serial", u.uut.serial, Kind::text},
      {"uut_firmware", u.uut.firmware, Kind::text},
      {"qcu_identity", u.qcu.reply, Kind::text},
      {"qcu_maker", u.qcu.maker, Kind::text},
      {"qcu_model", u.qcu.model, Kind::text},
      {"qcu_serial", u.qcu.serial, Kind::text},
      {"qcu_firmware", u.qcu.firmware, Kind::text},
      {"uut_resource", u.uut_resource, Kind::text},
      {"qcu_resource", u.qcu_resource, Kind::text},
      {"visa_library", u.visa_library, Kind::text},
      {"simulated", u.simulated ? "true" : "false", Kind::boolean},
      {"program_version", u.program_version, Kind::text},
  }};
}

// The unit results an export knows, by id.
using UnitResults = std::map<std::string, UnitResult, std::less<>>;

// A text of one line without the line end a module's reply (or a pasted text) ended with.
std::string_view without_line_end(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

constexpr std::string_view kLastErrors = "last_errors";

// Appends the byte at `at` and what belongs to it as UTF-8, returning the bytes taken: a
// well-formed UTF-8 sequence as it is, any other byte from 0x80 up (a module's 8-bit text) as
// the Latin-1 character it is. With `xml`, the non-characters U+FFFE and U+FFFF, which XML does
// not allow, become U+FFFD.
std::size_t append_utf8(std::string& out, std::string_view text, std::size_t at, bool xml) {
  const std::size_t length = utf8_length(text, at);
  if (length == 0) {
    const auto c = static_cast<unsigned char>(text[at]);
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
    return 1;
  }
  const std::string_view sequence = text.substr(at, length);
  if (xml && (sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF")) {
    out += "\xEF\xBF\xBD";
  } else {
    out += sequence;
  }
  return length;
}

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      i += append_utf8(out, text, i, false) - 1;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[(c >> 4) & 0xf];
          out += kHex[c & 0xf];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

std::string json_array(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += ',';
    append_json_string(out, texts[i]);
  }
  return out + "]";
}

void append_csv_field(std::string& out, std::string_view text) {
  out += '"';
  // Whole stretches between quotes at a time; each quote doubled.
  for (std::size_t quote = text.find('"'); quote != std::string_view::npos;
       quote = text.find('"')) {
    out.append(text.data(), quote + 1);
    out += '"';
    text.remove_prefix(quote + 1);
  }
  out.append(text.data(), text.size());
  out += '"';
}

void append_csv_record(std::string& out, const RunRecord& record) {
  for (const Field& field : fields_of(record)) {
    // The report is the one text of many lines; the others end where their line does.
    append_csv_field(out, field.name == "report" ? field.value() : without_line_end(field.value()));
    out += ',';
  }
  append_csv_field(out, json_array(record.last_errors));
  out += "\r\n";
}

void append_json_value(std::string& out, const Field& field) {
  switch (field.kind) {
    case Kind::text:
      append_json_string(out, field.value());
      break;
    case Kind::number:
    case Kind::boolean:
      out += field.value();
      break;
    case Kind::absent:
      out += "null";
      break;
  }
}

constexpr std::string_view kUnitResult = "unit_result";

// A run and, when it is a step of a unit result the export knows, that unit result.
void append_json_record(std::string& out, const RunRecord& record, const UnitResults& units) {
  out += "  {";
  for (const Field& field : fields_of(record)) {
    append_json_string(out, field.name);
    out += ": ";
    append_json_value(out, field);
    out += ", ";
  }
  append_json_string(out, kLastErrors);
  out += ": " + json_array(record.last_errors) + ", ";
  append_json_string(out, kUnitResult);
  out += ": ";
  const auto unit = units.find(record.unit_result_id);
  if (record.unit_result_id.empty() || unit == units.end()) {
    out += "null}";
    return;
  }
  out += '{';
  bool first = true;
  for (const Field& field : fields_of(unit->second)) {
    if (!first) out += ", ";
    first = false;
    append_json_string(out, field.name);
    out += ": ";
    append_json_value(out, field);
  }
  out += "}}";
}

// XML 1.0 allows no control characters but tab, line feed and carriage return; others become
// their pictures U+2400-U+241F, as module_text() writes them. Bytes from 0x80 up go through
// append_utf8. Line ends are written as references so that a
// reader keeps them as they were.
void append_xml_text(std::string& out, std::string_view text, bool attribute) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      i += append_utf8(out, text, i, true) - 1;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += module_text(std::string_view(&c, 1));
        } else {
          out += c;
        }
    }
  }
}

void append_attribute(std::string& out, std::string_view name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  append_xml_text(out, value, true);
  out += '"';
}

enum class Verdict { passed, failure, error, skipped };

Verdict verdict_of(Outcome outcome) {
  switch (outcome) {
    case Outcome::passed:
      return Verdict::passed;
    case Outcome::failed:
    case Outcome::failure_limit:
      return Verdict::failure;
    case Outcome::aborted:
    case Outcome::refused:
    case Outcome::interrupted:
    case Outcome::error:
      return Verdict::error;
    case Outcome::stopped:
    case Outcome::running:
      break;
  }
  return Verdict::skipped;
}

std::string seconds_text(const RunRecord& record) {
  const long long ms = record.ended ? (*record.ended - record.started).count() : 0;
  const long long positive = std::max(ms, 0LL);
  std::string fraction = std::to_string(positive % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(positive / 1000) + "." + fraction;
}

void append_testcase(std::string& out, const RunRecord& record) {
  const std::string serial = record.uut.serial.empty() ? "no serial" : record.uut.serial;
  out += "    <testcase";
  append_attribute(out, "classname", "quor." + std::string(text_id(record.procedure)));
  append_attribute(out, "name", serial + " " + utc_text(record.started));
  append_attribute(out, "time", seconds_text(record));
  out += ">\n      <properties>\n";
  for (const Field& field : fields_of(record)) {
    if (field.name == "report") continue;
    out += "        <property";
    append_attribute(out, "name", field.name);
    append_attribute(out, "value", field.value());
    out += "/>\n";
  }
  for (const std::string& error : record.last_errors) {
    out += "        <property";
    append_attribute(out, "name", "last_error");
    append_attribute(out, "value", error);
    out += "/>\n";
  }
  out += "      </properties>\n";
  const std::string outcome(text_id(record.outcome));
  const Verdict verdict = verdict_of(record.outcome);
  if (verdict == Verdict::failure || verdict == Verdict::error) {
    const char* element = verdict == Verdict::failure ? "failure" : "error";
    out += "      <";
    out += element;
    append_attribute(out, "type", outcome);
    append_attribute(out, "message", outcome);
    out += ">";
    append_xml_text(out, record.report, false);
    out += "</";
    out += element;
    out += ">\n";
  } else {
    if (verdict == Verdict::skipped) {
      out += "      <skipped";
      append_attribute(out, "message", outcome);
      out += "/>\n";
    }
    out += "      <system-out>";
    append_xml_text(out, record.report, false);
    out += "</system-out>\n";
  }
  out += "    </testcase>\n";
}

struct Tally {
  std::size_t tests = 0;
  std::size_t failures = 0;
  std::size_t errors = 0;
  std::size_t skipped = 0;
  long long ms = 0;
  void add(Outcome outcome, std::size_t runs, long long duration_ms) {
    tests += runs;
    const Verdict verdict = verdict_of(outcome);
    failures += verdict == Verdict::failure ? runs : 0;
    errors += verdict == Verdict::error ? runs : 0;
    skipped += verdict == Verdict::skipped ? runs : 0;
    ms += duration_ms;
  }
  void add(const RunRecord& record) {
    add(record.outcome, 1,
        record.ended ? std::max<long long>((*record.ended - record.started).count(), 0) : 0);
  }
  void append(std::string& out) const {
    append_attribute(out, "tests", std::to_string(tests));
    append_attribute(out, "failures", std::to_string(failures));
    append_attribute(out, "errors", std::to_string(errors));
    append_attribute(out, "skipped", std::to_string(skipped));
  }
};

// Hands text to the file in pieces of about this size.
constexpr std::size_t kFlushBytes = 1 << 20;

class Output {
 public:
  explicit Output(QIODevice& file) : file_(file) { buffer_.reserve(2 * kFlushBytes); }
  std::string& text() { return buffer_; }
  bool flush_if_full() { return buffer_.size() < kFlushBytes || flush(); }
  bool flush() {
    const qint64 size = qint64(buffer_.size());
    const bool written = file_.write(buffer_.data(), size) == size;
    buffer_.clear();
    return written;
  }

 private:
  QIODevice& file_;
  std::string buffer_;
};

void append_csv_header(std::string& out) {
  for (const Field& field : fields_of(RunRecord{})) {
    append_csv_field(out, field.name);
    out += ',';
  }
  append_csv_field(out, kLastErrors);
  out += "\r\n";
}

bool write_csv(Output& out, const std::vector<RunRecord>& records) {
  append_csv_header(out.text());
  for (const RunRecord& record : records) {
    append_csv_record(out.text(), record);
    if (!out.flush_if_full()) return false;
  }
  return out.flush();
}

bool write_json(Output& out, const std::vector<RunRecord>& records, const UnitResults& units) {
  out.text() += "[\n";
  for (std::size_t i = 0; i < records.size(); ++i) {
    append_json_record(out.text(), records[i], units);
    out.text() += i + 1 < records.size() ? ",\n" : "\n";
    if (!out.flush_if_full()) return false;
  }
  out.text() += "]\n";
  return out.flush();
}

void append_junit_head(std::string& out, const Tally& all) {
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
  append_attribute(out, "name", "Quor Bus station records");
  all.append(out);
  out += ">\n";
}

void append_suite_head(std::string& out, std::string_view name, const Tally& tally) {
  out += "  <testsuite";
  append_attribute(out, "name", name);
  tally.append(out);
  append_attribute(
      out, "time",
      std::to_string(tally.ms / 1000) + "." + std::to_string(tally.ms % 1000 + 1000).substr(1));
  out += ">\n";
}

constexpr std::string_view kSuiteEnd = "  </testsuite>\n";
constexpr std::string_view kJunitEnd = "</testsuites>\n";

// The unit's own verdict as a test case, so that a unit that did not pass never reads as a suite
// of passed cases (a sequence declined or stopped before its failing step). Counted in `tally`.
void append_verdict_case(std::string& out, const UnitResult& unit, Tally& tally) {
  const std::string verdict(text_id(unit.verdict));
  const char* element = unit.verdict == UnitVerdict::pass   ? nullptr
                        : unit.verdict == UnitVerdict::fail ? "failure"
                                                            : "error";
  ++tally.tests;
  if (element != nullptr) ++(unit.verdict == UnitVerdict::fail ? tally.failures : tally.errors);
  out += "    <testcase";
  append_attribute(out, "classname", "quor.unit");
  append_attribute(out, "name", "verdict");
  append_attribute(out, "time", "0.000");
  out += ">\n";
  if (element != nullptr) {
    out += "      <";
    out += element;
    append_attribute(out, "type", verdict);
    append_attribute(out, "message", verdict);
    out += ">";
    append_xml_text(out, unit.finding, false);
    out += "</";
    out += element;
    out += ">\n";
  }
  out += "    </testcase>\n";
}

// A unit result's suite: "Final test SERIAL START", with the unit result's fields as its
// properties when the export knows it, and a test case per step in the order they ran; with
// `verdict_case`, the unit's verdict as a last case.
bool append_unit_suite(Output& out, const std::string& id, std::vector<const RunRecord*> steps,
                       const UnitResults& units, bool verdict_case = false) {
  std::stable_sort(steps.begin(), steps.end(), [](const RunRecord* a, const RunRecord* b) {
    return std::tie(a->started, a->id) < std::tie(b->started, b->id);
  });
  const auto found = units.find(id);
  const UnitResult* unit = found == units.end() ? nullptr : &found->second;
  std::string serial = unit ? unit->top_serial : std::string();
  if (serial.empty() && unit) serial = unit->uut.serial;
  if (serial.empty() && !steps.empty()) serial = steps.front()->uut.serial;
  if (serial.empty()) serial = "no serial";
  const TimePoint started = unit            ? unit->started
                            : steps.empty() ? TimePoint{}
                                            : steps.front()->started;
  Tally tally;
  for (const RunRecord* step : steps) tally.add(*step);
  std::string verdict_text;
  if (verdict_case && unit) append_verdict_case(verdict_text, *unit, tally);
  append_suite_head(out.text(), "Final test " + serial + " " + utc_text(started), tally);
  out.text() += "    <properties>\n";
  const auto property = [&](std::string_view name, std::string_view value) {
    out.text() += "      <property";
    append_attribute(out.text(), "name", name);
    append_attribute(out.text(), "value", value);
    out.text() += "/>\n";
  };
  if (unit) {
    for (const Field& field : fields_of(*unit)) {
      property(field.name == "id" ? std::string_view("unit_result_id") : field.name, field.value());
    }
  } else {
    property("unit_result_id", id);
  }
  out.text() += "    </properties>\n";
  for (const RunRecord* step : steps) {
    append_testcase(out.text(), *step);
    if (!out.flush_if_full()) return false;
  }
  out.text() += verdict_text;
  out.text() += kSuiteEnd;
  return true;
}

// Runs on their own: a suite per procedure, in the procedures' order, runs in the order given;
// then a suite per unit result, in the order its first run comes.
bool write_junit(Output& out, const std::vector<RunRecord>& records, const UnitResults& units) {
  std::map<Procedure, std::vector<const RunRecord*>> suites;
  std::vector<std::string> unit_order;
  std::map<std::string, std::vector<const RunRecord*>> unit_steps;
  Tally all;
  for (const RunRecord& record : records) {
    all.add(record);
    if (record.unit_result_id.empty()) {
      suites[record.procedure].push_back(&record);
      continue;
    }
    std::vector<const RunRecord*>& steps = unit_steps[record.unit_result_id];
    if (steps.empty()) unit_order.push_back(record.unit_result_id);
    steps.push_back(&record);
  }
  append_junit_head(out.text(), all);
  for (const auto& [procedure, runs] : suites) {
    Tally tally;
    for (const RunRecord* run : runs) tally.add(*run);
    append_suite_head(out.text(), display_name(procedure), tally);
    for (const RunRecord* run : runs) {
      append_testcase(out.text(), *run);
      if (!out.flush_if_full()) return false;
    }
    out.text() += kSuiteEnd;
  }
  for (const std::string& id : unit_order) {
    if (!append_unit_suite(out, id, unit_steps[id], units)) return false;
  }
  out.text() += kJunitEnd;
  return out.flush();
}

// The unit results the runs are steps of, as the store holds them; the map keeps those known.
std::string read_unit_results(RecordStore& store, const std::vector<RunRecord>& runs,
                              UnitResults& units) {
  std::vector<std::string> missing;
  for (const RunRecord& run : runs) {
    if (run.unit_result_id.empty() || units.contains(run.unit_result_id)) continue;
    if (std::find(missing.begin(), missing.end(), run.unit_result_id) == missing.end()) {
      missing.push_back(run.unit_result_id);
    }
  }
  if (missing.empty()) return {};
  ReadResult<std::vector<UnitResult>> read = store.unit_results(missing);
  for (UnitResult& unit : read.value) units.emplace(unit.id, std::move(unit));
  return read.error;
}

// The same file as write_junit() over the runs `filter` selects, newest first, without holding
// them: the suites' counts come from the store first, then each suite's runs are read in chunks.
// Call it inside RecordStore::read_together(), so that the counts and the runs agree.
bool stream_junit(Output& out, RecordStore& store, const RecordFilter& filter,
                  std::string& read_error, std::size_t& written) {
  RecordFilter on_their_own = filter;
  on_their_own.in_unit_result = false;
  const ReadResult<std::vector<RunGroup>> groups = store.group(on_their_own);
  if (!groups.error.empty()) {
    read_error = groups.error;
    return false;
  }
  // The steps of unit results, without their reports: their ids in the order their first run
  // comes, and the counts.
  RecordFilter steps_filter = filter;
  steps_filter.in_unit_result = true;
  const ReadResult<std::vector<RunRecord>> steps = store.query(steps_filter, Detail::list);
  if (!steps.error.empty()) {
    read_error = steps.error;
    return false;
  }
  std::map<Procedure, Tally> suites;
  Tally all;
  for (const RunGroup& group : groups.value) {
    suites[group.procedure].add(group.outcome, group.count, group.duration_ms);
    all.add(group.outcome, group.count, group.duration_ms);
  }
  std::vector<std::string> unit_order;
  for (const RunRecord& step : steps.value) {
    all.add(step);
    if (std::find(unit_order.begin(), unit_order.end(), step.unit_result_id) == unit_order.end()) {
      unit_order.push_back(step.unit_result_id);
    }
  }
  UnitResults units;
  if (!unit_order.empty()) {
    ReadResult<std::vector<UnitResult>> read = store.unit_results(unit_order);
    if (!read.error.empty()) {
      read_error = read.error;
      return false;
    }
    for (UnitResult& unit : read.value) units.emplace(unit.id, std::move(unit));
  }
  append_junit_head(out.text(), all);
  for (const auto& [procedure, tally] : suites) {
    append_suite_head(out.text(), display_name(procedure), tally);
    RecordFilter suite = filter;
    suite.in_unit_result = false;
    suite.procedure = procedure;
    std::size_t cases = 0;
    bool file_ok = true;
    read_error = store.scan(suite, kExportChunk, [&](std::vector<RunRecord>& runs) {
      for (const RunRecord& record : runs) {
        append_testcase(out.text(), record);
        ++cases;
        if (!out.flush_if_full()) {
          file_ok = false;
          return false;
        }
      }
      return true;
    });
    if (!read_error.empty() || !file_ok) return false;
    if (cases != tally.tests) {
      read_error = "the records changed while they were read";
      return false;
    }
    written += cases;
    out.text() += kSuiteEnd;
  }
  // A unit result's steps are few: read whole, then written in the order they ran.
  for (const std::string& id : unit_order) {
    RecordFilter unit = filter;
    unit.unit_result = id;
    unit.in_unit_result = true;
    const ReadResult<std::vector<RunRecord>> runs = store.query(unit);
    if (!runs.error.empty()) {
      read_error = runs.error;
      return false;
    }
    std::vector<const RunRecord*> pointers;
    for (const RunRecord& run : runs.value) pointers.push_back(&run);
    if (!append_unit_suite(out, id, std::move(pointers), units)) return false;
    written += runs.value.size();
  }
  out.text() += kJunitEnd;
  return out.flush();
}

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return result;
}

}  // namespace

std::optional<ExportFormat> export_format_for(std::string_view file) {
  const auto dot = file.rfind('.');
  const auto slash = file.find_last_of("/\\");
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::nullopt;
  }
  const std::string extension = lower(file.substr(dot + 1));
  if (extension == "csv") return ExportFormat::csv;
  if (extension == "json") return ExportFormat::json;
  if (extension == "xml") return ExportFormat::junit_xml;
  return std::nullopt;
}

std::vector<std::string_view> csv_columns() {
  std::vector<std::string_view> names;
  for (const Field& field : fields_of(RunRecord{})) names.push_back(field.name);
  names.push_back(kLastErrors);
  return names;
}

namespace {

// Opens FILE's temporary file, runs `write` and commits it, or leaves nothing under FILE.
std::string write_file(const std::string& file,
                       const std::function<bool(Output& out, std::string& read_error)>& write) {
  QSaveFile save(QString::fromStdString(file));
  if (!save.open(QIODevice::WriteOnly)) {
    return "cannot write " + file + ": " + save.errorString().toStdString();
  }
  Output out(save);
  std::string read_error;
  if (!write(out, read_error)) {
    const std::string why = read_error.empty()
                                ? "cannot write " + file + ": " + save.errorString().toStdString()
                                : "cannot read the records: " + read_error;
    save.cancelWriting();
    return why;
  }
  if (!save.commit()) return "cannot write " + file + ": " + save.errorString().toStdString();
  return {};
}

}  // namespace

std::string export_records(const std::vector<RunRecord>& records, const std::string& file,
                           const std::vector<UnitResult>& unit_results) {
  const auto format = export_format_for(file);
  if (!format) return "the file name " + file + " must end in .csv, .json or .xml";
  UnitResults units;
  for (const UnitResult& unit : unit_results) units.emplace(unit.id, unit);
  return write_file(file, [&](Output& out, std::string&) {
    switch (*format) {
      case ExportFormat::csv:
        return write_csv(out, records);
      case ExportFormat::json:
        return write_json(out, records, units);
      case ExportFormat::junit_xml:
        return write_junit(out, records, units);
    }
    return false;
  });
}

std::string unit_result_junit(const UnitResult& unit, const std::vector<RunRecord>& steps) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  Output out(buffer);
  Tally all;
  std::vector<const RunRecord*> pointers;
  for (const RunRecord& step : steps) {
    all.add(step);
    pointers.push_back(&step);
  }
  std::string verdict_case;
  append_verdict_case(verdict_case, unit, all);
  append_junit_head(out.text(), all);
  append_unit_suite(out, unit.id, std::move(pointers), UnitResults{{unit.id, unit}}, true);
  out.text() += kJunitEnd;
  out.flush();
  return buffer.data().toStdString();
}

std::string export_unit_result_junit(RecordStore& store, const std::string& unit_result_id,
                                     const std::string& file) {
  std::string error;
  const std::string view_error = store.read_together([&] {
    const ReadResult<std::optional<UnitResult>> unit = store.find_unit_result(unit_result_id);
    if (!unit.error.empty()) {
      error = "cannot read the records: " + unit.error;
      return std::string();
    }
    if (!unit.value) {
      error = "the records hold no unit result " + unit_result_id;
      return std::string();
    }
    RecordFilter steps;
    steps.unit_result = unit_result_id;
    steps.include_simulated = true;
    const ReadResult<std::vector<RunRecord>> runs = store.query(steps);
    if (!runs.error.empty()) {
      error = "cannot read the records: " + runs.error;
      return std::string();
    }
    const std::string text = unit_result_junit(*unit.value, runs.value);
    error = write_file(file, [&](Output& out, std::string&) {
      out.text() += text;
      return out.flush();
    });
    return std::string();
  });
  if (!view_error.empty()) error = "cannot read the records: " + view_error;
  return error;
}

std::string export_records(RecordStore& store, const RecordFilter& filter, const std::string& file,
                           std::size_t* count) {
  const auto format = export_format_for(file);
  if (!format) return "the file name " + file + " must end in .csv, .json or .xml";
  std::size_t written = 0;
  std::string error;
  const auto write = [&](Output& out, std::string& read_error) {
    if (*format == ExportFormat::junit_xml && !filter.limit && filter.offset == 0) {
      return stream_junit(out, store, filter, read_error, written);
    }
    if (*format == ExportFormat::junit_xml) {
      // One page of runs: few enough to hold.
      std::vector<RunRecord> all;
      read_error = store.scan(filter, kExportChunk, [&](std::vector<RunRecord>& runs) {
        std::move(runs.begin(), runs.end(), std::back_inserter(all));
        return true;
      });
      written = all.size();
      UnitResults units;
      if (read_error.empty()) read_error = read_unit_results(store, all, units);
      return read_error.empty() && write_junit(out, all, units);
    }
    const bool csv = *format == ExportFormat::csv;
    if (csv) {
      append_csv_header(out.text());
    } else {
      out.text() += "[\n";
    }
    bool file_ok = true;
    UnitResults units;
    std::string units_error;
    read_error = store.scan(filter, kExportChunk, [&](std::vector<RunRecord>& runs) {
      if (!csv) {
        units_error = read_unit_results(store, runs, units);
        if (!units_error.empty()) return false;
      }
      for (const RunRecord& record : runs) {
        if (csv) {
          append_csv_record(out.text(), record);
        } else {
          if (written > 0) out.text() += ",\n";
          append_json_record(out.text(), record, units);
        }
        ++written;
        if (!out.flush_if_full()) {
          file_ok = false;
          return false;
        }
      }
      return true;
    });
    if (read_error.empty()) read_error = units_error;
    if (!csv) out.text() += written > 0 ? "\n]\n" : "]\n";
    return read_error.empty() && file_ok && out.flush();
  };
  // Every read of the export sees the store as it was when the export began.
  const std::string view_error = store.read_together([&] {
    error = write_file(file, write);
    return std::string();
  });
  if (!view_error.empty()) error = "cannot read the records: " + view_error;
  if (count) *count = error.empty() ? written : 0;
  return error;
}

int export_records_main(const ExportRequest& request, std::ostream& out) {
  if (!export_format_for(request.file)) {
    out << "Cannot export to " << request.file
        << ": the file name must end in .csv, .json or .xml.\n";
    return kExportUsage;
  }
  RecordFilter filter;
  filter.include_simulated = request.include_simulated;
  filter.started_from = request.since;
  if (request.serial) filter.serial = *request.serial;
  if (request.station) filter.station = *request.station;
  std::error_code ignored;
  if (!is_server_location(request.records_path) &&
      !std::filesystem::is_regular_file(request.records_path, ignored)) {
    out << "There is no record file at " << request.records_path << ".\n";
    return kExportFailed;
  }
  RecordStore store(request.records_path, OpenMode::reader);
  if (!store.open()) {
    out << store.status_text() << '\n';
    return kExportFailed;
  }
  std::size_t count = 0;
  if (const std::string error = export_records(store, filter, request.file, &count);
      !error.empty()) {
    out << "Nothing was exported: " << error << ".\n";
    return kExportFailed;
  }
  out << "Exported " << count << (count == 1 ? " run" : " runs") << " to " << request.file << ".\n";
  return kExportDone;
}

}  // namespace records
