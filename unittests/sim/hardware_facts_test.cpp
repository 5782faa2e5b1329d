// The module's hardware facts, pinned to their literal values on the simulator's side and, where
// the driver names the same fact, on the driver's side too. Both sides name their facts on their
// own; this table is the only place that sees both, so a slip on either side fails here instead
// of the simulator quietly agreeing with a wrong driver.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/buffer_memory.h"
#include "driver/quor_codes.h"
#include "sim/module_facts.h"

namespace sim {
namespace {

struct FactRow {
  const char* name;
  std::uint64_t literal;
  std::uint64_t simulator;
  std::optional<std::uint64_t> driver;  // none: the driver does not name this fact
};

class HardwareFacts : public ::testing::TestWithParam<FactRow> {};

TEST_P(HardwareFacts, BothSidesHoldTheLiteralValue) {
  const FactRow& row = GetParam();
  EXPECT_EQ(row.simulator, row.literal) << row.name << " on the simulator's side";
  if (row.driver) {
    EXPECT_EQ(*row.driver, row.literal) << row.name << " on the driver's side";
  }
}

INSTANTIATE_TEST_SUITE_P(
    QuorBusModule, HardwareFacts,
    ::testing::Values(
        FactRow{"manufacturer id", 0x6C5, kQuorManufacturerId, driver::kQuorManufacturerId},
        FactRow{"model code", 0x7B4, kQuorModelCode, driver::kQuorModelCode},
        FactRow{"PING offset", 0x000000, kPingOffset, driver::kPingOffset},
        FactRow{"PONG offset", 0x100000, kPongOffset, driver::kPongOffset},
        FactRow{"buffer words", 0x80000, kBufferBytes / 2, driver::kBufferWords},
        FactRow{"ID register device class", 0x8000, kIdDeviceClassBits, std::nullopt},
        FactRow{"device-type memory code", 0x2000, kDeviceTypeMemoryBits, std::nullopt},
        FactRow{"A16 window bytes", 0x40, kA16WindowBytes, std::nullopt},
        FactRow{"ID register", 0x00, kIdRegister, std::nullopt},
        FactRow{"device-type register", 0x02, kDeviceTypeRegister, std::nullopt},
        FactRow{"next-buffer register", 0x3E, kNextBufferRegister, std::nullopt},
        FactRow{"memory bytes", 0x200000, kMemoryBytes, std::nullopt},
        FactRow{"timer unit us", 100, kTimerUnitUs, std::nullopt},
        FactRow{"stamp counts per second", 100000, kStampCountsPerSecond, std::nullopt},
        FactRow{"stamps listed", 10, kStampCount, std::nullopt},
        FactRow{"error queue entries", 20, kErrorQueueCapacity, std::nullopt}),
    [](const ::testing::TestParamInfo<FactRow>& row) {
      std::string name;
      for (const char* c = row.param.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) != 0) name += *c;
      }
      return name;
    });

}  // namespace
}  // namespace sim
