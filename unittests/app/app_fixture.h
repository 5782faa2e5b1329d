// The real main window over a fresh simulated chassis, on virtual time, with a scripted
// operator: each test builds its own station.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/display_form.h"
#include "app/unit_initialization.h"
#include "sim/sim_module.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace app_tests {

class StationTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  explicit StationTest(sim::BenchConfig bench = sim::benches::standard())
      : SimStation({.bench = std::move(bench),
                    .window_events = testing_support::run_qt_events,
                    .in_use = {"simulated chassis for the suite", true}}) {
    form = std::make_unique<app::DisplayForm>(station);
  }

  app::UnitInitialization& init() { return form->unit_initialization(); }
  app::InitializeDialog* dialog() { return init().dialog(); }
  sim::SimModule& module(int la) { return *chassis.module_at(static_cast<std::int16_t>(la)); }

  // At the next yield of the selection wait, picks entry `index` of the dialog's list with the
  // given options, as the technician would.
  void choose_at_next_yield(int index, bool id_query = true, bool reset = true) {
    pump.then([this, index, id_query, reset] {
      app::InitializeDialog* d = dialog();
      ASSERT_NE(d, nullptr);
      (id_query ? d->IdQuery[1] : d->IdQuery[0])->setChecked(true);
      (reset ? d->ResetOption[1] : d->ResetOption[0])->setChecked(true);
      d->List_Of_Resources->setCurrentIndex(index);
      emit d->List_Of_Resources->activated(index);
    });
  }

  std::unique_ptr<app::DisplayForm> form;
};

}  // namespace app_tests
