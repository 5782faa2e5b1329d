// Initialize UUT, QA and All without their windows: the selection window's caption and list,
// the technician's choice given straight to the procedure, and the outcome each run leaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "procedures/unit_init.h"
#include "procedures_fixture.h"

namespace procedures_tests {
namespace {

using Texts = std::vector<std::string>;

class UnitInitViewsTest : public ViewsTest {
 protected:
  UnitInitViewsTest() : init(station, view, selection) {}

  // At the next yield of the selection wait, the technician's answer.
  void choose_at_next_yield(std::string resource, bool id_query = true, bool reset = true) {
    pump.then([this, resource, id_query, reset] {
      ASSERT_TRUE(selection.shown);
      init.module_chosen({resource, id_query, reset});
    });
  }

  testing_support::ScriptedSelectionView selection;
  procedures::UnitInitialization init;
};

TEST_F(UnitInitViewsTest, InitializeUutListsTheModulesAndOpensTheChoice) {
  Texts listed;
  std::string caption;
  pump.then([&] {
    listed = selection.resources;
    caption = selection.caption;
  });
  choose_at_next_yield("VXI0::24::INSTR");
  init.initialize_uut();

  EXPECT_EQ(caption, "Quor Bus Initialization");
  EXPECT_EQ(listed, (Texts{"VXI0::8::INSTR", "VXI0::24::INSTR"}));
  EXPECT_EQ(view.steps, std::vector<procedures::MainStep>{procedures::MainStep::UnitInitialized});
  EXPECT_EQ(chassis.module_of(station.units.uut.session), &module(24));
  EXPECT_EQ(module(24).reset_count(), 1U);
  EXPECT_EQ(person.texts(), Texts{"UUT Initialization Complete"});
  EXPECT_EQ(station.run.outcome, core::Outcome::passed);
  // One window per selection, taken away once it is over.
  EXPECT_EQ(selection.opens, 1);
  EXPECT_EQ(selection.unloads, 1);
  EXPECT_FALSE(selection.made);
}

TEST_F(UnitInitViewsTest, NoEntryAsksForOneAndOnlyTheFirstChoiceCounts) {
  pump.then([this] { init.module_chosen({"", true, true}); });
  choose_at_next_yield("VXI0::8::INSTR", false, false);
  init.initialize_qcu();
  // A second pick after the answer changes nothing.
  init.module_chosen({"VXI0::24::INSTR", true, true});

  EXPECT_EQ(person.texts(), (Texts{"Please select an instrument from the Drop Down List",
                                   "QC Quor Bus Initialization Complete"}));
  EXPECT_EQ(chassis.module_of(station.units.qcu.session), &module(8));
  EXPECT_EQ(module(8).reset_count(), 0U);
  EXPECT_EQ(chassis.open_session_count(), 1);
  // Initialize QA leaves the main window as it was.
  EXPECT_TRUE(view.steps.empty());
}

TEST_F(UnitInitViewsTest, ClosingTheWindowOrShuttingDownEndsTheWaitWithTheirOutcomes) {
  pump.then([this] { init.selection_closed(); });
  init.initialize_uut();
  EXPECT_EQ(station.run.outcome, core::Outcome::aborted);
  EXPECT_EQ(station.units.uut.session, 0U);
  EXPECT_TRUE(person.shown.empty());
  EXPECT_EQ(selection.closes, 0);

  pump.then([this] {
    station.shutting_down = true;
    init.cancel_pending_selection();
  });
  init.initialize_all();
  EXPECT_EQ(station.run.outcome, core::Outcome::interrupted);
  EXPECT_EQ(selection.closes, 1);
  EXPECT_EQ(selection.unloads, 2);
  // The QCU's part does not start once the station is shutting down.
  EXPECT_EQ(selection.opens, 2);
  EXPECT_EQ(chassis.open_session_count(), 0);
}

}  // namespace
}  // namespace procedures_tests
