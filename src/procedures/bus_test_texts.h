// The texts and fixed values of the bus tests.
#pragma once

#include <cstdint>

#include "driver/buffer_memory.h"

namespace procedures {

inline constexpr int kFailureLimit = 5;
inline constexpr std::uint32_t kPong = driver::kPongOffset;
inline constexpr std::uint16_t kStartWord = 0x0100;
inline constexpr std::uint16_t kStopWord14 = 0x0E00;
inline constexpr std::uint16_t kStopWord15 = 0x0F00;
inline constexpr std::uint32_t kNextBufferRegister = 0x3E;

namespace text {
inline constexpr const char* kConsoleCaption = "Main Testing of Quor-Bus";
inline constexpr const char* kConsoleCaptionAfterTest = "Testing of the Quor-Bus";
inline constexpr const char* kHitOkToStart = "Hit OK to Start Test!";
inline constexpr const char* kTestCompleted = "Test Completed!";
inline constexpr const char* kUnitPasses = "Unit Passes";
inline constexpr const char* kIdentityPrefix = "*idn? results = ";
inline constexpr const char* kIdentityStep = "Querying the UUT identity";
// The console line's size while it prompts for the cables, and once the test has begun.
inline constexpr double kPromptPoints = 10;
inline constexpr double kCountPoints = 28;

inline constexpr const char* kQcuToUut = "Connect the OCU's Output 1(or 2,3,4) to UUT's Input 1";
inline constexpr const char* kUutToQcu = "Connect the UUT's Output 1(or 2,3,4) to OCU's Input 1";
inline constexpr const char* kUutToInput1 =
    "Connect the UUT's Output 1(or 2,3,4,5) to UUT's Input 1";
inline constexpr const char* kUutToInput2 =
    "Connect the UUT's Output 1(or 2,3,4,5) to UUT's Input 2";

inline constexpr const char* kResetUut = "Resetting the UUT";
inline constexpr const char* kResetQcu = "Resetting the QCU";
inline constexpr const char* kComparators = "Initialize the Start and Stop comparators";
}  // namespace text

}  // namespace procedures
