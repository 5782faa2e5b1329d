#include "sim/quor_firmware.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::size_t kPongWord = kPongOffset / 2;
constexpr std::size_t kBufferWords = kBufferBytes / 2;
constexpr std::size_t kMemoryWords = kMemoryBytes / 2;

constexpr unsigned high_byte(std::uint16_t word) { return word >> 8U; }

// A word that can open a frame of a chain: marker in the high byte, nothing in the low byte.
constexpr bool is_start_word(std::uint16_t word, std::uint32_t stop) {
  return (word & 0xFFU) == 0 && high_byte(word) != 0 && high_byte(word) != stop;
}

bool receives(Mode mode) { return mode == Mode::Rec || mode == Mode::Recm || mode == Mode::Self; }

}  // namespace

void QuorFirmware::on_mode_change(SimModule& module, Mode /*previous*/) {
  const std::uint64_t now = now_us_;
  due_us_.reset();
  next_word_ = 0;
  store_word_ = module.mode() == Mode::Self ? kPongWord : 0;
  if (receives(module.mode())) {
    frames_received_ = 0;
    module.clear_stamps();
  }
  switch (module.mode()) {
    case Mode::Trnd:
      transmit(module, 0, now);
      next_word_ = kPongWord;
      break;
    case Mode::Trno:
    case Mode::Self:
      transmit(module, 0, now);
      break;
    case Mode::Trns:
    case Mode::Trnc:
      transmit_next(module, now);
      break;
    case Mode::Idle:
    case Mode::Rec:
    case Mode::Recm:
      break;
  }
}

void QuorFirmware::on_time(SimModule& module, std::uint64_t now_us) {
  while (due_us_ && *due_us_ <= now_us) transmit_next(module, *due_us_);
  now_us_ = std::max(now_us_, now_us);
}

void QuorFirmware::on_next_buffer(SimModule& module) {
  if (module.mode() != Mode::Trnd || module.next_buffer_register() != 1) return;
  // Everything due before the signal happens first, on every module.
  const std::uint64_t now = backplane_.catch_up();
  transmit(module, next_word_, now);
  next_word_ = next_word_ == 0 ? kPongWord : 0;
}

void QuorFirmware::transmit_next(SimModule& module, std::uint64_t at_us) {
  const std::size_t first = next_word_;
  const std::optional<std::size_t> past = transmit(module, first, at_us);
  if (module.mode() == Mode::Trns) {
    next_word_ = kPongWord;
  } else if (first >= kPongWord) {
    next_word_ = 0;  // PONG closes the chain; it starts again with PING
  } else if (past && *past < kPongWord &&
             is_start_word(module.memory_words()[*past], module.transmit_stop())) {
    next_word_ = *past;
  } else {
    next_word_ = kPongWord;
  }
  const std::uint64_t interval = std::uint64_t{module.timer_interval()} * kTimerUnitUs;
  if (interval != 0) {
    due_us_ = at_us + interval;
  } else {
    due_us_.reset();
  }
}

std::optional<std::size_t> QuorFirmware::transmit(SimModule& module, std::size_t first,
                                                  std::uint64_t at_us) {
  const std::vector<std::uint16_t>& memory = module.memory_words();
  const std::size_t end = first < kPongWord ? kPongWord : kMemoryWords;
  const std::uint32_t stop = module.transmit_stop();
  std::size_t last = first + 1;
  while (last < end && high_byte(memory[last]) != stop) ++last;
  const bool stopped = last < end;
  const std::size_t past = stopped ? last + 1 : end;
  frame_.assign(memory.begin() + static_cast<std::ptrdiff_t>(first),
                memory.begin() + static_cast<std::ptrdiff_t>(past));

  const DataBitFault& fault = module.transmit_data_fault();
  if (fault.any()) {
    const std::size_t data_end = stopped ? frame_.size() - 1 : frame_.size();
    for (std::size_t i = 1; i < data_end; ++i) frame_[i] = fault.apply(frame_[i]);
  }
  for (int copy = 0; copy <= module.repeated_frames(); ++copy) {
    backplane_.send(module, frame_, at_us);
  }
  if (!stopped) return std::nullopt;
  return past;
}

void QuorFirmware::on_frame(SimModule& module, std::span<const std::uint16_t> words,
                            Route /*input*/, std::uint64_t at_us) {
  if (!receives(module.mode()) || words.empty()) return;
  if (high_byte(words.front()) != module.receive_start()) return;
  const auto stop = std::find_if(words.begin() + 1, words.end(), [&](std::uint16_t word) {
    return high_byte(word) == module.receive_stop();
  });
  if (stop == words.end()) return;  // never ended: discarded
  const std::span<const std::uint16_t> frame =
      words.first(static_cast<std::size_t>(stop - words.begin()) + 1);

  switch (module.mode()) {
    case Mode::Rec:
      if (frame.size() > kBufferWords) return;
      store(module, store_word_, frame, at_us);
      store_word_ = store_word_ == 0 ? kPongWord : 0;
      break;
    case Mode::Recm:
      if (frame.size() > kMemoryWords - store_word_) return;  // memory full
      store(module, store_word_, frame, at_us);
      store_word_ += frame.size();
      break;
    default:  // self: into PONG
      if (frame.size() > kBufferWords) return;
      store(module, kPongWord, frame, at_us);
      break;
  }
}

void QuorFirmware::store(SimModule& module, std::size_t first_word,
                         std::span<const std::uint16_t> frame, std::uint64_t at_us) {
  const DataBitFault& fault = module.receive_data_fault();
  if (fault.any()) {
    received_.assign(frame.begin(), frame.end());
    for (std::size_t i = 1; i + 1 < received_.size(); ++i) received_[i] = fault.apply(received_[i]);
    module.write_words(first_word, received_);
  } else {
    module.write_words(first_word, frame);
  }
  std::int64_t stamp = stamp_counter(at_us);
  if (frames_received_ >= module.stamp_skew_from()) stamp += module.stamp_skew();
  module.record_stamp(static_cast<std::uint16_t>(stamp));
  ++frames_received_;
}

}  // namespace sim
