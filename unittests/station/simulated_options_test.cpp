// The simulated chassis the command line asks for: faults by name on the modules they name, the
// status line's words for them, the library --visa names and nothing else, the resource list,
// and the pump that makes the station's waits cost no real time.
#include <gtest/gtest.h>

#include <sstream>

#include "sim/fault_catalogue.h"
#include "sim/sim_chassis.h"
#include "station/resource_listing.h"
#include "station/station_windows.h"
#include "station/virtual_time_pump.h"
#include "station/visa_options.h"
#include "testing/scripted_operator.h"

namespace {

// --- The catalogue: each name puts its fault on the module it names, and only there ---

struct FaultEffect {
  const char* fault;
  std::function<bool(sim::SimChassis&, sim::SimModule&)> present;
};

class FaultCatalogueTest : public ::testing::TestWithParam<FaultEffect> {
 protected:
  sim::VirtualClock clock;
  sim::SimChassis chassis{sim::benches::standard(), clock};
};

TEST_P(FaultCatalogueTest, PutsTheFaultOnTheNamedModuleOnly) {
  const FaultEffect& row = GetParam();
  const sim::ParsedFault parsed = sim::parse_fault(std::string(row.fault) + "@24");
  ASSERT_TRUE(parsed.request) << parsed.error;
  EXPECT_EQ(parsed.request->logical_address, 24);
  EXPECT_FALSE(row.present(chassis, *chassis.module_at(24)));
  ASSERT_EQ(sim::apply_fault(chassis, *parsed.request), "");
  EXPECT_TRUE(row.present(chassis, *chassis.module_at(24)));
  EXPECT_FALSE(row.present(chassis, *chassis.module_at(8)));
}

bool has_cable(const sim::SimChassis& chassis, std::function<bool(const sim::Cable&)> match) {
  for (const sim::Cable& cable : chassis.cables()) {
    if (match(cable)) return true;
  }
  return false;
}

const FaultEffect kEffects[] = {
    {"dead-input-1", [](auto&, auto& m) { return m.route_dead(sim::Route::Unpr); }},
    {"dead-input-2", [](auto&, auto& m) { return m.route_dead(sim::Route::Prot); }},
    {"dead-output-1", [](auto&, auto& m) { return m.route_dead(sim::Route::Out1); }},
    {"dead-output-2", [](auto&, auto& m) { return m.route_dead(sim::Route::Out2); }},
    {"stuck-receive-bit", [](auto&, auto& m) { return m.receive_data_fault().stuck_high == 0x80; }},
    {"dropped-receive-bit", [](auto&, auto& m) { return m.receive_data_fault().stuck_low == 1; }},
    {"flipped-receive-bit", [](auto&, auto& m) { return m.receive_data_fault().flipped == 8; }},
    {"stuck-transmit-bit",
     [](auto&, auto& m) { return m.transmit_data_fault().stuck_high == 0x40; }},
    {"flipped-transmit-bit", [](auto&, auto& m) { return m.transmit_data_fault().flipped == 1; }},
    {"cut-output-cable",
     [](auto& c, auto& m) {
       return !has_cable(c, [&](const sim::Cable& cable) {
         return cable.from_la == m.logical_address() && cable.output == sim::Route::Out1;
       });
     }},
    {"cut-input-cable",
     [](auto& c, auto& m) {
       return !has_cable(c, [&](const sim::Cable& cable) {
         return cable.to_la == m.logical_address() && cable.input == sim::Route::Unpr;
       });
     }},
    {"repeated-frame", [](auto&, auto& m) { return m.repeated_frames() == 1; }},
    {"stamp-skew", [](auto&, auto& m) { return m.stamp_skew() == 5 && m.stamp_skew_from() == 4; }},
    {"self-test-fail",
     [](auto&, auto& m) {
       m.write_command("*TST?");
       unsigned char reply[16] = {};
       bool ended = false;
       const std::size_t length = m.read_reply(reply, sizeof reply, &ended);
       return std::string(reinterpret_cast<char*>(reply), length) == "1\n";
     }},
    {"memory-bit-error",
     [](auto&, auto& m) {
       m.set_memory_word(0x2000, 0);
       return m.memory_word(0x2000) == 0x0100 && m.memory_word(0x2200) == 0;
     }},
    {"visa-read-timeout",
     [](auto&, auto& m) { return m.pending_failures(sim::VisaFunction::Read) == 1; }},
    {"visa-write-timeout",
     [](auto&, auto& m) { return m.pending_failures(sim::VisaFunction::Write) == 1; }},
    {"visa-bus-error",
     [](auto&, auto& m) { return m.pending_failures(sim::VisaFunction::In16) == 1; }},
};

INSTANTIATE_TEST_SUITE_P(EachFault, FaultCatalogueTest, ::testing::ValuesIn(kEffects),
                         [](const auto& row_info) {
                           std::string name = row_info.param.fault;
                           std::erase(name, '-');
                           return name;
                         });

TEST(FaultCatalogueListTest, EveryCataloguedFaultIsCheckedAboveAndListedOnOneLine) {
  EXPECT_EQ(sim::fault_catalogue().size(), std::size(kEffects));
  const std::string list = sim::fault_list_text();
  for (const sim::FaultEntry& entry : sim::fault_catalogue()) {
    const std::string line = std::string("  ") + entry.name;
    EXPECT_NE(list.find(line), std::string::npos) << entry.name;
  }
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'),
            static_cast<long>(sim::fault_catalogue().size()));
}

