// Each wrap and self-loop test held against its row: the commands and step labels of a pass, the
// frames it writes, the waits and feeds while the units run, the areas it clears, what its
// compares read and how, its failure limit and its number of passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <span>
#include <sstream>

#include "bus_test_fixture.h"
#include "pass_rows.h"

namespace procedures_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

const char* mode_name(sim::Mode mode) {
  static const char* const names[] = {"idle", "rec",  "recm", "trnd",
                                      "trno", "trns", "trnc", "self"};
  return names[static_cast<int>(mode)];
}

class RowFixture : public BusTest {
 protected:
  // The receive areas are preset with a marker once the first pass has cleared them, the receiver
  // hears nothing, and the next pass clears them again, exactly.
  void expect_cleared_again(core::ProcedureKind test, sim::SimModule& receiver, sim::Route input,
                            const std::vector<Area>& areas) {
    receiver.set_route_dead(input);
    constexpr std::uint16_t kMarker = 0xAAAA;
    pump.at_yield(1, [&] {
      for (const Area& area : areas) {
        for (std::uint32_t i = 0; i < area.words + 8; ++i) {
          receiver.set_memory_word(area.offset + 2 * i, kMarker);
        }
      }
    });
    run(test);
    for (const Area& area : areas) {
      EXPECT_EQ(receiver.memory_word(area.offset), 0) << std::hex << area.offset;
      EXPECT_EQ(receiver.memory_word(area.offset + 2 * (area.words - 1)), 0)
          << std::hex << area.offset;
      EXPECT_EQ(receiver.memory_word(area.offset + 2 * area.words), kMarker)
          << std::hex << area.offset;
    }
  }
};

class PassRowTest : public RowFixture, public ::testing::WithParamInterface<PassRow> {
 protected:
  const PassRow& row() { return GetParam(); }
  sim::SimModule& module(Unit unit) { return unit == Unit::Uut ? uut() : qcu(); }
  sim::SimModule& transmitter() { return module(row().transmitter); }
  sim::SimModule& receiver() { return module(row().receiver); }
  void stop_after_pass(int pass) {
    pump.at_yield(static_cast<std::uint64_t>(pass) * row().yields_per_pass(), [this] { stop(); });
  }
  // Words of the image that differ from what the transmitter holds.
  std::size_t misplaced(const Image& image, int pass) {
    const sim::SimModule& t = transmitter();
    std::size_t bad = t.memory_word(image.offset) != kStartMark ? 1 : 0;
    unsigned value = row().start_in(image.start, pass);
    for (std::uint32_t i = 0; i < image.length; ++i) {
      if (t.memory_word(image.offset + 2 * (i + 1)) != value) ++bad;
      value = (value + image.step) % 256;
    }
    return bad + (t.memory_word(image.offset + 2 * (image.length + 1)) != image.stop ? 1 : 0);
  }
  Texts with_identity(const std::vector<Step>& pass_steps, bool labels) {
    std::vector<Step> steps = {{Unit::Uut, "*idn?", "Querying the UUT identity"}};
    steps.insert(steps.end(), row().prepare.begin(), row().prepare.end());
    steps.insert(steps.end(), pass_steps.begin(), pass_steps.end());
    Texts texts;
    for (const Step& step : steps) {
      texts.push_back(labels ? step.label
                             : (step.unit == Unit::Uut ? "UUT: " : "QCU: ") + step.command);
    }
    return texts;
  }
};

TEST_P(PassRowTest, SendsItsCommandsToEachUnitInOrder) {
  stop_after_pass(1);
  run(row().test);
  Texts sent;
  for (const sim::ChassisCommand& command : chassis.command_log()) {
    if (command.text == "*STB?" || command.text == "SYST:ERR?") continue;
    sent.push_back((command.logical_address == 8 ? "UUT: " : "QCU: ") + command.text);
  }
  const auto first = std::find(sent.begin(), sent.end(), "UUT: *idn?");
  EXPECT_EQ(Texts(first, sent.end()), with_identity(row().pass, false));
}

// Every command is rejected and every report opens a box, so the boxes list the step labels.
TEST_P(PassRowTest, NamesEachStepWithItsLabel) {
  station.driver.set_error_options(2);
  uut().set_query_reply("*STB?", "4");
  qcu().set_query_reply("*STB?", "4");
  stop_after_pass(1);
  run(row().test);
  Texts labels;
  for (const auto& box : person.shown) {
    if (box.title == "Error") labels.push_back(box.text.substr(0, box.text.find('\n')));
  }
  EXPECT_EQ(labels, with_identity(row().pass, true));
}

