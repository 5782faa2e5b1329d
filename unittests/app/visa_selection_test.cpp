// The start-up choice between an installed VISA library and the built-in simulated chassis.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/visa_selection.h"

namespace {

bool mentions(const std::vector<std::string>& lines, const std::string& word) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(word) != std::string::npos; });
}

TEST(VisaSelectionTest, TheFirstCompleteLibraryWhoseManagerOpensIsUsed) {
  const app::VisaChoice choice = app::choose_visa(
      {"/nonexistent/libvisa.so", QUOR_FAKE_NO_MOVE_OUT16_PATH, QUOR_FAKE_COMPLETE_PATH});
  ASSERT_NE(choice.library, nullptr);
  EXPECT_FALSE(choice.in_use.simulated);
  EXPECT_EQ(choice.in_use.description, QUOR_FAKE_COMPLETE_PATH);
  EXPECT_EQ(choice.clock, nullptr);
  ASSERT_EQ(choice.refused.size(), 2U);
  EXPECT_TRUE(mentions(choice.refused, "/nonexistent/libvisa.so"));
  EXPECT_TRUE(mentions(choice.refused, "viMoveOut16"));
}

TEST(VisaSelectionTest, TheExportedSimulatedChassisIsNeverTakenForARealLibrary) {
  const app::VisaChoice choice = app::choose_visa({QUOR_SIM_VISA_PATH});
  ASSERT_NE(choice.library, nullptr);
  EXPECT_TRUE(choice.in_use.simulated);
  EXPECT_NE(choice.in_use.description.find(QUOR_SIM_VISA_PATH), std::string::npos);
}

TEST(VisaSelectionTest, WithoutAUsableLibraryTheBuiltInChassisServes) {
  const app::VisaChoice choice = app::choose_visa({"/nonexistent/libvisa.so"});
  ASSERT_NE(choice.library, nullptr);
  EXPECT_TRUE(choice.in_use.simulated);
  EXPECT_NE(choice.clock, nullptr);
  visa::ViSession manager = 0;
  ASSERT_EQ(choice.library->viOpenDefaultRM(&manager), visa::VI_SUCCESS);
  visa::ViFindList list = 0;
  visa::ViUInt32 count = 0;
  char name[visa::VI_FIND_BUFLEN] = {};
  EXPECT_EQ(choice.library->viFindRsrc(manager, "?*VXI[0-9]*::?*INSTR", &list, &count, name),
            visa::VI_SUCCESS);
  EXPECT_EQ(std::string(name), "VXI0::8::INSTR");
  EXPECT_EQ(choice.library->viClose(manager), visa::VI_SUCCESS);
}

}  // namespace
