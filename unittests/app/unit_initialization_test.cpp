// Initialize UUT, Initialize QA and Initialize All through the real windows.
#include <gtest/gtest.h>

#include <QWheelEvent>

#include "app_fixture.h"

namespace app_tests {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

std::vector<std::string> entries(app::InitializeDialog* dialog) {
  std::vector<std::string> result;
  for (int i = 0; i < dialog->List_Of_Resources->count(); ++i) {
    result.push_back(dialog->List_Of_Resources->itemText(i).toStdString());
  }
  return result;
}

class InitializeUutTest : public StationTest {};

TEST_F(InitializeUutTest, DialogListsTheModulesInSearchOrderWithTheDefaultOptions) {
  bool inspected = false;
  pump.then([&] {
    app::InitializeDialog* d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->windowTitle(), "Quor Bus Initialization");
    EXPECT_EQ(entries(d), (Texts{"VXI0::8::INSTR", "VXI0::24::INSTR"}));
    EXPECT_EQ(d->List_Of_Resources->currentText(), "");
    EXPECT_TRUE(d->IdQuery[1]->isChecked());
    EXPECT_TRUE(d->ResetOption[1]->isChecked());
    EXPECT_EQ(d->IdQuery[0]->text(), "No Id Query");
    EXPECT_EQ(d->ResetOption[0]->text(), "No Reset");
    inspected = true;
  });
  choose_at_next_yield(1);
  form->Init_UUT->trigger();
  EXPECT_TRUE(inspected);
  EXPECT_EQ(dialog(), nullptr);  // unloaded once the choice was made
}

TEST_F(InitializeUutTest, DefaultOptionsOpenWithIdentityCheckAndResetAndConfigureTheSession) {
  choose_at_next_yield(1);
  form->Init_UUT->trigger();
  const driver::UnitRecord& uut = station.units.uut;
  ASSERT_NE(uut.session, 0U);
  EXPECT_EQ(chassis.module_of(uut.session), &module(24));
  EXPECT_EQ(module(24).reset_count(), 1U);
  EXPECT_EQ(module(24).attribute_read_count(visa::VI_ATTR_MANF_ID), 1U);
  EXPECT_EQ(chassis.session_timeout_ms(uut.session), 6000U);
  EXPECT_EQ(uut.timeout_ms, 6000U);
  EXPECT_EQ(uut.address_space, visa::VI_A24_SPACE);
  EXPECT_EQ(uut.model_code, 1972);
  EXPECT_EQ(uut.reply, driver::fixed_text(module(24).config().identity + "\n"));
  EXPECT_EQ(station.driver_state.last_error_text, "No Error");
  EXPECT_EQ(person.texts(), Texts{"UUT Initialization Complete"});
  EXPECT_EQ(person.shown[0].title, "");
  EXPECT_EQ(chassis.open_session_count(), 1);
}

TEST_F(InitializeUutTest, NoIdQueryAndNoResetOpenWithNeither) {
  choose_at_next_yield(0, false, false);
  form->Init_UUT->trigger();
  ASSERT_NE(station.units.uut.session, 0U);
  EXPECT_EQ(chassis.module_of(station.units.uut.session), &module(8));
  EXPECT_EQ(module(8).reset_count(), 0U);
  EXPECT_EQ(module(8).attribute_read_count(visa::VI_ATTR_MANF_ID), 0U);
  EXPECT_EQ(person.texts(), Texts{"UUT Initialization Complete"});
}

TEST_F(InitializeUutTest, VisibilityAfterInitializeUut) {
  form->show();
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  for (QWidget* shown : std::initializer_list<QWidget*>{form->InstructionLabel, form->cmdStartCal,
                                                        form->TestButton[1], form->TestButton[2],
                                                        form->TestButton[3], form->Abort}) {
    EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
  }
  for (QWidget* hidden : std::initializer_list<QWidget*>{
           form->TestButton[0], form->TechNameLabel, form->TestTechnicianName, form->TopSNLabel,
           form->TopSerialNumber, form->SubSNLabel, form->SubSerialNumber}) {
    EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
  }
}