// The frames as the transmitter holds them once the second pass has written them and runs.
TEST_P(PassRowTest, WritesItsFramesToTheTransmitter) {
  std::vector<std::size_t> wrong;
  std::vector<std::uint16_t> behind;
  pump.at_yield(row().yields_per_pass() + 1, [&] {
    for (const Image& image : row().frames) {
      wrong.push_back(misplaced(image, 2));
      const std::uint32_t after = image.offset + 2 * (image.length + 2);
      const bool next_frame =
          std::any_of(row().frames.begin(), row().frames.end(),
                      [&](const Image& other) { return other.offset == after; });
      behind.push_back(next_frame ? 0 : transmitter().memory_word(after));
    }
  });
  stop_after_pass(2);
  run(row().test);
  EXPECT_EQ(wrong, std::vector<std::size_t>(row().frames.size(), 0));
  EXPECT_EQ(behind, std::vector<std::uint16_t>(row().frames.size(), 0));
}

// At each yield of the first pass: the wait's interval, the units' modes, how many buffers were
// signalled and which fed frames the transmitter holds.
TEST_P(PassRowTest, WaitsAndFeedsWhileTheUnitsRun) {
  const std::uint64_t yields = row().yields_per_pass();
  const sim::Mode receiver_mode_before = receiver().mode();
  Texts seen;
  for (std::uint64_t n = 1; n <= yields; ++n) {
    pump.at_yield(n, [&, n] {
      std::ostringstream line;
      line << (pump.tick_timer_running() ? pump.timer_interval_ms() : 0) << " ms, UUT "
           << mode_name(uut().mode()) << ", QCU " << mode_name(qcu().mode()) << ", signalled "
           << transmitter().next_buffer_write_count() << ", fed";
      for (const Wait& wait : row().waits) {
        if (wait.feed) line << ' ' << (misplaced(*wait.feed, 1) == 0 ? 1 : 0);
      }
      seen.push_back(line.str());
      if (n == yields) stop();
    });
  }
  run(row().test);

  Texts expected;
  const auto line = [&](int interval, sim::Mode uut_mode, sim::Mode qcu_mode, int signalled) {
    std::ostringstream text;
    text << interval << " ms, UUT " << mode_name(uut_mode) << ", QCU " << mode_name(qcu_mode)
         << ", signalled " << signalled << ", fed";
    int feed = 0;
    for (const Wait& wait : row().waits) {
      if (wait.feed) text << ' ' << (feed++ < signalled ? 1 : 0);
    }
    return text.str();
  };
  const bool uut_sends = row().transmitter == Unit::Uut;
  const sim::Mode uut_running = uut_sends ? row().transmit_mode : row().receive_mode;
  const sim::Mode qcu_running = row().transmitter == row().receiver
                                    ? receiver_mode_before
                                    : (uut_sends ? row().receive_mode : row().transmit_mode);
  int signalled = 0;
  for (const Wait& wait : row().waits) {
    for (int tick = 0; tick < wait.ticks; ++tick) {
      expected.push_back(line(wait.interval_ms, uut_running, qcu_running, signalled));
    }
    if (wait.feed) ++signalled;
  }
  expected.push_back(line(0, sim::Mode::Idle, sim::Mode::Idle, signalled));
  EXPECT_EQ(seen, expected);
}

// Each compare's first and last words have a wrong low byte, its middle word a high byte: the
// report names the words each compare reads, and the middle word only where whole words count.
class PlantingFirmware final : public sim::Firmware {
 public:
  PlantingFirmware(sim::Firmware* inner, const PassRow& row) : inner_(inner), row_(row) {}
  void on_mode_change(sim::SimModule& module, sim::Mode previous) override {
    if (inner_ != nullptr) inner_->on_mode_change(module, previous);
    if (module.mode() != sim::Mode::Idle || previous == sim::Mode::Idle) return;
    ++pass_;
    for (const Compare& compare : row_.compares) {
      unsigned value = row_.start_in(compare.start, pass_);
      for (std::uint32_t i = 0; i < compare.length; ++i) {
        unsigned word = value;
        if (i == 0 || i == compare.length - 1) word ^= 0x80;
        if (i == compare.length / 2) word |= 0x5500;
        module.set_memory_word(compare.offset + 2 * i, static_cast<std::uint16_t>(word));
        value = (value + compare.step) % 256;
      }
    }
  }
  void on_time(sim::SimModule& module, std::uint64_t now_us) override {
    if (inner_ != nullptr) inner_->on_time(module, now_us);
  }
  void on_next_buffer(sim::SimModule& module) override {
    if (inner_ != nullptr) inner_->on_next_buffer(module);
  }
  void on_frame(sim::SimModule& module, std::span<const std::uint16_t> words, sim::Route input,
                std::uint64_t at_us) override {
    if (inner_ != nullptr) inner_->on_frame(module, words, input, at_us);
  }

