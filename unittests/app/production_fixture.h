// The real main window with the production tests attached, over a fresh simulated chassis seen
// through a pass-through library that can corrupt block reads, on virtual time, with a
// scripted operator. The UUT at logical address 8 is opened directly.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/display_form.h"
#include "procedures/production_tests.h"
#include "sim/sim_module.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"
#include "visa/forwarding_visa.h"

namespace production_tests {

// Forwards every call to the chassis; records block writes and lets a test tamper with what a
// block read brings back, as a module with faulty memory would.
class TamperingLibrary final : public visa::ForwardingVisa {
 public:
  explicit TamperingLibrary(visa::VisaLibrary& inner) : visa::ForwardingVisa(inner) {}

  struct BlockWrite {
    visa::ViUInt16 space;
    visa::ViBusAddress offset;
    std::vector<std::uint16_t> words;
  };
  std::vector<BlockWrite> block_writes;
  // Runs on the words of each successful block read.
  std::function<void(visa::ViBusAddress offset, visa::ViUInt16* words, visa::ViBusSize count)>
      on_block_read;

  visa::ViStatus viMoveIn16(visa::ViSession s, visa::ViUInt16 sp, visa::ViBusAddress o,
                            visa::ViBusSize c, visa::ViUInt16* v) override {
    const visa::ViStatus status = inner().viMoveIn16(s, sp, o, c, v);
    if (status >= visa::VI_SUCCESS && on_block_read) on_block_read(o, v, c);
    return status;
  }
  visa::ViStatus viMoveOut16(visa::ViSession s, visa::ViUInt16 sp, visa::ViBusAddress o,
                             visa::ViBusSize c, const visa::ViUInt16* v) override {
    block_writes.push_back({sp, o, std::vector<std::uint16_t>(v, v + c)});
    return inner().viMoveOut16(s, sp, o, c, v);
  }
};

class ProductionTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  ProductionTest() : SimStation(options()), library(layer_at<TamperingLibrary>(0)) {
    // A calibration loop that is never ended fails the test instead of hanging the suite.
    pump.yield_limit = 2'000;
    form = std::make_unique<app::DisplayForm>(station);
    production = std::make_unique<procedures::ProductionTests>(station, *form);
    form->set_handlers(app::production_handlers(*production));
  }

  // Made here, not in the constructor's initializer: GCC 12 then takes the options' temporary
  // for uninitialized on the path where the reference after it throws (-Wmaybe-uninitialized).
  static testing_support::SimStationOptions options() {
    return {.window_events = testing_support::run_qt_events,
            .in_use = {"simulated chassis for the suite", true},
            .layers = {testing_support::layer<TamperingLibrary>()}};
  }

  void SetUp() override {
    driver::UnitRecord& uut = station.units.uut;
    ASSERT_EQ(station.driver.quor_init("VXI0::8::INSTR", 1, 1, uut.session), visa::VI_SUCCESS);
    uut.model_code = 1972;
    chassis.reset_call_counts();
  }

  sim::SimModule& uut_module() { return *chassis.module_at(8); }

  // Clicks `button` at the first yield at which `ready` holds.
  void click_when(std::function<bool()> ready, QPushButton* button) {
    click_in_turn({{std::move(ready), button}});
  }
  // The same for several clicks, one after the other: each waits for its own condition at the
  // yields after the click before it.
  using Click = std::pair<std::function<bool()>, QPushButton*>;
  void click_in_turn(std::vector<Click> clicks, std::size_t next = 0) {
    if (next >= clicks.size()) return;
    pump.then([this, clicks, next] {
      if (clicks[next].first()) {
        clicks[next].second->click();
        click_in_turn(clicks, next + 1);
      } else {
        click_in_turn(clicks, next);
      }
    });
  }

  TamperingLibrary& library;
  std::unique_ptr<app::DisplayForm> form;
  std::unique_ptr<procedures::ProductionTests> production;
};

}  // namespace production_tests
