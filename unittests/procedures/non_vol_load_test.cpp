// "Load Non-Vol": the address asked for, the lines written, and the failure path.
#include <gtest/gtest.h>

#include "procedures/non_vol_load.h"
#include "sim/sim_chassis.h"
#include "testing/comma_locale.h"
#include "testing/sim_station.h"

namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

class NonVolLoadTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  NonVolLoadTest() : load(station, [this] { ++program_ends; }) {}

  procedures::NonVolLoad load;
  int program_ends = 0;
};

const Texts kLines{"vxi_scan();", "nvsetflag(1);", "nvsetvxireg(0, #H86c5);",
                   "nvsetvxireg(1, #H27b4);"};

TEST_F(NonVolLoadTest, TheDefaultAnswerAddressesLogicalAddressEight) {
  load.load_non_vol();
  ASSERT_EQ(person.shown.size(), 2U);
  EXPECT_EQ(person.shown[0].text, "What is the address of UUT");
  EXPECT_EQ(person.shown[0].title, "");
  EXPECT_EQ(person.shown[1].text, "Non-Vol memory has been load, Restart the chassis");
  EXPECT_EQ(load.state().resource, "VXI0::8::INSTR");
  EXPECT_EQ(chassis.module_at(8)->command_log(), kLines);
  EXPECT_EQ(chassis.open_session_count(), 0);
  EXPECT_EQ(program_ends, 0);
  // The last line's length is the shared write count.
  EXPECT_EQ(station.driver_state.returned_count, kLines.back().size());
}

TEST_F(NonVolLoadTest, AnsweringTwentyFourWritesTheLinesToThatModule) {
  person.answers.push_back(std::string("24"));
  load.load_non_vol();
  EXPECT_EQ(chassis.module_at(24)->command_log(), kLines);
  EXPECT_TRUE(chassis.module_at(8)->command_log().empty());
  EXPECT_EQ(person.texts().back(), "Non-Vol memory has been load, Restart the chassis");
  // The unit records are not touched.
  EXPECT_EQ(station.units.uut.session, 0U);
}

TEST_F(NonVolLoadTest, CancellingTheInputBoxEndsTheProgramAfterTwoBoxes) {
  person.answers.push_back(std::nullopt);
  load.load_non_vol();
  EXPECT_EQ(person.texts(),
            (Texts{"What is the address of UUT", "Type mismatch", "Program will shut down"}));
  EXPECT_EQ(program_ends, 1);
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST_F(NonVolLoadTest, ANumberOutOfRangeOverflows) {
  person.answers.push_back(std::string("40000"));
  load.load_non_vol();
  EXPECT_EQ(person.texts()[1], "Overflow");
  EXPECT_EQ(program_ends, 1);
}

TEST_F(NonVolLoadTest, ANegativeAddressFailsToOpenSilentlyAndStillCompletes) {
  person.answers.push_back(std::string("-1"));
  load.load_non_vol();
  EXPECT_EQ(load.state().resource, "VXI0::-1::INSTR");
  EXPECT_LT(station.driver_state.last_visa_status, 0);
  EXPECT_EQ(person.texts().back(), "Non-Vol memory has been load, Restart the chassis");
  EXPECT_EQ(program_ends, 0);
}

TEST_F(NonVolLoadTest, AnAddressWithAFractionIsReadWithItsPointInAnyLocale) {
  QUOR_IN_COMMA_LOCALE(locale);
  person.answers.push_back(std::string("23.6"));
  load.load_non_vol();
  EXPECT_EQ(program_ends, 0);
  EXPECT_EQ(chassis.module_at(24)->command_log(), kLines);
}

struct AddressRow {
  const char* answer;
  std::int16_t value;
  const char* error;  // empty when the answer converts
};

void PrintTo(const AddressRow& row, std::ostream* out) { *out << '"' << row.answer << '"'; }

class AddressInCommaLocaleTest : public ::testing::TestWithParam<AddressRow> {};

TEST_P(AddressInCommaLocaleTest, ConvertsWithThePointAsDecimalPoint) {
  QUOR_IN_COMMA_LOCALE(locale);
  const procedures::AddressConversion converted =
      procedures::convert_address(std::string(GetParam().answer));
  EXPECT_EQ(converted.error, GetParam().error);
  if (std::string(GetParam().error).empty()) {
    EXPECT_EQ(converted.value, GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AddressInCommaLocaleTest,
    ::testing::Values(AddressRow{"24.6", 25, ""}, AddressRow{"2.5", 2, ""},
                      AddressRow{"-.5", 0, ""}, AddressRow{"2.4E1", 24, ""},
                      AddressRow{"1.5e-1", 0, ""}, AddressRow{"24,6", 0, "Type mismatch"},
                      AddressRow{"32767.4", 32767, ""}, AddressRow{"32767.6", 0, "Overflow"},
                      AddressRow{"1.", 1, ""}, AddressRow{".", 0, "Type mismatch"}));

TEST(AddressConversionTest, ConvertsTheWayTheLanguageConvertsText) {
  EXPECT_EQ(procedures::convert_address(std::string("8")).value, 8);
  EXPECT_EQ(procedures::convert_address(std::string(" 24 ")).value, 24);
  EXPECT_EQ(procedures::convert_address(std::string("-1")).value, -1);
  EXPECT_EQ(procedures::convert_address(std::string("2.5")).value, 2);
  EXPECT_EQ(procedures::convert_address(std::string("3.5")).value, 4);
  EXPECT_EQ(procedures::convert_address(std::string("&H18")).value, 24);
  EXPECT_EQ(procedures::convert_address(std::string("&H0018")).value, 24);
  EXPECT_EQ(procedures::convert_address(std::string("&O30")).value, 24);
  EXPECT_EQ(procedures::convert_address(std::string("&HFFFF")).value, -1);
  EXPECT_EQ(procedures::convert_address(std::string("&H10000")).error, "Overflow");
  EXPECT_EQ(procedures::convert_address(std::string("&H")).error, "Type mismatch");
  EXPECT_EQ(procedures::convert_address(std::string("&O9")).error, "Type mismatch");
  EXPECT_EQ(procedures::convert_address(std::string("32767")).value, 32767);
  EXPECT_EQ(procedures::convert_address(std::string("-32768")).value, -32768);
  EXPECT_EQ(procedures::convert_address(std::string("32768")).error, "Overflow");
  EXPECT_EQ(procedures::convert_address(std::string("1e9")).error, "Overflow");
  EXPECT_EQ(procedures::convert_address(std::string("")).error, "Type mismatch");
  EXPECT_EQ(procedures::convert_address(std::string("abc")).error, "Type mismatch");
  EXPECT_EQ(procedures::convert_address(std::string("12abc")).error, "Type mismatch");
  EXPECT_EQ(procedures::convert_address(std::string("inf")).error, "Type mismatch");
  EXPECT_EQ(procedures::convert_address(std::nullopt).error, "Type mismatch");
}

}  // namespace
