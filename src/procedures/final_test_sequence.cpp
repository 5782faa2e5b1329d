// The final test's steps: the default order, the cabling each step needs, and the sequence file
// a test engineer writes.
#include <cctype>
#include <string>

#include "procedures/bus_test_texts.h"
#include "procedures/final_test.h"

namespace procedures {
namespace {

using K = core::ProcedureKind;

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A step may be any procedure that tests the unit: not an initialization (the sequence runs
// those itself) nor Load Non-Vol (it writes a module's settings, it tests nothing).
bool may_be_a_step(K kind) {
  switch (kind) {
    case K::initialize_uut:
    case K::initialize_qcu:
    case K::initialize_all:
    case K::load_non_vol:
      return false;
    default:
      return true;
  }
}

}  // namespace

Sequence default_sequence() {
  return {"default",
          {K::self_test, K::memory_test,
           // QCU output to UUT input 1
           K::rec, K::recm, K::stamp,
           // UUT output to QCU input 1
           K::trnsrecm, K::trnorecm, K::trndrecm, K::trncrecm,
           // UUT output to UUT input 1, then to UUT input 2
           K::self_loop, K::self_long, K::self_loop2}};
}

std::string_view cabling_of(core::ProcedureKind kind) {
  switch (kind) {
    case K::rec:
    case K::recm:
    case K::stamp:
      return text::kQcuToUut;
    case K::trnsrecm:
    case K::trnorecm:
    case K::trndrecm:
    case K::trncrecm:
      return text::kUutToQcu;
    case K::self_loop:
    case K::self_long:
      return text::kUutToInput1;
    case K::self_loop2:
      return text::kUutToInput2;
    default:
      return {};
  }
}

std::variant<Sequence, SequenceError> parse_sequence(std::string_view text, std::string name) {
  Sequence sequence{std::move(name), {}};
  int number = 0;
  while (!text.empty() || number == 0) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (const std::size_t comment = line.find('#'); comment != std::string_view::npos) {
      line = line.substr(0, comment);
    }
    line = trimmed(line);
    if (line.empty()) {
      if (text.empty()) break;
      continue;
    }
    const core::ProcedureRow* found = nullptr;
    for (const core::ProcedureRow& row : core::procedure_table()) {
      if (same_ignoring_case(line, row.caption) || same_ignoring_case(line, row.stored_id)) {
        found = &row;
        break;
      }
    }
    if (found == nullptr) {
      return SequenceError{number, "line " + std::to_string(number) + ": \"" + std::string(line) +
                                       "\" is no procedure; a line names one by its caption "
                                       "(\"REC\", \"Self Test\") or its stored id (\"self_test\")"};
    }
    if (!may_be_a_step(found->kind)) {
      return SequenceError{number, "line " + std::to_string(number) + ": " +
                                       std::string(found->caption) +
                                       " cannot be a step; the final test initializes the units "
                                       "itself and loads no settings"};
    }
    sequence.steps.push_back(found->kind);
  }
  if (sequence.steps.empty()) {
    return SequenceError{number, "line " + std::to_string(number) +
                                     ": the sequence names no procedure; it needs one at least"};
  }
  return sequence;
}

}  // namespace procedures
