// Inputs the fuzzers (fuzz/) found trouble with, kept as cases.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/number_text.h"
#include "sim/resource_expression.h"

namespace reliability {
namespace {

// Nested repetitions over a name they almost match once took time exponential in the name's
// length ("(x*)+y" against forty x took 2^40 steps): the matcher hung the chassis's viFindRsrc.
TEST(ResourceExpressionFinding, NestedRepetitionsEndOnANameTheyDoNotMatch) {
  const std::string xs(40, 'x');
  EXPECT_FALSE(sim::ResourceExpression("(x*)+y").matches(xs));
  EXPECT_FALSE(sim::ResourceExpression("?*(x*)+(x+)*y").matches(xs));
  EXPECT_FALSE(sim::ResourceExpression("((x|xx)+)+y").matches(xs));
  // The same expressions still match where they should.
  EXPECT_TRUE(sim::ResourceExpression("(x*)+y").matches(xs + "y"));
  EXPECT_TRUE(sim::ResourceExpression("((x|xx)+)+y").matches(xs + "y"));
  EXPECT_TRUE(sim::ResourceExpression("(GPIB|VXI)+[0-9]*::?*INSTR").matches("VXI0::24::INSTR"));
}

// A number past a double's range is a large number, not 0: a self-test reply of 400 digits or
// "1E400" must not read as the passing result 0.
TEST(LeadingNumberFinding, NumbersBeyondADoubleAreInfiniteWithTheirSign) {
  EXPECT_EQ(driver::leading_number(std::string(400, '7')), HUGE_VAL);
  EXPECT_EQ(driver::leading_number("1E400"), HUGE_VAL);
  EXPECT_EQ(driver::leading_number("-1E400"), -HUGE_VAL);
  EXPECT_EQ(driver::leading_number(" 0.00000E999999999999999"), 0.0);
  EXPECT_EQ(driver::leading_number("1E-400"), 0.0);
  EXPECT_EQ(driver::leading_number("-0.000" + std::string(400, '0') + "1"), 0.0);
  // The integer readers still refuse them.
  EXPECT_EQ(driver::leading_int16("1E400"), 0);
  EXPECT_EQ(driver::leading_int32("-1E400"), 0);
}

}  // namespace
}  // namespace reliability
