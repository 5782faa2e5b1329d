// The station's functional-test passes replayed as plain VISA calls on a standard bench: the
// same commands, register writes, waits and compares, so a suite can check what a healthy or a
// faulty module leaves in the receiver's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim_test_support.h"

namespace sim::testing {

inline constexpr visa::ViBusAddress kPong = 0x100000;
inline constexpr visa::ViUInt16 kStart = 0x0100;
inline constexpr visa::ViUInt16 kStop14 = 0x0E00;
inline constexpr visa::ViUInt16 kStop15 = 0x0F00;

class StationBench : public ::testing::Test {
 protected:
  explicit StationBench(BenchConfig config = benches::standard()) : bench(std::move(config)) {
    rm = bench.manager();
    uut = bench.open(rm, "VXI0::8::INSTR");
    qcu = bench.open(rm, "VXI0::24::INSTR");
    uut_module = bench.chassis.module_of(uut);
    qcu_module = bench.chassis.module_of(qcu);
  }

  void cmd(visa::ViSession session, std::string_view command) {
    EXPECT_EQ(bench.write(session, command), visa::VI_SUCCESS) << command;
  }
  void out16(visa::ViSession session, visa::ViBusAddress offset, visa::ViUInt16 value) {
    bench.visa().viOut16(session, visa::VI_A24_SPACE, offset, value);
  }
  visa::ViUInt16 in16(visa::ViSession session, visa::ViBusAddress offset) {
    visa::ViUInt16 value = 0;
    bench.visa().viIn16(session, visa::VI_A24_SPACE, offset, &value);
    return value;
  }
  void fill(visa::ViSession session, visa::ViBusAddress offset, unsigned start, unsigned step,
            std::size_t count) {
    unsigned value = start;
    for (std::size_t i = 0; i < count; ++i) {
      out16(session, offset + 2 * i, static_cast<visa::ViUInt16>(value));
      value = (value + step) % 256;
    }
  }
  // Miscompares of `count` words from `offset` against the pattern (low bytes, or whole words).
  int compare(visa::ViSession session, visa::ViBusAddress offset, unsigned start, unsigned step,
              std::size_t count, bool whole_word = false) {
    int bad = 0;
    unsigned expected = start;
    for (std::size_t i = 0; i < count; ++i) {
      const visa::ViUInt16 word = in16(session, offset + 2 * i);
      if ((whole_word ? word : (word & 0xFFU)) != expected) ++bad;
      expected = (expected + step) % 256;
    }
    return bad;
  }
  void frame(visa::ViSession session, visa::ViBusAddress at, unsigned start, unsigned step,
             std::size_t length, visa::ViUInt16 stop = kStop14) {
    out16(session, at, kStart);
    fill(session, at + 2, start, step, length);
    out16(session, at + 2 * (length + 1), stop);
  }
  void signal(visa::ViSession session) {
    bench.visa().viOut16(session, visa::VI_A16_SPACE, kNextBufferRegister, 1);
  }
  void wait_ms(std::uint64_t ms) { bench.clock.advance_ms(ms); }

  // --- Two-unit tests: T transmits, R receives ---
  void two_unit_setup(visa::ViSession t, visa::ViSession r, const char* timer = "tim 10") {
    cmd(uut, "*RST");
    cmd(qcu, "*RST");
    for (const char* route :
         {"rout:clos out1", "rout:clos out2", "rout:clos out3", "rout:clos out4"}) {
      cmd(t, route);
    }
    cmd(t, timer);
    cmd(r, "rout:clos unpr");
  }
  void comparators(visa::ViSession t, visa::ViSession r) {
    cmd(r, "comm:rec:start  1");
    cmd(r, "comm:rec:stop  14");
    cmd(t, "comm:tran:stop  14");
  }
  void start(visa::ViSession t, const char* transmit, visa::ViSession r, const char* receive) {
    cmd(r, receive);
    cmd(r, "*opc");
    cmd(t, transmit);
    cmd(t, "*opc");
  }
  void stop(visa::ViSession t, visa::ViSession r) {
    cmd(r, "mode idle");
    cmd(r, "*opc");
    cmd(t, "mode idle");
    cmd(t, "*opc");
  }

