// The Quor Bus module's own firmware: what a module does between host accesses in each mode.
//
// Frames. A transmitter sends a frame from a buffer offset: the start word there, then the words
// after it up to and including the first whose high byte is the transmit stop value
// ("comm:tran:stop"), never past the end of the buffer it starts in. A receiver in a receive mode
// keeps an arriving frame only when the start word's high byte is the receive start value and a
// later word's high byte is the receive stop value; it stores the start word, the data words and
// that stop word.
//
// Modes.
//   rec   frames go alternately to the start of PING and of PONG (the first to PING).
//   recm  frames are stored one after another from offset 0 while they fit the memory.
//   trnd  PING at once; then, for each host write of 1 to the next-buffer register, the other
//         buffer (PONG, PING, PONG, ...).
//   trno  PING once.
//   trns  PING at once, then PONG at every timer interval.
//   trnc  the frame chain of PING (a frame follows another when the word right behind its stop
//         word is a start word: low byte 0, high byte neither 0 nor the stop value), then PONG,
//         and again from the start of PING, one frame per timer interval.
//   self  PING at once, looped back over the bench cables to the module's own closed input and
//         stored at the start of PONG.
// The transmit timer ("tim <n>") counts in units of kTimerUnitUs; 0 stops it, so the timed modes
// then send their first frame only.
//
// Time stamps. A 16-bit counter runs at kStampCountsPerSecond from power-up; each frame stored in
// a receive mode records the counter at its arrival. Starting a receive mode clears the stamps.
//
// Pacing follows the chassis clock: the chassis lets every firmware catch up before it serves a
// message-based call or a block move, and on a next-buffer write. Frames fall due at exact
// multiples of the timer interval after the mode started, however late the catching up happens.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/sim_module.h"

namespace sim {

// What the firmware needs of the chassis it sits in.
class Backplane {
 public:
  // Lets every module's firmware catch up with the chassis clock; returns the time reached.
  virtual std::uint64_t catch_up() = 0;
  // Carries `frame` from `from`'s closed, working outputs over the bench cables to the closed,
  // working inputs at their other ends; each module reached gets the frame once.
  virtual void send(SimModule& from, std::span<const std::uint16_t> frame, std::uint64_t at_us) = 0;

 protected:
  ~Backplane() = default;
};

class QuorFirmware final : public Firmware {
 public:
  explicit QuorFirmware(Backplane& backplane) : backplane_(backplane) {}

  void on_mode_change(SimModule& module, Mode previous) override;
  void on_time(SimModule& module, std::uint64_t now_us) override;
  void on_next_buffer(SimModule& module) override;
  void on_frame(SimModule& module, std::span<const std::uint16_t> words, Route input,
                std::uint64_t at_us) override;

  // The time-stamp counter's reading at `at_us`.
  static std::uint16_t stamp_counter(std::uint64_t at_us) {
    return static_cast<std::uint16_t>(at_us / (1000000U / kStampCountsPerSecond));
  }

 private:
  // Sends the frame starting at word `first`; returns the index just past its stop word, or
  // nothing when the buffer ended before a stop word.
  std::optional<std::size_t> transmit(SimModule& module, std::size_t first, std::uint64_t at_us);
  // Sends the next frame of a timed mode (trns, trnc) and moves on in the sequence.
  void transmit_next(SimModule& module, std::uint64_t at_us);
  void store(SimModule& module, std::size_t first_word, std::span<const std::uint16_t> frame,
             std::uint64_t at_us);

  Backplane& backplane_;
  std::uint64_t now_us_ = 0;             // last time caught up to
  std::optional<std::uint64_t> due_us_;  // next timed frame
  std::size_t next_word_ = 0;            // trnc: the next frame's start; trns/trnd: the buffer
  std::size_t store_word_ = 0;           // rec: 0 or PONG; recm: the next free word
  std::size_t frames_received_ = 0;      // in this receive run
  std::vector<std::uint16_t> frame_;     // the frame being sent
  std::vector<std::uint16_t> received_;  // the frame being stored
};

}  // namespace sim
