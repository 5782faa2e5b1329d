// The start-up choice between an installed VISA library and the built-in simulated chassis.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/display_form.h"
#include "station/visa_selection.h"
#include "testing/qt_virtual_pump.h"
#include "testing/scripted_operator.h"

namespace {

bool mentions(const std::vector<std::string>& lines, const std::string& word) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(word) != std::string::npos; });
}

TEST(VisaSelectionTest, TheFirstCompleteLibraryWhoseManagerOpensIsUsed) {
  const station::VisaChoice choice = station::choose_visa(
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
  const station::VisaChoice choice = station::choose_visa({QUOR_SIM_VISA_PATH});
  ASSERT_NE(choice.library, nullptr);
  EXPECT_TRUE(choice.in_use.simulated);
  EXPECT_NE(choice.in_use.description.find(QUOR_SIM_VISA_PATH), std::string::npos);
}

TEST(VisaSelectionTest, WithoutAUsableLibraryTheBuiltInChassisServes) {
  const station::VisaChoice choice = station::choose_visa({"/nonexistent/libvisa.so"});
  ASSERT_NE(choice.library, nullptr);
  EXPECT_TRUE(choice.in_use.simulated);
  // Nothing is installed: nothing to warn about.
  EXPECT_EQ(choice.problem, "");
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

// An installed vendor library that cannot be used is never replaced silently: the technician is
// told at start-up which library and why, and the status line keeps saying it.
struct BrokenLibrary {
  const char* file;
  std::vector<std::string> reason;  // words the warning holds besides the file
};

void PrintTo(const BrokenLibrary& row, std::ostream* out) { *out << row.reason.front(); }

class BrokenLibraryTest : public ::testing::TestWithParam<BrokenLibrary> {};

TEST_P(BrokenLibraryTest, TheStationSaysSoAtStartUpAndOnItsStatusLine) {
  station::VisaChoice choice = station::choose_visa({"/nonexistent/libvisa.so", GetParam().file});
  ASSERT_NE(choice.library, nullptr);
  EXPECT_TRUE(choice.in_use.simulated);
  const std::string& problem = choice.problem;
  EXPECT_NE(problem.find(GetParam().file), std::string::npos) << problem;
  EXPECT_EQ(problem.find("/nonexistent/libvisa.so"), std::string::npos) << problem;
  for (const std::string& word : GetParam().reason) {
    EXPECT_NE(problem.find(word), std::string::npos) << word << " in " << problem;
  }

  testing_support::ScriptedOperator person;
  station::announce_visa_choice(choice, person);
  ASSERT_EQ(person.texts().size(), 1U);
  EXPECT_NE(person.texts()[0].find(GetParam().file), std::string::npos) << person.texts()[0];
  EXPECT_NE(person.texts()[0].find(GetParam().reason.front()), std::string::npos);

  sim::VirtualClock clock;
  testing_support::QtVirtualPump pump(clock);
  core::Station station(*choice.library, person, pump, choice.in_use);
  app::DisplayForm form(station);
  const std::string status_line = form.visaStatusLabel->text().toStdString();
  EXPECT_EQ(status_line.rfind("SIMULATED CHASSIS", 0), 0U) << status_line;
  EXPECT_NE(status_line.find(GetParam().file), std::string::npos) << status_line;
  for (const std::string& word : GetParam().reason) {
    EXPECT_NE(status_line.find(word), std::string::npos) << word << " in " << status_line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, BrokenLibraryTest,
    ::testing::Values(BrokenLibrary{QUOR_FAKE_NO_MOVE_OUT16_PATH, {"viMoveOut16"}},
                      BrokenLibrary{QUOR_FAKE_FAILING_MANAGER_PATH,
                                    {"viOpenDefaultRM", "0xBFFF0000",
                                     "Unknown system error (miscellaneous error)."}}));

TEST(VisaSelectionTest, AWorkingLibraryOrNoneAtAllNeedsNoWarning) {
  testing_support::ScriptedOperator person;
  station::announce_visa_choice(station::choose_visa({"/nonexistent/libvisa.so"}), person);
  station::announce_visa_choice(
      station::choose_visa({QUOR_FAKE_NO_MOVE_OUT16_PATH, QUOR_FAKE_COMPLETE_PATH}), person);
  EXPECT_TRUE(person.texts().empty());
}

}  // namespace
