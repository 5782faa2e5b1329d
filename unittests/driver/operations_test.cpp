// Searching the chassis for Quor Bus modules, opening one, resetting it, validating a mode.
#include <gtest/gtest.h>

#include <array>

#include "driver_fixture.h"

namespace driver_tests {
namespace {

using sim::VisaFunction;
using visa::VI_SUCCESS;

struct Table {
  std::array<std::int16_t, 256> la{};
  std::array<std::int16_t, 256> slot{};
  std::array<std::uint16_t, 256> intf{};
  std::int16_t count = -7;
  std::int16_t gpib = -7;
};

visa::ViStatus find(driver::QuorDriver& driver, Table& t) {
  return driver.quor_find_modules(t.la, t.slot, t.intf, t.count, t.gpib);
}

class FindModulesTest : public DriverTest {
 protected:
  using DriverTest::DriverTest;
};

TEST_F(FindModulesTest, StandardBenchFindsBothQuorModulesInSearchOrderAndClosesEverything) {
  Table t;
  EXPECT_EQ(find(driver, t), VI_SUCCESS);
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.gpib, 0);
  EXPECT_EQ(t.la[0], 8);
  EXPECT_EQ(t.la[1], 24);
  EXPECT_EQ(t.slot[0], module(8).config().slot);
  EXPECT_EQ(t.slot[1], module(24).config().slot);
  EXPECT_EQ(t.intf[0], 0);
  EXPECT_EQ(t.intf[1], 0);
  EXPECT_NE(state.default_rm, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

class GpibFindTest : public DriverTest {
 protected:
  GpibFindTest() : DriverTest(sim::benches::gpib_vxi()) {}
};

TEST_F(GpibFindTest, NamesNotBeginningWithVSetTheGpibFlag) {
  Table t;
  EXPECT_EQ(find(driver, t), VI_SUCCESS);
  EXPECT_EQ(t.gpib, 1);
  EXPECT_EQ(t.count, 2);
}

class EmptyFindTest : public DriverTest {
 protected:
  EmptyFindTest() : DriverTest(sim::benches::empty()) {}
};

TEST_F(EmptyFindTest, NoResourceReturnsTheSearchStatusAndLeavesTheOutputs) {
  Table t;
  EXPECT_EQ(find(driver, t), visa::VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(t.count, -7);
  EXPECT_EQ(t.gpib, -7);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

class OtherModelsFindTest : public DriverTest {
 protected:
  OtherModelsFindTest() : DriverTest(sim::benches::other_models_only()) {}
};

TEST_F(OtherModelsFindTest, OnlyOtherModelsGiveSuccessWithCountZero) {
  Table t;
  EXPECT_EQ(find(driver, t), VI_SUCCESS);
  EXPECT_EQ(t.count, 0);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

sim::BenchConfig bench_with_model_code(std::uint16_t model_code) {
  sim::BenchConfig bench = sim::benches::two_quor();
  bench.modules[0].model_code = model_code;
  return bench;
}

class WideModelCodeFindTest : public DriverTest {
 protected:
  // Same low 12 bits as the Quor Bus, another top nibble.
  WideModelCodeFindTest() : DriverTest(bench_with_model_code(0x17B4)) {}
};

TEST_F(WideModelCodeFindTest, TheWholeSixteenBitModelCodeMustMatch) {
  Table t;
  EXPECT_EQ(find(driver, t), VI_SUCCESS);
  ASSERT_EQ(t.count, 1);
  EXPECT_EQ(t.la[0], 24);
}

TEST_F(FindModulesTest, AFailureMidSearchKeepsWhatWasRecordedAndClosesTheManager) {
  module(24).fail_next(VisaFunction::GetAttribute, visa::VI_ERROR_TMO);
  Table t;
  EXPECT_EQ(find(driver, t), visa::VI_ERROR_TMO);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(t.la[0], 8);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

TEST_F(FindModulesTest, AManagerThatDoesNotOpenEndsTheSearchAtOnce) {
  chassis.fail_next(VisaFunction::OpenDefaultRM, visa::VI_ERROR_SYSTEM_ERROR);
  Table t;
  EXPECT_EQ(find(driver, t), visa::VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(t.count, -7);
  EXPECT_EQ(t.gpib, -7);
  EXPECT_EQ(chassis.call_count(VisaFunction::FindRsrc), 0U);
}

TEST_F(FindModulesTest, AFailedFindNextKeepsTheFirstModuleAndClosesTheManager) {
  chassis.fail_next(VisaFunction::FindNext, visa::VI_ERROR_TMO);
  Table t;
  EXPECT_EQ(find(driver, t), visa::VI_ERROR_TMO);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(t.la[0], 8);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

TEST_F(FindModulesTest, ATableTooSmallKeepsTheFirstModulesAndWritesNothingPastIt) {
  std::array<std::int16_t, 2> la{0, 555};
  std::array<std::int16_t, 2> slot{0, 555};
  std::array<std::uint16_t, 2> intf{0, 555};
  std::int16_t count = 0;
  std::int16_t gpib = 0;
  EXPECT_EQ(driver.quor_find_modules(std::span(la).first(1), std::span(slot).first(1),
                                     std::span(intf).first(1), count, gpib),
            VI_SUCCESS);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(la[0], 8);
  EXPECT_EQ(la[1], 555);
  EXPECT_EQ(slot[1], 555);
  EXPECT_EQ(intf[1], 555);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

class InitTest : public DriverTest {
 protected:
  using DriverTest::DriverTest;
};

TEST_F(InitTest, DefaultOpenChecksIdentityResetsAndSetsTheTimeout) {
  visa::ViSession session = 0;
  EXPECT_EQ(driver.quor_init("VXI0::24::INSTR", 1, 1, session), VI_SUCCESS);
  ASSERT_NE(session, 0U);
  EXPECT_EQ(chassis.module_of(session), &module(24));
  EXPECT_EQ(module(24).reset_count(), 1U);
  EXPECT_EQ(module(24).attribute_read_count(visa::VI_ATTR_MANF_ID), 1U);
  EXPECT_EQ(module(24).attribute_read_count(visa::VI_ATTR_MODEL_CODE), 1U);
  EXPECT_EQ(chassis.session_timeout_ms(session), 8000U);
  EXPECT_EQ(driver.quor_close(session), VI_SUCCESS);
  // The manager opened for the session went with it.
  EXPECT_EQ(chassis.open_object_count(), 0);
}

TEST_F(InitTest, NoIdQueryAndNoResetOpenWithNeither) {
  visa::ViSession session = 0;
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 0, 0, session), VI_SUCCESS);
  ASSERT_NE(session, 0U);
  EXPECT_EQ(module(8).reset_count(), 0U);
  EXPECT_EQ(module(8).attribute_read_count(visa::VI_ATTR_MANF_ID), 0U);
  EXPECT_EQ(module(8).attribute_read_count(visa::VI_ATTR_MODEL_CODE), 0U);
  EXPECT_EQ(chassis.session_timeout_ms(session), 8000U);
}

TEST_F(InitTest, OutOfRangeFlagsOpenNothing) {
  visa::ViSession session = 1234;
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 2, 1, session), visa::VI_ERROR_PARAMETER2);
  EXPECT_EQ(session, 0U);
  session = 1234;
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 1, -1, session), visa::VI_ERROR_PARAMETER3);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST_F(InitTest, UnknownResourceLeavesNothingOpen) {
  visa::ViSession session = 0;
  EXPECT_LT(driver.quor_init("VXI0::99::INSTR", 1, 1, session), 0);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

sim::BenchConfig identity_bench(std::uint16_t manufacturer, std::uint16_t model, bool fails) {
  sim::BenchConfig bench = sim::benches::two_quor();
  bench.modules[0].manufacturer_id = manufacturer;
  bench.modules[0].model_code = model;
  bench.modules[0].open_fails = fails;
  return bench;
}

class WrongMakerTest : public DriverTest {
 protected:
  WrongMakerTest() : DriverTest(identity_bench(0x0FFF, 0x7B4, false)) {}
};

TEST_F(WrongMakerTest, ManufacturerMismatchGivesItsCodeAndClosesEverything) {
  visa::ViSession session = 0;
  EXPECT_EQ(static_cast<std::uint32_t>(driver.quor_init("VXI0::8::INSTR", 1, 1, session)),
            0xBFFC0800U);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(module(8).reset_count(), 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
  // Without the identity check the same module opens.
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 0, 1, session), VI_SUCCESS);
  EXPECT_NE(session, 0U);
}

class WrongModelTest : public DriverTest {
 protected:
  WrongModelTest() : DriverTest(identity_bench(0x6C5, 0x7B5, false)) {}
};

TEST_F(WrongModelTest, ModelMismatchGivesItsCode) {
  visa::ViSession session = 0;
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 1, 0, session), driver::QUOR_ERROR_MODEL_CODE);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

class HighBitsIdentityTest : public DriverTest {
 protected:
  HighBitsIdentityTest() : DriverTest(identity_bench(0xF6C5, 0x27B4, false)) {}
};

TEST_F(HighBitsIdentityTest, OnlyTheLowTwelveBitsOfTheIdentityAreCompared) {
  visa::ViSession session = 0;
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 1, 1, session), VI_SUCCESS);
  EXPECT_NE(session, 0U);
}

class OpenFailsTest : public DriverTest {
 protected:
  OpenFailsTest() : DriverTest(identity_bench(0x6C5, 0x7B4, true)) {}
};

TEST_F(OpenFailsTest, FailedOpenHandsBackZeroAndClosesTheManager) {
  visa::ViSession session = 0;
  EXPECT_LT(driver.quor_init("VXI0::8::INSTR", 1, 1, session), 0);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

TEST_F(InitTest, FailedResetClosesTheSession) {
  module(8).fail_next(VisaFunction::Read, visa::VI_ERROR_TMO);
  visa::ViSession session = 0;
  EXPECT_EQ(driver.quor_init("VXI0::8::INSTR", 1, 1, session), visa::VI_ERROR_TMO);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

TEST_F(InitTest, ResetSendsStarRst) {
  const visa::ViSession session = open_module();
  EXPECT_EQ(driver.quor_reset(session), VI_SUCCESS);
  EXPECT_EQ(module().command_count("*RST"), 1U);
  EXPECT_EQ(module().reset_count(), 1U);
}

TEST_F(InitTest, ConfigureModeAcceptsTheEightModesOnly) {
  const visa::ViSession session = open_module();
  EXPECT_EQ(driver.quor_configure_mode(session, 5), VI_SUCCESS);
  EXPECT_EQ(driver.quor_configure_mode(session, 0), VI_SUCCESS);
  EXPECT_EQ(driver.quor_configure_mode(session, 7), VI_SUCCESS);
  EXPECT_EQ(driver.quor_configure_mode(session, 8), visa::VI_ERROR_PARAMETER2);
  EXPECT_EQ(driver.quor_configure_mode(session, -1), visa::VI_ERROR_PARAMETER2);
}

}  // namespace
}  // namespace driver_tests