 private:
  sim::Firmware* inner_;
  const PassRow& row_;
  int pass_ = 0;
};

TEST_P(PassRowTest, ComparesItsAreasInOrderOnLowBytesOrWholeWords) {
  sim::Firmware* own = receiver().firmware();
  PlantingFirmware planting(own, row());
  receiver().set_firmware(&planting);
  stop_after_pass(2);
  run(row().test);
  receiver().set_firmware(own);

  Texts expected;
  for (int pass = 1; pass <= 2; ++pass) {
    for (const Compare& compare : row().compares) {
      const auto at = [&](std::uint32_t i) {
        return (row().start_in(compare.start, pass) + i * compare.step) % 256;
      };
      const auto miss = [&](std::uint32_t i, unsigned got) {
        expected.push_back("Miscompare at " + hex(compare.offset + 2 * i) + " Expected " +
                           hex(at(i)) + " Got " + hex(got));
      };
      miss(0, at(0) ^ 0x80);
      if (compare.whole_word) miss(compare.length / 2, at(compare.length / 2) | 0x5500);
      miss(compare.length - 1, at(compare.length - 1) ^ 0x80);
    }
  }
  Texts lines;
  std::istringstream report_lines(report());
  for (std::string text; std::getline(report_lines, text);) {
    if (text.rfind("Miscompare at ", 0) == 0) lines.push_back(text.substr(0, text.size() - 1));
  }
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(label(), "Count: 2    Failures: 2");
}

class ClearedAreaTest : public PassRowTest {};
class StampClearedAreaTest : public RowFixture {};

TEST_P(ClearedAreaTest, ClearsExactlyItsReceiveAreas) {
  expect_cleared_again(row().test, receiver(), row().input, row().clears);
}

TEST_F(StampClearedAreaTest, ClearsFourFrameImagesInTheUut) {
  expect_cleared_again(core::ProcedureKind::stamp, uut(), sim::Route::Unpr, {{0, 4 * 1026}});
}

// The receiver reads nothing but bus errors: every pass fails, and the failure limit decides
// where the test ends.
TEST_P(PassRowTest, EndsWhereItsFailureLimitSays) {
  receiver().fail_next(VisaFunction::In16, visa::VI_ERROR_BERR, 100'000'000);
  run(row().test);
  const int passes = row().passes;
  switch (row().limit) {
    case procedures::FailureLimit::None:
      EXPECT_EQ(label(),
                "Count: " + std::to_string(passes) + "    Failures: " + std::to_string(passes));
      EXPECT_EQ(view.progress_value, passes);
      EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
      break;
    case procedures::FailureLimit::AfterDisplay:
      EXPECT_EQ(label(), "Count: 5    Failures: 5");
      EXPECT_EQ(view.progress_value, 4);
      EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
      break;
    case procedures::FailureLimit::BeforeDisplay:
      EXPECT_EQ(label(), "Count: 4    Failures: 4");
      EXPECT_EQ(view.progress_value, 4);
      EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
      break;
  }
}

const auto kRowName = [](const ::testing::TestParamInfo<PassRow>& info) {
  return std::string(info.param.name);
};

INSTANTIATE_TEST_SUITE_P(EachTest, PassRowTest, ::testing::ValuesIn(pass_rows()), kRowName);

std::vector<PassRow> rows_with_clears() {
  std::vector<PassRow> result;
  for (const PassRow& row : pass_rows()) {
    if (!row.clears.empty()) result.push_back(row);
  }
  return result;
}

INSTANTIATE_TEST_SUITE_P(EachTest, ClearedAreaTest, ::testing::ValuesIn(rows_with_clears()),
                         kRowName);

}  // namespace
}  // namespace procedures_suite
