// Writing single-precision values into commands, and telling a reply that holds no number from
// one that holds 0.
#include <gtest/gtest.h>

#include "driver/number_text.h"

namespace {

using driver::basic_number_text;

// The calibration's Up and Down: the sum is formed in double precision and kept in single.
float stepped(float value, double step, int times) {
  for (int i = 0; i < times; ++i) value = static_cast<float>(static_cast<double>(value) + step);
  return value;
}

TEST(BasicNumberTextTest, SignPositionAndNoZeroBeforeThePoint) {
  EXPECT_EQ(basic_number_text(1.2f), " 1.2");
  EXPECT_EQ(basic_number_text(0.9f), " .9");
  EXPECT_EQ(basic_number_text(-0.9f), "-.9");
  EXPECT_EQ(basic_number_text(-0.1f), "-.1");
  EXPECT_EQ(basic_number_text(0.0), " 0");
  EXPECT_EQ(basic_number_text(-0.0), " 0");
  EXPECT_EQ(basic_number_text(1.0), " 1");
  EXPECT_EQ(basic_number_text(-12.5), "-12.5");
  EXPECT_EQ(basic_number_text(100), " 100");
  EXPECT_EQ(basic_number_text(0.05f), " .05");
  EXPECT_EQ(basic_number_text(-0.0125f), "-.0125");
}

TEST(BasicNumberTextTest, SevenSignificantDigitsOfTheSingleValue) {
  // 1.1f is 1.10000002384...: seven digits drop the binary tail.
  EXPECT_EQ(basic_number_text(1.1f), " 1.1");
  EXPECT_EQ(basic_number_text(1.1), " 1.1");
  EXPECT_EQ(basic_number_text(1234567.0), " 1234567");
  EXPECT_EQ(basic_number_text(3.14159265358979), " 3.141593");
  EXPECT_EQ(basic_number_text(-2.0 / 3.0), "-.6666667");
  EXPECT_EQ(basic_number_text(0.123456789), " .1234568");
}

TEST(BasicNumberTextTest, CalibrationStepsKeepTheirRoundingDigits) {
  EXPECT_EQ(basic_number_text(stepped(1.0f, 0.1, 5)), " 1.5");
  EXPECT_EQ(basic_number_text(stepped(1.0f, 0.1, 2)), " 1.2");
  // Three steps down from 1 leave 0.699999928 in single precision.
  EXPECT_EQ(basic_number_text(stepped(1.0f, -0.1, 3)), " .6999999");
  // Ten steps down from 1 miss 0 by the accumulated error.
  EXPECT_EQ(basic_number_text(stepped(1.0f, -0.1, 10)), "-7.301569E-08");
  EXPECT_EQ(basic_number_text(stepped(0.0f, -0.1, 1)), "-.1");
  EXPECT_EQ(basic_number_text(stepped(0.0f, -0.1, 3)), "-.3");
}

TEST(BasicNumberTextTest, VeryLargeAndVerySmallValuesUseTheExponentForm) {
  EXPECT_EQ(basic_number_text(1e8), " 1E+08");
  EXPECT_EQ(basic_number_text(12345678.0), " 1.234568E+07");
  EXPECT_EQ(basic_number_text(9999999.7), " 1E+07");
  EXPECT_EQ(basic_number_text(-2.5e-7), "-2.5E-07");
  EXPECT_EQ(basic_number_text(0.0001f), " .0001");
  EXPECT_EQ(basic_number_text(0.00001f), " 1E-05");
  EXPECT_EQ(basic_number_text(3e38), " 3E+38");
}

TEST(LeadingNumberIfAnyTest, TellsNoNumberFromZero) {
  EXPECT_EQ(driver::leading_number_if_any("0.000000"), 0.0);
  EXPECT_EQ(driver::leading_number_if_any("1.500000"), 1.5);
  EXPECT_EQ(driver::leading_number_if_any("-0.10000"), -0.1);
  EXPECT_EQ(driver::leading_number_if_any("&H10"), 16.0);
  EXPECT_FALSE(driver::leading_number_if_any("        ").has_value());
  EXPECT_FALSE(driver::leading_number_if_any("ERR").has_value());
  EXPECT_FALSE(driver::leading_number_if_any("-.").has_value());
  EXPECT_FALSE(driver::leading_number_if_any("&H").has_value());
  // leading_number keeps reading no number as 0.
  EXPECT_EQ(driver::leading_number("ERR"), 0.0);
}

}  // namespace
