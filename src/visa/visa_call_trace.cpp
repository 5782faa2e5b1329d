#include "visa/visa_call_trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace visa {
namespace {

using Clock = std::chrono::steady_clock;

VisaCall begin_call(VisaFunction function, ViObject object) {
  VisaCall call;
  call.function = function;
  call.object = object;
  call.count = 1;
  call.start = Clock::now();
  return call;
}

// Completes the description with the status and the time the call took, and hands it on.
ViStatus finish_call(VisaCallSink& sink, VisaCall& call, ViStatus status) {
  call.duration = Clock::now() - call.start;
  call.status = status;
  sink.record(call);
  return status;
}

// A name buffer the library filled, up to its end or the first NUL.
std::string name_text(const ViChar* name) {
  return std::string(name, strnlen(name, static_cast<std::size_t>(VI_FIND_BUFLEN)));
}

void append_space(std::string& out, ViUInt16 space) {
  switch (space) {
    case VI_A16_SPACE:
      out += "A16";
      return;
    case VI_A24_SPACE:
      out += "A24";
      return;
    case VI_A32_SPACE:
      out += "A32";
      return;
    default:
      out += "space ";
      append_decimal(out, space);
  }
}

// The standard name of a status, or null for one without a name.
const char* known_status_name(ViStatus status) {
  struct Named {
    ViStatus status;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {VI_SUCCESS, "VI_SUCCESS"},
      {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR"},
      {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT"},
      {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR"},
      {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT"},
      {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR"},
      {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND"},
      {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME"},
      {VI_ERROR_TMO, "VI_ERROR_TMO"},
      {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR"},
      {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE"},
      {VI_ERROR_BERR, "VI_ERROR_BERR"},
      {VI_ERROR_INV_SPACE, "VI_ERROR_INV_SPACE"},
      {VI_ERROR_INV_OFFSET, "VI_ERROR_INV_OFFSET"},
  };
  for (const Named& named : kNames) {
    if (named.status == status) return named.name;
  }
  return nullptr;
}

}  // namespace

void append_hex(std::string& out, std::uint64_t value, int digits) {
  // Written backwards into a buffer and appended once: a trace line holds many numbers.
  char text[24];
  char* const end = text + sizeof text;
  char* first = end;
  const std::ptrdiff_t least = std::min(digits, 20);
  do {
    *--first = "0123456789ABCDEF"[value & 0xFU];
    value >>= 4;
  } while (value != 0 || end - first < least);
  *--first = 'x';
  *--first = '0';
  out.append(first, end);
}

void append_decimal(std::string& out, std::uint64_t value) {
  char text[20];
  char* const end = text + sizeof text;
  char* first = end;
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.append(first, end);
}

std::string hex_text(std::uint64_t value, int digits) {
  std::string text;
  append_hex(text, value, digits);
  return text;
}

const char* function_name(VisaFunction function) {
  switch (function) {
    case VisaFunction::OpenDefaultRM:
      return "viOpenDefaultRM";
    case VisaFunction::FindRsrc:
      return "viFindRsrc";
    case VisaFunction::FindNext:
      return "viFindNext";
    case VisaFunction::Open:
      return "viOpen";
    case VisaFunction::Close:
      return "viClose";
    case VisaFunction::GetAttribute:
      return "viGetAttribute";
    case VisaFunction::SetAttribute:
      return "viSetAttribute";
    case VisaFunction::Write:
      return "viWrite";
    case VisaFunction::Read:
      return "viRead";
    case VisaFunction::StatusDesc:
      return "viStatusDesc";
    case VisaFunction::In16:
      return "viIn16";
    case VisaFunction::Out16:
      return "viOut16";
    case VisaFunction::MoveIn16:
      return "viMoveIn16";
    case VisaFunction::MoveOut16:
      return "viMoveOut16";
    case VisaFunction::Count_:
      break;
  }
  return "vi?";
}

void TracingVisa::set_sink(VisaCallSink* sink) {
  flush();
  sink_ = sink;
  runs_ = sink != nullptr && sink->takes_register_runs();
}

void TracingVisa::flush() {
  if (run_key_ != 0) end_run(Clock::now());
}

VisaCall TracingVisa::start_call(VisaFunction function, ViObject object) {
  VisaCall call = begin_call(function, object);
  if (run_key_ != 0) end_run(call.start);
  return call;
}

void TracingVisa::end_run(Clock::time_point now) {
  run_.duration = now - run_.start;
  run_.count = (run_next_offset_ - run_.offset) / 2;
  run_.value = run_last_value_;
  run_key_ = 0;  // closed before the sink sees it, so that a sink's own calls start afresh
  const VisaCall run = run_;
  sink_->record(run);
}

ViStatus TracingVisa::run_access(VisaFunction function, ViSession session, ViUInt16 space,
                                 ViBusAddress offset, ViUInt16 value, ViStatus status,
                                 Clock::time_point start) {
  if (status != VI_SUCCESS) {
    // A failure is a call of its own, never part of a run.
    VisaCall call;
    call.function = function;
    call.object = session;
    call.start = start;
    call.space = space;
    call.offset = offset;
    call.value = status >= VI_SUCCESS ? value : 0;
    return finish_call(*sink_, call, status);
  }
  run_.function = function;
  run_.object = session;
  run_.status = VI_SUCCESS;
  run_.start = start;
  run_.space = space;
  run_.offset = offset;
  run_last_value_ = value;
  run_.run_values[0] = value;
  run_key_ = run_key(function, session, space);
  run_next_offset_ = offset + 2;
  return status;
}

ViStatus TracingVisa::viOpenDefaultRM(ViSession* manager) {
  if (sink_ == nullptr) return inner().viOpenDefaultRM(manager);
  VisaCall call = start_call(VisaFunction::OpenDefaultRM, 0);
  const ViStatus status = inner().viOpenDefaultRM(manager);
  if (manager != nullptr) call.opened = *manager;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viFindRsrc(ViSession manager, const char* expression, ViFindList* list,
                                 ViUInt32* count, ViChar first_name[VI_FIND_BUFLEN]) {
  if (sink_ == nullptr) return inner().viFindRsrc(manager, expression, list, count, first_name);
  VisaCall call = start_call(VisaFunction::FindRsrc, manager);
  const ViStatus status = inner().viFindRsrc(manager, expression, list, count, first_name);
  if (expression != nullptr) call.text = expression;
  if (status >= VI_SUCCESS) {
    if (list != nullptr) call.opened = *list;
    if (count != nullptr) call.value = *count;
    if (first_name != nullptr) call.text += " -> " + name_text(first_name);
  }
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) {
  if (sink_ == nullptr) return inner().viFindNext(list, next_name);
  VisaCall call = start_call(VisaFunction::FindNext, list);
  const ViStatus status = inner().viFindNext(list, next_name);
  if (status >= VI_SUCCESS && next_name != nullptr) call.text = name_text(next_name);
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viOpen(ViSession manager, const char* resource, ViUInt32 access_mode,
                             ViUInt32 open_timeout, ViSession* session) {
  if (sink_ == nullptr)
    return inner().viOpen(manager, resource, access_mode, open_timeout, session);
  VisaCall call = start_call(VisaFunction::Open, manager);
  const ViStatus status = inner().viOpen(manager, resource, access_mode, open_timeout, session);
  if (resource != nullptr) call.text = resource;
  call.value = access_mode;
  call.timeout_ms = open_timeout;
  if (status >= VI_SUCCESS && session != nullptr) call.opened = *session;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viClose(ViObject object) {
  if (sink_ == nullptr) return inner().viClose(object);
  VisaCall call = start_call(VisaFunction::Close, object);
  return finish_call(*sink_, call, inner().viClose(object));
}

ViStatus TracingVisa::viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) {
  if (sink_ == nullptr) return inner().viGetAttribute(object, attribute, value);
  VisaCall call = start_call(VisaFunction::GetAttribute, object);
  const ViStatus status = inner().viGetAttribute(object, attribute, value);
  call.attribute = attribute;
  if (status >= VI_SUCCESS && value != nullptr) call.value = *value;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  if (sink_ == nullptr) return inner().viSetAttribute(object, attribute, value);
  VisaCall call = start_call(VisaFunction::SetAttribute, object);
  const ViStatus status = inner().viSetAttribute(object, attribute, value);
  call.attribute = attribute;
  call.value = value;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viWrite(ViSession session, const unsigned char* buffer, ViUInt32 count,
                              ViUInt32* returned) {
  if (sink_ == nullptr) return inner().viWrite(session, buffer, count, returned);
  VisaCall call = start_call(VisaFunction::Write, session);
  const ViStatus status = inner().viWrite(session, buffer, count, returned);
  if (buffer != nullptr) call.text = escaped_bytes(buffer, count);
  call.value = (returned != nullptr) ? *returned : 0;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                             ViUInt32* returned) {
  if (sink_ == nullptr) return inner().viRead(session, buffer, count, returned);
  VisaCall call = start_call(VisaFunction::Read, session);
  const ViStatus status = inner().viRead(session, buffer, count, returned);
  const ViUInt32 got = (returned != nullptr && *returned <= count) ? *returned : 0;
  if (buffer != nullptr) call.text = escaped_bytes(buffer, got);
  call.value = got;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viStatusDesc(ViObject object, ViStatus described,
                                   ViChar description[VI_FIND_BUFLEN]) {
  if (sink_ == nullptr) return inner().viStatusDesc(object, described, description);
  VisaCall call = start_call(VisaFunction::StatusDesc, object);
  const ViStatus status = inner().viStatusDesc(object, described, description);
  call.value = static_cast<std::uint32_t>(described);
  if (status >= VI_SUCCESS && description != nullptr) call.text = name_text(description);
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::in16_traced(ViSession session, ViUInt16 space, ViBusAddress offset,
                                  ViUInt16* value) {
  if (extends_run(VisaFunction::In16, session, space, offset) && value != nullptr) [[likely]] {
    const ViStatus status = inner().viIn16(session, space, offset, value);
    if (status != VI_SUCCESS) [[unlikely]]
      return failed_in_run(status);
    extend_run(offset, *value);
    return status;
  }
  return traced_in16(session, space, offset, value);
}

ViStatus TracingVisa::out16_traced(ViSession session, ViUInt16 space, ViBusAddress offset,
                                   ViUInt16 value) {
  if (extends_run(VisaFunction::Out16, session, space, offset)) [[likely]] {
    const ViStatus status = inner().viOut16(session, space, offset, value);
    if (status != VI_SUCCESS) [[unlikely]]
      return failed_in_run(status);
    extend_run(offset, value);
    return status;
  }
  return traced_out16(session, space, offset, value);
}

ViStatus TracingVisa::traced_in16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                  ViUInt16* value) {
  if (runs_) {
    const Clock::time_point now = Clock::now();
    if (run_key_ != 0) end_run(now);
    const ViStatus status = inner().viIn16(session, space, offset, value);
    return run_access(VisaFunction::In16, session, space, offset,
                      value != nullptr ? *value : ViUInt16{0}, status, now);
  }
  VisaCall call = start_call(VisaFunction::In16, session);
  const ViStatus status = inner().viIn16(session, space, offset, value);
  call.space = space;
  call.offset = offset;
  if (status >= VI_SUCCESS && value != nullptr) call.value = *value;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::traced_out16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                   ViUInt16 value) {
  if (runs_) {
    const Clock::time_point now = Clock::now();
    if (run_key_ != 0) end_run(now);
    const ViStatus status = inner().viOut16(session, space, offset, value);
    return run_access(VisaFunction::Out16, session, space, offset, value, status, now);
  }
  VisaCall call = start_call(VisaFunction::Out16, session);
  const ViStatus status = inner().viOut16(session, space, offset, value);
  call.space = space;
  call.offset = offset;
  call.value = value;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::failed_in_run(ViStatus status) {
  const Clock::time_point now = Clock::now();
  const VisaFunction function = run_.function;
  const ViSession session = run_.object;
  const ViUInt16 space = run_.space;
  const ViBusAddress offset = run_next_offset_;
  end_run(now);
  return run_access(function, session, space, offset, 0, status, now);
}

ViStatus TracingVisa::viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                 ViBusSize count, ViUInt16* values) {
  if (sink_ == nullptr) return inner().viMoveIn16(session, space, offset, count, values);
  VisaCall call = start_call(VisaFunction::MoveIn16, session);
  const ViStatus status = inner().viMoveIn16(session, space, offset, count, values);
  call.space = space;
  call.offset = offset;
  call.value = count;
  return finish_call(*sink_, call, status);
}

ViStatus TracingVisa::viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                  ViBusSize count, const ViUInt16* values) {
  if (sink_ == nullptr) return inner().viMoveOut16(session, space, offset, count, values);
  VisaCall call = start_call(VisaFunction::MoveOut16, session);
  const ViStatus status = inner().viMoveOut16(session, space, offset, count, values);
  call.space = space;
  call.offset = offset;
  call.value = count;
  return finish_call(*sink_, call, status);
}

ViBusSize TracingVisa::in16_run_traced(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                                       ViUInt16* values, ViBusSize count, ViStatus* statuses,
                                       const ReadCheck* check) {
  if (count == 0) return 0;
  const bool timed = block_needs_start(VisaFunction::In16, session, space, first_offset);
  const Clock::time_point start = timed ? Clock::now() : Clock::time_point{};
  const ViBusSize made =
      inner().in16_run(session, space, first_offset, values, count, statuses, check);
  if (made != 0) {
    record_block(VisaFunction::In16, session, space, first_offset, values, made, statuses, timed,
                 start);
  }
  return made;
}

ViStatus TracingVisa::out16_run_traced(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                                       const ViUInt16* values, ViBusSize count,
                                       ViStatus* statuses) {
  if (count == 0) return VI_SUCCESS;
  const bool timed = block_needs_start(VisaFunction::Out16, session, space, first_offset);
  const Clock::time_point start = timed ? Clock::now() : Clock::time_point{};
  const ViStatus status = inner().out16_run(session, space, first_offset, values, count, statuses);
  record_block(VisaFunction::Out16, session, space, first_offset, values, count, statuses, timed,
               start);
  return status;
}

void TracingVisa::extend_run_by(const ViUInt16* values, ViBusSize count) {
  const ViBusAddress first_index = (run_next_offset_ - run_.offset) / 2;
  for (ViBusAddress index = first_index; index < kRunValuesKept && index - first_index < count;
       ++index) {
    run_.run_values[index] = values[index - first_index];
  }
  run_last_value_ = values[count - 1];
  run_next_offset_ += 2 * count;
}

void TracingVisa::record_block(VisaFunction function, ViSession session, ViUInt16 space,
                               ViBusAddress first_offset, const ViUInt16* values, ViBusSize count,
                               const ViStatus* statuses, bool timed, Clock::time_point start) {
  // VI_SUCCESS is 0: the block is clean when no status has a bit set (a loop without an exit,
  // which the compiler turns into wide instructions).
  ViStatus any = VI_SUCCESS;
  for (ViBusSize i = 0; i < count; ++i) any |= statuses[i];
  const bool clean = any == VI_SUCCESS;
  if (!timed && clean) {
    extend_run_by(values, count);  // the common case: the open run goes on
    return;
  }
  const Clock::time_point end = Clock::now();
  if (!timed) start = end;
  const Clock::duration span = end - start;
  const auto at = [&](ViBusSize index) {
    return start + span * static_cast<Clock::rep>(index) / static_cast<Clock::rep>(count);
  };
  const auto own_call = [&](ViBusSize index, std::uint64_t value, Clock::time_point from) {
    VisaCall call;
    call.function = function;
    call.object = session;
    call.start = from;
    call.duration = at(index + 1) - from;
    call.status = statuses[index];
    call.space = space;
    call.offset = first_offset + 2 * index;
    call.value = value;
    sink_->record(call);
  };
  if (!runs_) {
    // Every access is a call of its own, as traced_in16 and traced_out16 describe it.
    for (ViBusSize i = 0; i < count; ++i) {
      const bool value_kept = function == VisaFunction::Out16 || statuses[i] >= VI_SUCCESS;
      own_call(i, value_kept ? values[i] : 0, at(i));
    }
    return;
  }
  ViBusSize i = 0;
  while (i < count) {
    const ViBusAddress offset = first_offset + 2 * i;
    const bool extends = extends_run(function, session, space, offset);
    if (statuses[i] != VI_SUCCESS) {
      if (extends) {
        // As failed_in_run: the run ends when the access has failed; the failure keeps no value.
        const Clock::time_point failed = at(i + 1);
        end_run(failed);
        own_call(i, 0, failed);
      } else {
        // As run_access: a failure that would start a run is a call of its own.
        const Clock::time_point from = at(i);
        if (run_key_ != 0) end_run(from);
        own_call(i, statuses[i] >= VI_SUCCESS ? values[i] : 0, from);
      }
      ++i;
      continue;
    }
    ViBusSize next = clean ? count : i + 1;
    while (next < count && statuses[next] == VI_SUCCESS) ++next;
    if (!extends) {
      const Clock::time_point from = at(i);
      if (run_key_ != 0) end_run(from);
      run_access(function, session, space, offset, values[i], VI_SUCCESS, from);
      ++i;
    }
    if (next > i) extend_run_by(values + i, next - i);
    i = next;
  }
}

void append_status_name(std::string& out, ViStatus status) {
  if (const char* name = known_status_name(status)) {
    out += name;
  } else {
    append_hex(out, static_cast<std::uint32_t>(status), 8);
  }
}

std::string status_name(ViStatus status) {
  std::string text;
  append_status_name(text, status);
  return text;
}

std::string escaped_bytes(const unsigned char* bytes, std::size_t count, std::size_t limit) {
  std::string text = "\"";
  const std::size_t shown = count < limit ? count : limit;
  for (std::size_t i = 0; i < shown; ++i) {
    const unsigned char byte = bytes[i];
    switch (byte) {
      case '\n':
        text += "\\n";
        break;
      case '\r':
        text += "\\r";
        break;
      case '\t':
        text += "\\t";
        break;
      case '"':
        text += "\\\"";
        break;
      case '\\':
        text += "\\\\";
        break;
      default:
        if (byte >= 0x20 && byte < 0x7F) {
          text += static_cast<char>(byte);
        } else {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02X", byte);
          text += escape;
        }
    }
  }
  text += '"';
  if (shown < count) text += "...";
  return text;
}

void append_arguments(std::string& out, const VisaCall& call) {
  switch (call.function) {
    case VisaFunction::OpenDefaultRM:
    case VisaFunction::Close:
      return;
    case VisaFunction::FindRsrc:
    case VisaFunction::FindNext:
      out += call.text;
      return;
    case VisaFunction::Open:
      out += call.text;
      out += ", mode ";
      append_decimal(out, call.value);
      out += ", ";
      append_decimal(out, call.timeout_ms);
      out += " ms";
      return;
    case VisaFunction::GetAttribute:
    case VisaFunction::SetAttribute:
      append_hex(out, call.attribute, 8);
      out += ", ";
      append_decimal(out, call.value);
      return;
    case VisaFunction::Write:
    case VisaFunction::Read:
      out += call.text;
      out += ", ";
      append_decimal(out, call.value);
      out += " bytes";
      return;
    case VisaFunction::StatusDesc:
      append_status_name(out, static_cast<ViStatus>(call.value));
      out += ", \"";
      out += call.text;
      out += '"';
      return;
    case VisaFunction::In16:
    case VisaFunction::Out16: {
      append_space(out, call.space);
      out += ", ";
      if (call.count <= 1) {
        append_hex(out, call.offset, 6);
        out += ", ";
        append_hex(out, call.value, 4);
        return;
      }
      append_decimal(out, call.count);
      out += " words ";
      append_hex(out, call.offset, 6);
      out += "..";
      append_hex(out, call.offset + 2 * (call.count - 1), 6);
      out += ", values";
      const std::uint64_t kept = call.count < kRunValuesKept ? call.count : kRunValuesKept;
      for (std::uint64_t i = 0; i < kept; ++i) {
        out += ' ';
        append_hex(out, call.run_values[i], 4);
      }
      if (call.count > kRunValuesKept) {
        out += " ... ";
        append_hex(out, call.value, 4);
      }
      return;
    }
    case VisaFunction::MoveIn16:
    case VisaFunction::MoveOut16:
      append_space(out, call.space);
      out += ", ";
      append_hex(out, call.offset, 6);
      out += ", ";
      append_decimal(out, call.value);
      out += " words";
      return;
    case VisaFunction::Count_:
      break;
  }
}

void append_outcome(std::string& out, const VisaCall& call) {
  if (call.opened != 0) {
    out += ", handle ";
    append_hex(out, call.opened, 8);
  }
  if (call.function == VisaFunction::FindRsrc && call.status >= VI_SUCCESS) {
    out += ", ";
    append_decimal(out, call.value);
    out += " found";
  }
}

std::string describe_arguments(const VisaCall& call) {
  std::string text;
  append_arguments(text, call);
  return text;
}

std::string describe_outcome(const VisaCall& call) {
  std::string text;
  append_outcome(text, call);
  return text;
}

std::string describe_call(const VisaCall& call) {
  std::string line = function_name(call.function);
  if (call.count > 1) {
    line += " x";
    append_decimal(line, call.count);
  }
  line += '(';
  if (call.function != VisaFunction::OpenDefaultRM) append_hex(line, call.object, 8);
  const std::size_t before = line.size();
  line += ", ";
  append_arguments(line, call);
  if (line.size() == before + 2) line.resize(before);  // no arguments: no separator either
  line += ") -> ";
  append_status_name(line, call.status);
  append_outcome(line, call);
  return line;
}

}  // namespace visa