TEST(FaultCatalogueListTest, AFaultOnAMissingModuleIsRefused) {
  sim::VirtualClock clock;
  sim::SimChassis chassis(sim::benches::standard(), clock);
  const sim::ParsedFault parsed = sim::parse_fault("dead-input-1@99");
  ASSERT_TRUE(parsed.request);
  EXPECT_EQ(sim::apply_fault(chassis, *parsed.request),
            "no module at logical address 99 for dead-input-1");
}

// --- What the options choose ---

TEST(OptionVisaTest, SimulateNamesItsFaultsAndVirtualTimeOnTheStatusLine) {
  station::StationOptions options;
  options.simulate = true;
  options.virtual_time = true;
  options.faults.push_back(*sim::parse_fault("stamp-skew").request);
  options.faults.push_back(*sim::parse_fault("dead-input-2@24").request);
  station::OptionVisa chosen = station::choose_visa_for(options);
  ASSERT_EQ(chosen.error, "");
  ASSERT_NE(chosen.chassis, nullptr);
  ASSERT_NE(chosen.virtual_clock, nullptr);
  EXPECT_TRUE(chosen.choice.in_use.simulated);
  EXPECT_EQ(chosen.choice.in_use.description,
            "built-in chassis (--simulate), no real module is tested; faults: stamp-skew@8, "
            "dead-input-2@24; virtual time");
  EXPECT_EQ(chosen.chassis->module_at(8)->stamp_skew(), 5);
  EXPECT_TRUE(chosen.chassis->module_at(24)->route_dead(sim::Route::Prot));
  EXPECT_EQ(chosen.choice.library.get(), chosen.chassis);
}

TEST(OptionVisaTest, SimulateWithoutVirtualTimeRunsOnRealTime) {
  station::StationOptions options;
  options.simulate = true;
  station::OptionVisa chosen = station::choose_visa_for(options);
  ASSERT_EQ(chosen.error, "");
  EXPECT_EQ(chosen.virtual_clock, nullptr);
  EXPECT_NE(chosen.choice.clock, nullptr);
  EXPECT_EQ(chosen.choice.in_use.description,
            "built-in chassis (--simulate), no real module is tested");
}

