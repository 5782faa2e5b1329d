// The main window's production tests: the module's self test, the buffer memory test and the
// output amplitude instruction; the test buttons also start the output calibration.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/station.h"
#include "driver/buffer_memory.h"
#include "procedures/calibration.h"
#include "procedures/main_view.h"
#include "procedures/uut_steps.h"

namespace procedures {

namespace production_text {
inline constexpr const char* kAmplitudeInstruction =
    "Run Self Loop and use an Oscope check each Output 1 to 4 should be 1.2Vpp, +/-10%.\r\n"
    "For Output 5 (Amp) should be 2.3Vpp, +/-10%.";
inline constexpr const char* kSelfTestInstruction =
    "Selftest for Ardenvale QUOR board.\r\n"
    "Data is loaded into PING buffer and transmitted\r\n"
    "to PONG buffer using selftest mode.  All data is\r\n"
    "Data is loaded into PONG buffer and transmitted\r\n"
    "to PING buffer using selftest mode.  All data is\r\n"
    "verified by use of the TRAC:DATA:COMP? command.\r\n"
    "Type Control-C to terminate.\r\n"
    "\r\n"
    "No cable Connections required.";
inline constexpr const char* kPressOk = "Press OK when ready";
inline constexpr const char* kSelfTestStart = "Start of run - Quor Bus Self Test";
inline constexpr const char* kSelfTestVisaError = "Visa error on *tst?";
inline constexpr const char* kSelfTestFailure = "Self Test Failure:";
inline constexpr const char* kSelfTestPassed = "Self Test Passed";
inline constexpr const char* kMemoryTestPassed = "Memory Test Passed";
inline constexpr const char* kMemoryTestFailed = "Memory Test Failed";
inline constexpr const char* kWriteRamStep = "Writing data to Quor Bus RAM";
inline constexpr const char* kReadRamStep = "Reading data from Quor Bus RAM";
}  // namespace production_text

// Self-test result recorded when "*TST?" brought no reply at all.
inline constexpr std::int16_t kNoSelfTestResult = -1;

// Words of one module buffer, as the memory test moves them.
inline constexpr std::uint32_t kMemoryTestWords = driver::kBufferWords;

class ProductionTests {
 public:
  ProductionTests(core::Station& station, MainWindowView& view);
  ProductionTests(const ProductionTests&) = delete;
  ProductionTests& operator=(const ProductionTests&) = delete;

  // TestButton click with the element index: 0 calibration, 1 output amplitude instruction,
  // 2 memory test, 3 self test. Pending window events run once afterwards.
  void on_test_button(int index);

  // Start Calibration, Up, Down and Cal Complete.
  OutputCalibration& output_calibration() { return calibration_; }
  CalibrationState& calibration() { return calibration_.state(); }
  // The main window the production work shows on (the unit initialization shows there too).
  MainWindowView& view() { return view_; }

 private:
  void output_amplitude_test();
  void memory_test();
  void self_test();
  // The verdict on the instruction line, kept in the run's facts as well.
  void show_verdict(const std::string& verdict);
  // Memory test: one buffer written with `pattern`, read back and compared.
  std::uint32_t memory_half(std::uint32_t byte_offset, const std::vector<std::uint16_t>& pattern,
                            std::vector<std::uint16_t>& read_back, std::string& errors);

  core::Station& station_;
  MainWindowView& view_;
  UutSteps steps_;
  driver::BufferMemory memory_;
  OutputCalibration calibration_;
};

}  // namespace procedures