TEST_F(InitializeUutTest, InitializeQaLeavesTheMainWindowAsItWas) {
  form->show();
  std::vector<bool> before;
  const QList<QWidget*> controls = form->centralWidget()->findChildren<QWidget*>();
  for (QWidget* w : controls) before.push_back(w->isVisible());
  choose_at_next_yield(1);
  form->Init_QA->trigger();
  ASSERT_NE(station.units.qcu.session, 0U);
  EXPECT_EQ(person.texts(), Texts{"QC Quor Bus Initialization Complete"});
  std::vector<bool> after;
  for (QWidget* w : controls) after.push_back(w->isVisible());
  EXPECT_EQ(before, after);
  // No identity query for the QCU.
  EXPECT_EQ(module(24).command_count("*IDN?"), 0U);
  EXPECT_EQ(chassis.session_timeout_ms(station.units.qcu.session), 6000U);
}

TEST_F(InitializeUutTest, InitializeAllRunsTheUutThenTheQcuWithTheirOwnBoxes) {
  choose_at_next_yield(0);
  choose_at_next_yield(1);
  form->Init_ALL->trigger();
  EXPECT_EQ(person.texts(),
            (Texts{"UUT Initialization Complete", "QC Quor Bus Initialization Complete"}));
  EXPECT_EQ(chassis.module_of(station.units.uut.session), &module(8));
  EXPECT_EQ(chassis.module_of(station.units.qcu.session), &module(24));
  EXPECT_EQ(module(8).command_count("*IDN?"), 1U);
  EXPECT_EQ(module(24).command_count("*IDN?"), 0U);
}

TEST_F(InitializeUutTest, ClosingTheDialogWithoutAChoiceCancelsAndKeepsThePreviousSession) {
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  const visa::ViSession previous = station.units.uut.session;
  ASSERT_NE(previous, 0U);
  person.shown.clear();
  pump.then([this] { dialog()->close(); });
  form->Init_UUT->trigger();
  EXPECT_EQ(station.units.uut.session, previous);
  EXPECT_TRUE(person.shown.empty());
  EXPECT_EQ(dialog(), nullptr);
  EXPECT_EQ(chassis.open_session_count(), 1);
  // The kept session still works.
  std::string reply;
  EXPECT_EQ(station.driver.quor_cmd(previous, "*IDN?", reply), 0);
}

TEST_F(InitializeUutTest, ASecondInitializationWhileASelectionWaitsIsRefused) {
  pump.then([this] { form->Init_QA->trigger(); });
  choose_at_next_yield(1);
  form->Init_UUT->trigger();
  ASSERT_EQ(person.shown.size(), 2U);
  EXPECT_EQ(person.shown[0].text, procedures::init_text::kSelectionBusy);
  EXPECT_EQ(person.shown[1].text, "UUT Initialization Complete");
  EXPECT_EQ(chassis.module_of(station.units.uut.session), &module(24));
  EXPECT_EQ(station.units.qcu.session, 0U);
  EXPECT_EQ(chassis.open_session_count(), 1);
}