TEST(OptionVisaTest, AFaultForAMissingModuleStopsTheStart) {
  station::StationOptions options;
  options.simulate = true;
  options.faults.push_back(*sim::parse_fault("repeated-frame@3").request);
  const station::OptionVisa chosen = station::choose_visa_for(options);
  EXPECT_EQ(chosen.error,
            "--fault repeated-frame@3: no module at logical address 3 for repeated-frame");
  EXPECT_EQ(chosen.choice.library, nullptr);
}

// --visa never falls back: a library that cannot be used is named with the reason, and nothing
// stands in.
struct NamedLibrary {
  const char* name;
  const char* path;
  std::vector<std::string> error_holds;  // empty: the library serves
};

class VisaOptionTest : public ::testing::TestWithParam<NamedLibrary> {};

TEST_P(VisaOptionTest, UsesThatLibraryOrSaysWhyNot) {
  station::StationOptions options;
  options.visa_path = GetParam().path;
  const station::OptionVisa chosen = station::choose_visa_for(options);
  if (GetParam().error_holds.empty()) {
    EXPECT_EQ(chosen.error, "");
    ASSERT_NE(chosen.choice.library, nullptr);
    return;
  }
  EXPECT_EQ(chosen.choice.library, nullptr) << "nothing stands in";
  EXPECT_EQ(chosen.chassis, nullptr);
  for (const std::string& word : GetParam().error_holds) {
    EXPECT_NE(chosen.error.find(word), std::string::npos) << word << " in: " << chosen.error;
  }
}

INSTANTIATE_TEST_SUITE_P(Libraries, VisaOptionTest,
                         ::testing::Values(NamedLibrary{"Complete", QUOR_FAKE_COMPLETE_PATH, {}},
                                           NamedLibrary{"SimulatedChassis", QUOR_SIM_VISA_PATH, {}},
                                           NamedLibrary{"Missing",
                                                        "/nonexistent/libvisa.so",
                                                        {"/nonexistent/libvisa.so", "load"}},
                                           NamedLibrary{"LacksAFunction",
                                                        QUOR_FAKE_NO_MOVE_OUT16_PATH,
                                                        {"cannot be used", "viMoveOut16"}},
                                           NamedLibrary{"ManagerFails",
                                                        QUOR_FAKE_FAILING_MANAGER_PATH,
                                                        {"viOpenDefaultRM", "status -1073807360"}}),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

// --- --list-resources ---

struct Listing {
  const char* name;
  std::function<sim::BenchConfig()> bench;
  int status;
  std::vector<std::string> out_holds;
  std::string err_holds;
  bool simulated = false;  // listed as the simulated chassis
};

class ResourceListingTest : public ::testing::TestWithParam<Listing> {};

TEST_P(ResourceListingTest, PrintsEachResourceOrTheFailingStatus) {
  const Listing& row = GetParam();
  sim::VirtualClock clock;
  sim::SimChassis chassis(row.bench(), clock);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(station::list_resources(chassis, row.simulated, out, err), row.status) << err.str();
  for (const std::string& line : row.out_holds) {
    EXPECT_NE(out.str().find(line), std::string::npos) << line << " in:\n" << out.str();
  }
  EXPECT_NE(err.str().find(row.err_holds), std::string::npos) << err.str();
  EXPECT_EQ(chassis.open_object_count(), 0) << "every session and the manager closed";
}

INSTANTIATE_TEST_SUITE_P(
    Benches, ResourceListingTest,
    ::testing::Values(
        Listing{"Standard",
                sim::benches::standard,
                0,
                {"VXI0::8::INSTR  manufacturer 0x6C5  model 0x7B4  LA 8  slot 2  Quor Bus module\n",
                 "VXI0::24::INSTR  manufacturer 0x6C5  model 0x7B4  LA 24  slot 3  Quor Bus "
                 "module\n",
                 "LA 40  slot 4  not a Quor Bus module\n"},
                ""},
        Listing{"StandardOnTheSimulatedChassis",
                sim::benches::standard,
                0,
                {"quor_station: the modules below are on the simulated chassis, no real module",
                 "LA 8  slot 2  Quor Bus module  (simulated)\n",
                 "LA 40  slot 4  not a Quor Bus module  (simulated)\n"},
                "",
                true},
        Listing{"GpibVxi", sim::benches::gpib_vxi, 0, {"GPIB-VXI0::8::INSTR  manufacturer"}, ""},
        Listing{
            "Empty",
            sim::benches::empty,
            1,
            {},
            "quor_station: the search for ?*VXI[0-9]*::?*INSTR failed with status -1073807343"}),
    [](const auto& row_info) { return std::string(row_info.param.name); });

TEST(ResourceListingFailureTest, AResourceThatDoesNotOpenIsNamedWithItsStatus) {
  sim::VirtualClock clock;
  sim::SimChassis chassis(sim::benches::standard(), clock);
  chassis.module_at(24)->fail_after(sim::VisaFunction::Open, 0, visa::VI_ERROR_TMO);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(station::list_resources(chassis, false, out, err), 1);
  EXPECT_NE(out.str().find("VXI0::8::INSTR"), std::string::npos);
  EXPECT_NE(out.str().find("VXI0::40::INSTR"), std::string::npos) << "the listing goes on";
  EXPECT_NE(err.str().find("VXI0::24::INSTR: viOpen failed with status"), std::string::npos)
      << err.str();
}

// --- Virtual time ---

TEST(VirtualTimePumpTest, ATickWaitMovesTheVirtualClockAndCountsItsTicks) {
  sim::VirtualClock clock;
  driver::DriverState state;
  station::VirtualTimePump pump(clock);
  pump.count_ticks_in(state);
  pump.process_events();
  EXPECT_EQ(clock.now_us(), 0U) << "no timer, no time passes";
  pump.start_tick_timer(10);
  EXPECT_TRUE(pump.tick_timer_running());
  for (int i = 0; i < 100; ++i) pump.wait_for_events();
  EXPECT_EQ(clock.now_us(), 1'000'000U);
  EXPECT_EQ(pump.now_ms(), 1000);
  EXPECT_EQ(state.tick_counter, 100);
  pump.stop_tick_timer();
  pump.process_events();
  EXPECT_EQ(state.tick_counter, 100);
}

}  // namespace

