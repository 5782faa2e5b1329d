#include "sim/resource_expression.h"

#include <bitset>
#include <cctype>
#include <functional>
#include <vector>

namespace sim {

namespace {

unsigned char lower(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

enum class Quantifier { One, ZeroOrMore, OneOrMore };

}  // namespace

// One element of a sequence: a character test or a parenthesised group, with its quantifier.
struct Element {
  enum class Kind { Literal, Any, Class, Group } kind = Kind::Literal;
  unsigned char literal = 0;  // lower case
  std::bitset<256> members;   // Class: lower-case members
  bool negated = false;       // Class: [^...]
  std::unique_ptr<ResourceExpression::Alternatives> group;
  Quantifier quantifier = Quantifier::One;
};

struct ResourceExpression::Alternatives {
  std::vector<std::vector<Element>> branches;
};

namespace {

using Alternatives = ResourceExpression::Alternatives;
using Continuation = std::function<bool(std::size_t)>;

// Recursive-descent parser; every failure leaves `ok` false.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::unique_ptr<Alternatives> parse() {
    auto root = parse_alternatives();
    if (!ok_ || pos_ != text_.size()) return nullptr;
    return root;
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  std::unique_ptr<Alternatives> parse_alternatives() {
    auto alternatives = std::make_unique<Alternatives>();
    while (ok_) {
      std::vector<Element> sequence = parse_sequence();
      if (sequence.empty()) ok_ = false;  // empty expression or empty branch
      alternatives->branches.push_back(std::move(sequence));
      if (at_end() || peek() != '|') break;
      ++pos_;
    }
    return alternatives;
  }

  std::vector<Element> parse_sequence() {
    std::vector<Element> sequence;
    while (ok_ && !at_end() && peek() != '|' && peek() != ')') {
      const char c = peek();
      if (c == '*' || c == '+') {
        // A quantifier needs an unquantified element in front of it.
        if (sequence.empty() || sequence.back().quantifier != Quantifier::One) {
          ok_ = false;
          break;
        }
        sequence.back().quantifier = c == '*' ? Quantifier::ZeroOrMore : Quantifier::OneOrMore;
        ++pos_;
        continue;
      }
      sequence.push_back(parse_element());
    }
    return sequence;
  }

  Element parse_element() {
    Element element;
    const char c = text_[pos_++];
    switch (c) {
      case '?':
        element.kind = Element::Kind::Any;
        break;
      case '\\':
        if (at_end()) {
          ok_ = false;
          break;
        }
        element.literal = lower(text_[pos_++]);
        break;
      case '[':
        parse_class(element);
        break;
      case '(':
        element.kind = Element::Kind::Group;
        element.group = parse_alternatives();
        if (at_end() || peek() != ')') {
          ok_ = false;
        } else {
          ++pos_;
        }
        break;
      case ']':
        ok_ = false;
        break;
      default:
        element.literal = lower(c);
        break;
    }
    return element;
  }

  // After the opening bracket: members up to the closing one.
  void parse_class(Element& element) {
    element.kind = Element::Kind::Class;
    if (!at_end() && peek() == '^') {
      element.negated = true;
      ++pos_;
    }
    bool any = false;
    while (!at_end() && peek() != ']') {
      char first = text_[pos_++];
      if (first == '\\') {
        if (at_end()) break;
        first = text_[pos_++];
      }
      char last = first;
      if (pos_ + 1 < text_.size() && peek() == '-' && text_[pos_ + 1] != ']') {
        last = text_[pos_ + 1];
        pos_ += 2;
        if (static_cast<unsigned char>(last) < static_cast<unsigned char>(first)) {
          ok_ = false;
          return;
        }
      }
      for (unsigned v = static_cast<unsigned char>(first); v <= static_cast<unsigned char>(last);
           ++v) {
        element.members.set(lower(static_cast<char>(v)));
      }
      any = true;
    }
    if (at_end() || !any) {
      ok_ = false;
      return;
    }
    ++pos_;  // the closing bracket
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Backtracking matcher over the parsed expression, with continuations. Nested repetitions can
// make backtracking take time exponential in the name's length ("(x*)+y" against many x), so
// the matcher gives up after a number of steps far beyond what any real expression and
// resource name need, and that name then does not match.
class Matcher {
 public:
  static constexpr std::size_t kStepLimit = 1'000'000;

  explicit Matcher(std::string_view name) : name_(name) {}

  bool alternatives(const Alternatives& alts, std::size_t pos, const Continuation& next) const {
    for (const auto& branch : alts.branches) {
      if (sequence(branch, 0, pos, next)) return true;
    }
    return false;
  }

  bool gave_up() const { return steps_ > kStepLimit; }

 private:
  bool sequence(const std::vector<Element>& seq, std::size_t index, std::size_t pos,
                const Continuation& next) const {
    if (index == seq.size()) return next(pos);
    const Continuation rest = [&](std::size_t p) { return sequence(seq, index + 1, p, next); };
    const Element& element = seq[index];
    switch (element.quantifier) {
      case Quantifier::One:
        return once(element, pos, rest);
      case Quantifier::ZeroOrMore:
        return repeated(element, pos, rest);
      case Quantifier::OneOrMore:
        return once(element, pos, [&](std::size_t p) { return repeated(element, p, rest); });
    }
    return false;
  }

  // Greedy: as many repetitions as will still let the rest match. A repetition that consumed
  // nothing ends the loop, so a group that can match empty text cannot spin.
  bool repeated(const Element& element, std::size_t pos, const Continuation& next) const {
    const bool more =
        once(element, pos, [&](std::size_t p) { return p > pos && repeated(element, p, next); });
    return more || next(pos);
  }

  bool once(const Element& element, std::size_t pos, const Continuation& next) const {
    if (++steps_ > kStepLimit) return false;
    if (element.kind == Element::Kind::Group) return alternatives(*element.group, pos, next);
    if (pos >= name_.size()) return false;
    const unsigned char c = lower(name_[pos]);
    bool hit = false;
    switch (element.kind) {
      case Element::Kind::Any:
        hit = true;
        break;
      case Element::Kind::Literal:
        hit = c == element.literal;
        break;
      case Element::Kind::Class:
        hit = element.members.test(c) != element.negated;
        break;
      case Element::Kind::Group:
        break;
    }
    return hit && next(pos + 1);
  }

  std::string_view name_;
  mutable std::size_t steps_ = 0;
};

}  // namespace

ResourceExpression::ResourceExpression(std::string_view text) : root_(Parser(text).parse()) {}

ResourceExpression::~ResourceExpression() = default;

bool ResourceExpression::matches(std::string_view name) const {
  if (!root_) return false;
  const Matcher matcher(name);
  return matcher.alternatives(
      *root_, 0, [&](std::size_t end) { return end == name.size() && !matcher.gave_up(); });
}

}  // namespace sim