  int rec_pass(std::size_t l = 1024) {
    frame(qcu, 0, 1, 1, l);
    fill(uut, 0, 0, 0, l + 2);
    fill(uut, kPong, 0, 0, l + 2);
    comparators(qcu, uut);
    start(qcu, "mode trnd", uut, "mode rec");
    wait_ms(100);
    frame(qcu, kPong, 3, 3, l);
    signal(qcu);
    wait_ms(100);
    frame(qcu, 0, 4, 3, l);
    signal(qcu);
    wait_ms(100);
    stop(qcu, uut);
    return compare(uut, 2, 4, 3, l) + compare(uut, kPong + 2, 3, 3, l);
  }

  int recm_pass(std::size_t l = 1024) {
    frame(qcu, 0, 1, 1, l);
    fill(uut, 0, 0, 0, 3 * (l + 2));
    comparators(qcu, uut);
    start(qcu, "mode trnd", uut, "mode recm");
    wait_ms(10);
    frame(qcu, kPong, 3, 3, l);
    signal(qcu);
    wait_ms(100);
    frame(qcu, 0, 4, 4, l);
    signal(qcu);
    wait_ms(100);
    stop(qcu, uut);
    return compare(uut, 2, 1, 1, l) + compare(uut, 2 * l + 6, 3, 3, l) +
           compare(uut, 4 * l + 10, 4, 4, l);
  }

  // Trnsrecm (wait 500) and Trnorecm (wait 50) share their buffers.
  int trns_pass(std::size_t l = 1024) {
    uut_ping_and_pong(l);
    comparators(uut, qcu);
    start(uut, "mode trns", qcu, "mode recm");
    wait_ms(500);
    stop(uut, qcu);
    return compare(qcu, 2, 1, 1, l) + compare(qcu, 2 * l + 6, 3, 3, l) +
           compare(qcu, 4 * l + 10, 3, 3, l);
  }
  int trno_pass(std::size_t l = 1024) {
    uut_ping_and_pong(l);
    comparators(uut, qcu);
    start(uut, "mode trno", qcu, "mode recm");
    wait_ms(50);
    stop(uut, qcu);
    return compare(qcu, 2, 1, 1, l) + compare(qcu, 2 * l + 4, 0, 0, l) +
           compare(qcu, 4 * l + 6, 0, 0, l);
  }

  int trnd_pass(std::size_t l = 16) {
    frame(uut, 0, 1, 1, l);
    fill(qcu, 0, 0, 0, 4 * l + 2);
    comparators(uut, qcu);
    start(uut, "mode trnd", qcu, "mode recm");
    wait_ms(100);
    frame(uut, kPong, 3, 3, l);
    signal(uut);
    wait_ms(100);
    frame(uut, 0, 4, 3, l);
    signal(uut);
    wait_ms(100);
    stop(uut, qcu);
    return compare(qcu, 2, 1, 1, l) + compare(qcu, 2 * l + 6, 3, 3, l) +
           compare(qcu, 4 * l + 10, 4, 3, l);
  }

  int trnc_pass(std::size_t l = 1024) {
    frame(uut, 0, 1, 1, l);
    frame(uut, 2 * (l + 2), 2, 2, l);
    frame(uut, kPong, 3, 3, l);
    fill(qcu, 0, 0, 0, 4 * (l + 2));
    comparators(uut, qcu);
    start(uut, "mode trnc", qcu, "mode recm");
    wait_ms(500);
    stop(uut, qcu);
    return compare(qcu, 2, 1, 1, l) + compare(qcu, 2 * l + 6, 2, 2, l) +
           compare(qcu, 4 * l + 10, 3, 3, l);
  }

