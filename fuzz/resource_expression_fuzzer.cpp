// The resource-search expression matcher: the input up to its first line end is the expression,
// the rest the resource name it is matched against.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/resource_expression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\n');
  const std::string_view expression = input.substr(0, split);
  const std::string_view name =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  const sim::ResourceExpression compiled(expression);
  const bool matched = compiled.matches(name);
  if (matched && !compiled.valid()) std::abort();
  // "?*" matches every name.
  if (!sim::ResourceExpression("?*").matches(name)) std::abort();
  return 0;
}