TEST_F(InitializeUutTest, ClosingTheMainWindowWhileASelectionWaitsEndsItAndShutsDownCleanly) {
  form->show();
  pump.then([this] { form->close(); });
  form->Init_UUT->trigger();
  EXPECT_EQ(dialog(), nullptr);
  EXPECT_TRUE(person.shown.empty());
  EXPECT_EQ(station.units.uut.session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
  EXPECT_TRUE(station.driver_state.abort_flag);
}

TEST_F(InitializeUutTest, RepeatedInitializationsLeaveNoSessionBehind) {
  for (int round = 0; round < 3; ++round) {
    choose_at_next_yield(round % 2);
    form->Init_UUT->trigger();
    choose_at_next_yield(1);
    form->Init_QA->trigger();
    EXPECT_EQ(chassis.open_session_count(), 2) << "round " << round;
  }
  EXPECT_EQ(person.shown.size(), 6U);
  form->close();
  EXPECT_EQ(chassis.open_session_count(), 0);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

TEST_F(InitializeUutTest, InitializationsClearTheAbortFlag) {
  station.driver_state.abort_flag = true;
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  EXPECT_FALSE(station.driver_state.abort_flag);
  station.driver_state.abort_flag = true;
  choose_at_next_yield(1);
  form->Init_QA->trigger();
  EXPECT_FALSE(station.driver_state.abort_flag);
}

TEST_F(InitializeUutTest, ATurnOfTheMouseWheelOverTheListChoosesNothing) {
  bool still_waiting = false;
  pump.then([this] {
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(dialog()->List_Of_Resources, &wheel);
  });
  pump.then([&] {
    still_waiting = dialog() != nullptr && !station.units.selection_done;
    dialog()->close();
  });
  form->Init_UUT->trigger();
  EXPECT_TRUE(still_waiting);
  EXPECT_EQ(module(8).reset_count(), 0U);
  EXPECT_EQ(chassis.open_session_count(), 0);
}

TEST_F(InitializeUutTest, ClosingTheMainWindowDuringAReinitializationClosesEachHandleOnce) {
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  ASSERT_NE(station.units.uut.session, 0U);
  const std::uint64_t closes_before = chassis.call_count(VisaFunction::Close);
  pump.then([this] { form->close(); });
  form->Init_UUT->trigger();
  // The search's own closes, then the shut-down's: the UUT session with its manager, and the
  // default manager. The cancelled selection closes nothing more.
  const std::uint64_t search_closes = 3 + 1;  // the three modules' sessions and the manager
  EXPECT_EQ(chassis.call_count(VisaFunction::Close) - closes_before, search_closes + 3);
  EXPECT_EQ(station.units.uut.session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
  EXPECT_TRUE(person.shown.size() == 1U && person.shown[0].text == "UUT Initialization Complete");
}

TEST_F(InitializeUutTest, AFailedOpenReplacesTheRecordAndClosesTheOldSession) {
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  ASSERT_EQ(chassis.open_session_count(), 1);
  person.shown.clear();
  // The search opens every module too; the open of the choice is the second one.
  module(24).fail_after(VisaFunction::Open, 1, visa::VI_ERROR_TMO);
  choose_at_next_yield(1);
  form->Init_UUT->trigger();
  ASSERT_EQ(person.shown.size(), 1U);
  EXPECT_EQ(person.shown[0].text.substr(0, 29), "Failed Initializing Quor Bus\n");
  EXPECT_EQ(station.units.uut.session, 0U);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

sim::BenchConfig bench_with_first_module(std::uint16_t manufacturer, std::uint16_t model) {
  sim::BenchConfig bench = sim::benches::two_quor();
  bench.modules[0].manufacturer_id = manufacturer;
  bench.modules[0].model_code = model;
  return bench;
}

class ManufacturerMismatchTest : public StationTest {
 protected:
  // The model code still matches, so the search lists the module.
  ManufacturerMismatchTest() : StationTest(bench_with_first_module(0x0123, 0x7B4)) {}
};

TEST_F(ManufacturerMismatchTest, IsReportedWithTheDriverTextAndNoSuccessIsClaimed) {
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  ASSERT_EQ(person.shown.size(), 1U);
  const std::string report = person.shown[0].text;
  EXPECT_EQ(report.substr(0, 52), "Failed Initializing Quor Bus\nInvalid Manufacturer ID");
  EXPECT_EQ(report.size(), std::string("Failed Initializing Quor Bus\n").size() + 255);
  EXPECT_EQ(station.units.uut.session, 0U);
  EXPECT_EQ(dialog(), nullptr);
  EXPECT_EQ(chassis.open_object_count(), 0);
  // The steps after the selection still ran, on session 0, and were reported without a box.
  EXPECT_EQ(station.driver_state.last_error_text.substr(0, 22), "Querying the Module ID");
}

class GpibVxiTest : public StationTest {
 protected:
  GpibVxiTest() : StationTest(sim::benches::gpib_vxi()) {}
};

TEST_F(GpibVxiTest, EveryEntryIsPrefixedWithGpibVxi) {
  std::vector<std::string> listed;
  pump.then([&] { listed = entries(dialog()); });
  choose_at_next_yield(0);
  form->Init_UUT->trigger();
  EXPECT_EQ(listed, (Texts{"GPIB-VXI0::8::INSTR", "GPIB-VXI0::24::INSTR"}));
}

class NoResourcesTest : public StationTest {
 protected:
  NoResourcesTest() : StationTest(sim::benches::empty()) {}
};

TEST_F(NoResourcesTest, NoneFoundShowsBothBoxesAndStillShowsTheTestButtons) {
  form->show();
  form->Init_UUT->trigger();
  ASSERT_EQ(person.shown.size(), 2U);
  EXPECT_EQ(person.shown[0].text, "No Quor Bus's Found");
  EXPECT_EQ(person.shown[1].text, "There is no Quor Bus installed in the system");
  EXPECT_EQ(person.shown[1].title, "Quor Bus UUT");
  EXPECT_EQ(dialog(), nullptr);
  EXPECT_EQ(station.units.uut.session, 0U);
  for (QWidget* shown : std::initializer_list<QWidget*>{form->InstructionLabel, form->cmdStartCal,
                                                        form->TestButton[1], form->TestButton[2],
                                                        form->TestButton[3], form->Abort}) {
    EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
  }
  for (QWidget* hidden : std::initializer_list<QWidget*>{
           form->TestButton[0], form->TechNameLabel, form->TestTechnicianName, form->TopSNLabel,
           form->TopSerialNumber, form->SubSNLabel, form->SubSerialNumber}) {
    EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
  }
  EXPECT_EQ(chassis.open_object_count(), 0);

  person.shown.clear();
  form->Init_QA->trigger();
  EXPECT_EQ(person.texts(),
            (Texts{"No Quor Bus's Found", "There is no Quor Bus installed in the system"}));
}

class OtherModelsTest : public StationTest {
 protected:
  OtherModelsTest() : StationTest(sim::benches::other_models_only()) {}
};

TEST_F(OtherModelsTest, AStandardSearchWithNoQuorModuleCountsAsNoneFound) {
  form->Init_UUT->trigger();
  EXPECT_EQ(person.texts(),
            (Texts{"No Quor Bus's Found", "There is no Quor Bus installed in the system"}));
  EXPECT_EQ(pump.yields(), 0U);  // no empty dialog to wait on
}

sim::BenchConfig crowded_bench() {
  sim::BenchConfig bench;
  for (int la = 0; la < 257; ++la) {
    sim::ModuleConfig config;
    config.logical_address = static_cast<std::int16_t>(la);
    config.slot = static_cast<std::int16_t>(la % 13);
    bench.modules.push_back(config);
  }
  return bench;
}

class CrowdedChassisTest : public StationTest {
 protected:
  CrowdedChassisTest() : StationTest(crowded_bench()) {}
};

TEST_F(CrowdedChassisTest, MoreThan256ModulesKeepTheFirst256) {
  int listed = 0;
  std::string last;
  pump.then([&] {
    listed = dialog()->List_Of_Resources->count();
    last = dialog()->List_Of_Resources->itemText(listed - 1).toStdString();
  });
  choose_at_next_yield(255);
  form->Init_UUT->trigger();
  EXPECT_EQ(listed, 256);
  EXPECT_EQ(last, "VXI0::255::INSTR");
  EXPECT_EQ(station.units.found.count, 256);
  EXPECT_EQ(chassis.module_of(station.units.uut.session), &module(255));
}

}  // namespace
}  // namespace app_tests
