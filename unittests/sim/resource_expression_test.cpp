#include "sim/resource_expression.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

bool match(const char* expression, const char* name) {
  const ResourceExpression compiled(expression);
  EXPECT_TRUE(compiled.valid()) << expression;
  return compiled.matches(name);
}

TEST(ResourceExpression, StationSearchFindsVxiInstrumentsOnly) {
  const char* search = "?*VXI[0-9]*::?*INSTR";
  EXPECT_TRUE(match(search, "VXI0::8::INSTR"));
  EXPECT_TRUE(match(search, "VXI12::255::INSTR"));
  EXPECT_TRUE(match(search, "GPIB-VXI0::24::INSTR"));
  EXPECT_TRUE(match(search, "vxi0::8::instr")) << "VISA matches regardless of case";
  EXPECT_FALSE(match(search, "VXI0::8::MEMACC"));
  EXPECT_FALSE(match(search, "VXI0::8::INSTRX")) << "the whole name must match";
  EXPECT_FALSE(match(search, "GPIB0::8::INSTR"));
  EXPECT_TRUE(match(search, "VXI0::INSTR")) << "?* also matches nothing";
  EXPECT_FALSE(match(search, "VXI0-8-INSTR"));
  // "VXI[0-9]*" allows the board number to be left out.
  EXPECT_TRUE(match(search, "VXI::8::INSTR"));
}

TEST(ResourceExpression, ElementsAndQuantifiers) {
  EXPECT_TRUE(match("VXI?::8", "VXI3::8"));
  EXPECT_FALSE(match("VXI?::8", "VXI::8"));
  EXPECT_TRUE(match("A[^0-9]C", "AbC"));
  EXPECT_FALSE(match("A[^0-9]C", "A5C"));
  EXPECT_TRUE(match("AB+C", "ABBBC"));
  EXPECT_FALSE(match("AB+C", "AC"));
  EXPECT_TRUE(match("AB*C", "AC"));
  EXPECT_TRUE(match("GPIB?*|VXI?*", "VXI0::1::INSTR"));
  EXPECT_TRUE(match("(GPIB|VXI)0::?*", "GPIB0::5::INSTR"));
  EXPECT_FALSE(match("(GPIB|VXI)0::?*", "ASRL0::5::INSTR"));
  EXPECT_TRUE(match("(AB)*C", "ABABC"));
  EXPECT_TRUE(match("A\\*B", "A*B"));
  EXPECT_FALSE(match("A\\*B", "AAB"));
  // Greedy repetition gives back what the rest of the expression needs.
  EXPECT_TRUE(match("?*::?*::INSTR", "VXI0::8::INSTR"));
}

TEST(ResourceExpression, MalformedExpressionsAreInvalid) {
  for (const char* bad :
       {"", "*VXI", "VXI[0-9", "VXI]", "(VXI", "VXI)", "VXI|", "A**", "[]", "VXI\\", "[9-0]"}) {
    const ResourceExpression compiled(bad);
    EXPECT_FALSE(compiled.valid()) << bad;
    EXPECT_FALSE(compiled.matches("VXI0::8::INSTR")) << bad;
  }
}

}  // namespace
}  // namespace sim
