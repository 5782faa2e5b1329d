// The station's functional-test passes replayed as plain VISA calls on a standard bench, one row
// a test: the frames written, the areas cleared, the waits and feeds while the units run, and
// the compares, so a suite can check what a healthy or a faulty module leaves in the receiver's
// memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim_test_support.h"

namespace sim::testing {

inline constexpr visa::ViBusAddress kPong = 0x100000;
inline constexpr visa::ViUInt16 kStart = 0x0100;
inline constexpr visa::ViUInt16 kStop14 = 0x0E00;
inline constexpr visa::ViUInt16 kStop15 = 0x0F00;

// A place or a size in words that grows with the frame length L: per_word * L + plus.
struct Span {
  std::uint32_t per_word;
  std::uint32_t plus;
  std::uint32_t at(std::size_t length) const {
    return per_word * static_cast<std::uint32_t>(length) + plus;
  }
};

// A pattern (start, start + step, ... modulo 256) at an offset.
struct Pattern {
  Span offset;
  unsigned start;
  unsigned step;
};

struct Clear {
  Span offset;
  Span words;
};

// `times` waits of `ms`; then `feed` (if any) goes to the transmitter and the next buffer is
// signalled.
struct Wait {
  std::uint64_t ms;
  int times;
  std::optional<Pattern> feed;
};

struct PassRow {
  bool uut_transmits;
  const char* timer;
  const char* transmit;
  const char* receive;
  std::size_t length;
  std::vector<Pattern> frames;  // written to the transmitter first
  std::vector<Clear> clears;    // in the receiver
  std::vector<Wait> waits;
  std::vector<Pattern> compares;  // in the receiver, on low bytes
};

constexpr Span at(std::uint32_t plus) { return {0, plus}; }

// clang-format off
inline const PassRow kRec = {false, "tim 10", "mode trnd", "mode rec", 1024,
    {{at(0), 1, 1}},
    {{at(0), {1, 2}}, {at(kPong), {1, 2}}},
    {{100, 1, Pattern{at(kPong), 3, 3}}, {100, 1, Pattern{at(0), 4, 3}}, {100, 1, std::nullopt}},
    {{at(2), 4, 3}, {at(kPong + 2), 3, 3}}};
inline const PassRow kRecm = {false, "tim 10", "mode trnd", "mode recm", 1024,
    {{at(0), 1, 1}},
    {{at(0), {3, 6}}},
    {{10, 1, Pattern{at(kPong), 3, 3}}, {100, 1, Pattern{at(0), 4, 4}}, {100, 1, std::nullopt}},
    {{at(2), 1, 1}, {{2, 6}, 3, 3}, {{4, 10}, 4, 4}}};
// Trns and Trno share their buffers: PING once, then PONG every timer interval (trns).
inline const PassRow kTrns = {true, "tim 10", "mode trns", "mode recm", 1024,
    {{at(0), 1, 1}, {at(kPong), 3, 3}},
    {{at(0), {3, 6}}},
    {{500, 1, std::nullopt}},
    {{at(2), 1, 1}, {{2, 6}, 3, 3}, {{4, 10}, 3, 3}}};
inline const PassRow kTrno = {true, "tim 10", "mode trno", "mode recm", 1024,
    {{at(0), 1, 1}, {at(kPong), 3, 3}},
    {{at(0), {3, 6}}},
    {{50, 1, std::nullopt}},
    {{at(2), 1, 1}, {{2, 4}, 0, 0}, {{4, 6}, 0, 0}}};
inline const PassRow kTrnd = {true, "tim 10", "mode trnd", "mode recm", 16,
    {{at(0), 1, 1}},
    {{at(0), {4, 2}}},
    {{100, 1, Pattern{at(kPong), 3, 3}}, {100, 1, Pattern{at(0), 4, 3}}, {100, 1, std::nullopt}},
    {{at(2), 1, 1}, {{2, 6}, 3, 3}, {{4, 10}, 4, 3}}};
inline const PassRow kTrnc = {true, "tim 10", "mode trnc", "mode recm", 1024,
    {{at(0), 1, 1}, {{2, 4}, 2, 2}, {at(kPong), 3, 3}},
    {{at(0), {4, 8}}},
    {{500, 1, std::nullopt}},
    {{at(2), 1, 1}, {{2, 6}, 2, 2}, {{4, 10}, 3, 3}}};
// The QCU sends the Trnc chain to the UUT, whose time stamps are read after the pass.
inline const PassRow kStamp = {false, "tim 1000", "mode trnc", "mode recm", 1024,
    {{at(0), 1, 1}, {{2, 4}, 2, 2}, {at(kPong), 3, 3}},
    {{at(0), {4, 8}}},
    {{500, 19, std::nullopt}},
    {{at(2), 1, 1}, {{2, 6}, 2, 2}, {{4, 10}, 3, 3}}};
// clang-format on

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
  void setup(const PassRow& row) { two_unit_setup(transmitter(row), receiver(row), row.timer); }

  // One pass of the row with frames of `length` words; returns the miscompares.
  int run_pass(const PassRow& row, std::size_t length) {
    const visa::ViSession t = transmitter(row);
    const visa::ViSession r = receiver(row);
    const auto write = [&](const Pattern& p) {
      frame(t, p.offset.at(length), p.start, p.step, length);
    };
    for (const Pattern& p : row.frames) write(p);
    for (const Clear& area : row.clears)
      fill(r, area.offset.at(length), 0, 0, area.words.at(length));
    comparators(t, r);
    cmd(r, row.receive);
    cmd(r, "*opc");
    cmd(t, row.transmit);
    cmd(t, "*opc");
    for (const Wait& wait : row.waits) {
      for (int i = 0; i < wait.times; ++i) wait_ms(wait.ms);
      if (wait.feed) {
        write(*wait.feed);
        signal(t);
      }
    }
    for (const visa::ViSession unit : {r, t}) {
      cmd(unit, "mode idle");
      cmd(unit, "*opc");
    }
    int bad = 0;
    for (const Pattern& p : row.compares) {
      bad += compare(r, p.offset.at(length), p.start, p.step, length);
    }
    return bad;
  }
  int run_pass(const PassRow& row) { return run_pass(row, row.length); }

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
    frame(uut, 0, s, 1, n, kStop15);
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
  visa::ViSession transmitter(const PassRow& row) const { return row.uut_transmits ? uut : qcu; }
  visa::ViSession receiver(const PassRow& row) const { return row.uut_transmits ? qcu : uut; }
};

}  // namespace sim::testing
