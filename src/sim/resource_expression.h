// The VISA resource-search expression language, as viFindRsrc takes it:
//   ?        any one character
//   \c       the character c itself
//   [list]   any character of the list (ranges such as 0-9 allowed); [^list] any other
//   x*       zero or more of the preceding character or group; x+ one or more
//   (e)      grouping;  e|f  either expression
// Any other character stands for itself. Matching covers the whole resource name and ignores
// the case of letters, as VISA does.
#pragma once

#include <memory>
#include <string_view>

namespace sim {

class ResourceExpression {
 public:
  // Compiles `text`; valid() is false when the expression is malformed.
  explicit ResourceExpression(std::string_view text);
  ~ResourceExpression();
  ResourceExpression(const ResourceExpression&) = delete;
  ResourceExpression& operator=(const ResourceExpression&) = delete;

  bool valid() const { return root_ != nullptr; }
  // True when the whole of `name` matches; false for an invalid expression.
  bool matches(std::string_view name) const;

  struct Alternatives;

 private:
  std::unique_ptr<Alternatives> root_;
};

}  // namespace sim
