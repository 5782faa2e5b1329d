// The Quor Bus module's hardware facts as the simulator models them: its VXI identity, its A16
// configuration registers, its buffer memory, its timers and its error queue. Named here once
// for the whole simulator. The simulator's suite pins every value to its literal and to the
// driver's own constant, so that the simulator stays an independent check of the driver (the
// two sides never share these names).
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// --- Identity: VI_ATTR_MANF_ID, VI_ATTR_MODEL_CODE and the registers that hold them ---
inline constexpr std::uint16_t kQuorManufacturerId = 0x6C5;
inline constexpr std::uint16_t kQuorModelCode = 0x7B4;  // 1972
// ID register: device class 10b in bits 15-14, address-space bits 13-12, manufacturer low 12.
inline constexpr std::uint16_t kIdDeviceClassBits = 0x8000;
// Device-type register: memory-size code 2 in bits 15-12, the model code's low 12 bits.
inline constexpr std::uint16_t kDeviceTypeMemoryBits = 0x2000;

// --- A16 configuration registers (byte offsets in the 64-byte window) ---
inline constexpr std::uint32_t kA16WindowBytes = 0x40;
inline constexpr std::uint32_t kIdRegister = 0x00;
inline constexpr std::uint32_t kDeviceTypeRegister = 0x02;
inline constexpr std::uint32_t kNextBufferRegister = 0x3E;

// --- Buffer memory in the module's A24 or A32 space: PING then PONG, 1 MiB each ---
inline constexpr std::uint32_t kMemoryBytes = 0x200000;
inline constexpr std::uint32_t kBufferBytes = 0x100000;
inline constexpr std::uint32_t kPingOffset = 0x000000;
inline constexpr std::uint32_t kPongOffset = 0x100000;

// --- Timers and records ---
inline constexpr std::uint64_t kTimerUnitUs = 100;              // "tim 10" = 1 ms
inline constexpr std::uint64_t kStampCountsPerSecond = 100000;  // 10 us per count
inline constexpr std::size_t kStampCount = 10;                  // stamps "trac:data? stamp" lists
inline constexpr std::size_t kErrorQueueCapacity = 20;          // SYST:ERR? queue entries

}  // namespace sim