namespace {

// The station's own pump on virtual time runs a whole STAMP test: its waits of seconds pass on
// the chassis' clock only.
TEST(VirtualTimeStationTest, StampRunsToItsEndOnTheVirtualClock) {
  station::StationOptions options;
  options.simulate = true;
  options.virtual_time = true;
  station::OptionVisa chosen = station::choose_visa_for(options);
  ASSERT_NE(chosen.virtual_clock, nullptr);
  testing_support::ScriptedOperator person;
  station::VirtualTimePump pump(*chosen.virtual_clock);
  core::Station station(*chosen.choice.library, person, pump, chosen.choice.in_use);
  pump.count_ticks_in(station.driver_state);
  station::StationWindows windows(station, [] {});
  for (auto [unit, resource] : {std::pair{&station.units.uut, "VXI0::8::INSTR"},
                                std::pair{&station.units.qcu, "VXI0::24::INSTR"}}) {
    unit->model_code = driver::kQuorModelCode;
    ASSERT_EQ(station.driver.quor_init(resource, 1, 0, unit->session), visa::VI_SUCCESS);
  }
  windows.form().mnuTest->trigger();
  app::FrmTests& console = *windows.test_console().console();
  console.cmdStamp->click();
  EXPECT_EQ(console.lblText->text().toStdString(), "Count: 5    Failures: 0");
  EXPECT_EQ(person.texts(), (std::vector<std::string>{"Hit OK to Start Test!", "Test Completed!"}));
  EXPECT_GT(chosen.virtual_clock->now_us(), 5'000'000U) << "the waits passed on the virtual clock";
}

}  // namespace
