// Numbers keep "." as their decimal point whatever locale the process runs in: the readers of
// module replies and the writer of command numbers, each checked under a comma-decimal locale.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/number_text.h"
#include "testing/comma_locale.h"

namespace {

struct ReadRow {
  const char* reply;
  double value;
};

void PrintTo(const ReadRow& row, std::ostream* out) { *out << '"' << row.reply << '"'; }

class LeadingNumberInCommaLocaleTest : public ::testing::TestWithParam<ReadRow> {};

TEST_P(LeadingNumberInCommaLocaleTest, ReadsThePointAsTheDecimalPoint) {
  QUOR_IN_COMMA_LOCALE(locale);
  EXPECT_DOUBLE_EQ(driver::leading_number(GetParam().reply), GetParam().value);
  const auto any = driver::leading_number_if_any(GetParam().reply);
  ASSERT_TRUE(any.has_value());
  EXPECT_DOUBLE_EQ(*any, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LeadingNumberInCommaLocaleTest,
    ::testing::Values(ReadRow{"1.250000", 1.25},          // CAL?
                      ReadRow{"-1.2500099", -1.2500099},  // CAL?, more digits than kept
                      ReadRow{" .6999999", 0.6999999},    // no digit before the point
                      ReadRow{"2.5E1", 25}, ReadRow{"1.5D-2", 0.015},
                      ReadRow{"1,5", 1},                           // a comma ends the number
                      ReadRow{"-113,\"Undefined header\"", -113},  // SYST:ERR?
                      ReadRow{"4\n", 4},                           // the status byte
                      ReadRow{"&H1F", 31}));

struct RoundRow {
  const char* reply;
  std::int16_t value;
};

void PrintTo(const RoundRow& row, std::ostream* out) { *out << '"' << row.reply << '"'; }

class IntegerInCommaLocaleTest : public ::testing::TestWithParam<RoundRow> {};

TEST_P(IntegerInCommaLocaleTest, RoundsTheFullValue) {
  QUOR_IN_COMMA_LOCALE(locale);
  EXPECT_EQ(driver::leading_int16(GetParam().reply), GetParam().value);
  EXPECT_EQ(driver::leading_int32(GetParam().reply), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Replies, IntegerInCommaLocaleTest,
                         ::testing::Values(RoundRow{"3.5", 4}, RoundRow{"2.5", 2},
                                           RoundRow{"0.75", 1}, RoundRow{"-1.6", -2},
                                           RoundRow{"4.0E0", 4}));

struct WriteRow {
  double value;
  const char* text;
};

void PrintTo(const WriteRow& row, std::ostream* out) { *out << '"' << row.text << '"'; }

class BasicNumberTextInCommaLocaleTest : public ::testing::TestWithParam<WriteRow> {};

TEST_P(BasicNumberTextInCommaLocaleTest, WritesThePoint) {
  QUOR_IN_COMMA_LOCALE(locale);
  EXPECT_EQ(driver::basic_number_text(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, BasicNumberTextInCommaLocaleTest,
                         ::testing::Values(WriteRow{1.25, " 1.25"}, WriteRow{-0.1, "-.1"},
                                           WriteRow{0.6999999, " .6999999"},
                                           WriteRow{1e8, " 1E+08"},
                                           WriteRow{-1.234568e-7, "-1.234568E-07"},
                                           WriteRow{12345.67, " 12345.67"}));

}  // namespace
