// Reading the leading number of a module reply.
#include <gtest/gtest.h>

#include "driver/number_text.h"

namespace {

TEST(LeadingNumberTest, ReadsSignDigitsFractionAndExponent) {
  EXPECT_DOUBLE_EQ(driver::leading_number("20\n"), 20);
  EXPECT_DOUBLE_EQ(driver::leading_number("  -113,\"Undefined header\""), -113);
  EXPECT_DOUBLE_EQ(driver::leading_number("+1.25V"), 1.25);
  EXPECT_DOUBLE_EQ(driver::leading_number(".5"), 0.5);
  EXPECT_DOUBLE_EQ(driver::leading_number("1.2E3x"), 1200);
  EXPECT_DOUBLE_EQ(driver::leading_number("1.2E"), 1.2);
  EXPECT_DOUBLE_EQ(driver::leading_number("1 2 3"), 123);
  EXPECT_DOUBLE_EQ(driver::leading_number("&H1F"), 31);
  EXPECT_DOUBLE_EQ(driver::leading_number("&HFFFF"), -1);
}

TEST(LeadingNumberTest, TextWithoutANumberReadsZero) {
  EXPECT_DOUBLE_EQ(driver::leading_number(""), 0);
  EXPECT_DOUBLE_EQ(driver::leading_number("abc"), 0);
  EXPECT_DOUBLE_EQ(driver::leading_number("-"), 0);
  EXPECT_DOUBLE_EQ(driver::leading_number("."), 0);
}

TEST(LeadingNumberTest, IntegerConversionRoundsToEvenAndRefusesOverflow) {
  EXPECT_EQ(driver::leading_int16("2.5"), 2);
  EXPECT_EQ(driver::leading_int16("3.5"), 4);
  EXPECT_EQ(driver::leading_int16("-4"), -4);
  EXPECT_EQ(driver::leading_int16("32767"), 32767);
  EXPECT_EQ(driver::leading_int16("32768"), 0);
  EXPECT_EQ(driver::leading_int32("-113,"), -113);
  EXPECT_EQ(driver::leading_int32("1e300"), 0);
}

}  // namespace