  // --- Self loops: input "unpr" (SelfLoop, SelfLong) or "PROT" (SelfLoop2) ---
  void self_setup(const char* input_route) {
    cmd(uut, "*RST");
    for (const char* route : {"rout:clos out1", "rout:clos out2", "rout:clos out3",
                              "rout:clos out4", "rout:clos ampl"}) {
      cmd(uut, route);
    }
    cmd(uut, input_route);
  }
  struct SelfResult {
    int ping = 0;  // whole-word miscompares of the transmit buffer
    int pong = 0;  // low-byte miscompares of the received copy
  };
  SelfResult self_pass(int pass, std::size_t n = 1024, bool long_form = false) {
    const unsigned s = static_cast<unsigned>(pass % 256);
    out16(uut, 0, kStart);
    fill(uut, 2, s, 1, n);
    out16(uut, 2 * (n + 1), kStop15);
    if (long_form) {
      cmd(uut, "trac:data:clr Pong");
      cmd(uut, "*opc");
    } else {
      fill(uut, kPong, 0, 0, n + 2);
    }
    cmd(uut, "comm:rec:start  1");
    cmd(uut, "comm:rec:stop  15");
    cmd(uut, "comm:tran:stop  15");
    cmd(uut, "mode self");
    cmd(uut, "*opc");
    if (long_form) {
      for (int tick = 0; tick < 8; ++tick) wait_ms(1000);
    }
    cmd(uut, "mode idle");
    cmd(uut, "*opc");
    return SelfResult{compare(uut, 2, s, 1, n, true), compare(uut, kPong + 2, s, 1, n)};
  }

  // --- Stamp ---
  void stamp_setup() { two_unit_setup(qcu, uut, "tim 1000"); }
  int stamp_pass(std::size_t l = 1024) {
    frame(qcu, 0, 1, 1, l);
    frame(qcu, 2 * (l + 2), 2, 2, l);
    frame(qcu, kPong, 3, 3, l);
    fill(uut, 0, 0, 0, 4 * (l + 2));
    comparators(qcu, uut);
    start(qcu, "mode trnc", uut, "mode recm");
    for (int tick = 0; tick < 19; ++tick) wait_ms(500);
    stop(qcu, uut);
    return compare(uut, 2, 1, 1, l) + compare(uut, 2 * l + 6, 2, 2, l) +
           compare(uut, 4 * l + 10, 3, 3, l);
  }
  // The ten stamps as the station reads them: four hex digits at characters 7k-4 .. 7k-1.
  std::vector<long> stamps() {
    const std::string reply = bench.query(uut, "trac:data? stamp");
    std::vector<long> values;
    for (std::size_t k = 1; k <= 10; ++k) {
      long value = 0;
      for (std::size_t pos = 7 * k - 4; pos <= 7 * k - 1; ++pos) {
        const char c = pos - 1 < reply.size() ? reply[pos - 1] : '\0';
        const std::string_view digits = "0123456789ABCDEF";
        const std::size_t digit = c == '\0' ? 0 : digits.find(c);
        value = value * 16 + (digit == std::string_view::npos ? -1 : static_cast<long>(digit));
      }
      values.push_back(value);
    }
    return values;
  }
  // The first nine intervals, corrected for the counter's wrap.
  std::vector<long> stamp_intervals() {
    const std::vector<long> s = stamps();
    std::vector<long> deltas;
    for (std::size_t j = 0; j + 1 < s.size(); ++j) {
      long delta = s[j + 1] - s[j];
      if (delta < 0) delta += 65536;
      deltas.push_back(delta);
    }
    return deltas;
  }

  TestBench bench;
  visa::ViSession rm = 0;
  visa::ViSession uut = 0;
  visa::ViSession qcu = 0;
  SimModule* uut_module = nullptr;
  SimModule* qcu_module = nullptr;

 private:
  void uut_ping_and_pong(std::size_t l) {
    frame(uut, 0, 1, 1, l);
    frame(uut, kPong, 3, 3, l);
    fill(qcu, 0, 0, 0, 3 * (l + 2));
  }
};

}  // namespace sim::testing
