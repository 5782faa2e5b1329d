// The whole station over a fresh simulated chassis on virtual time, seen through a library that
// counts every VISA call and can make one chosen call fail, for the reliability suite.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"
#include "visa/forwarding_visa.h"

namespace reliability {

// Counts the calls that pass through it (numbered from 1) and lets call number `fail_at` fail
// with `status`, without reaching the chassis.
class FailAtCall final : public visa::ForwardingVisa {
 public:
  explicit FailAtCall(visa::VisaLibrary& inner) : visa::ForwardingVisa(inner) {}

  std::uint64_t calls = 0;
  std::uint64_t fail_at = 0;  // 0: none
  visa::ViStatus status = visa::VI_SUCCESS;
  bool failed = false;  // the chosen call came and failed
  bool record_kinds = false;
  std::vector<char> kinds;           // one letter per call: the register runs' calls are 'r'
  std::vector<std::string> written;  // every text written, failed or not

  visa::ViStatus viOpenDefaultRM(visa::ViSession* m) override {
    return take('o') ? status : inner().viOpenDefaultRM(m);
  }
  visa::ViStatus viFindRsrc(visa::ViSession m, const char* e, visa::ViFindList* l,
                            visa::ViUInt32* c, visa::ViChar n[visa::VI_FIND_BUFLEN]) override {
    return take('f') ? status : inner().viFindRsrc(m, e, l, c, n);
  }
  visa::ViStatus viFindNext(visa::ViFindList l, visa::ViChar n[visa::VI_FIND_BUFLEN]) override {
    return take('f') ? status : inner().viFindNext(l, n);
  }
  visa::ViStatus viOpen(visa::ViSession m, const char* r, visa::ViUInt32 a, visa::ViUInt32 t,
                        visa::ViSession* s) override {
    return take('o') ? status : inner().viOpen(m, r, a, t, s);
  }
  visa::ViStatus viClose(visa::ViObject o) override {
    return take('c') ? status : inner().viClose(o);
  }
  visa::ViStatus viGetAttribute(visa::ViObject o, visa::ViAttr a, visa::ViAttrState* v) override {
    return take('a') ? status : inner().viGetAttribute(o, a, v);
  }
  visa::ViStatus viSetAttribute(visa::ViObject o, visa::ViAttr a, visa::ViAttrState v) override {
    return take('a') ? status : inner().viSetAttribute(o, a, v);
  }
  visa::ViStatus viWrite(visa::ViSession s, const unsigned char* b, visa::ViUInt32 c,
                         visa::ViUInt32* n) override {
    written.emplace_back(reinterpret_cast<const char*>(b), c);
    if (take('w')) {
      if (n != nullptr) *n = 0;
      return status;
    }
    return inner().viWrite(s, b, c, n);
  }
  visa::ViStatus viRead(visa::ViSession s, unsigned char* b, visa::ViUInt32 c,
                        visa::ViUInt32* n) override {
    if (take('d')) {
      if (n != nullptr) *n = 0;
      return status;
    }
    return inner().viRead(s, b, c, n);
  }
  visa::ViStatus viStatusDesc(visa::ViObject o, visa::ViStatus s,
                              visa::ViChar d[visa::VI_FIND_BUFLEN]) override {
    return take('s') ? status : inner().viStatusDesc(o, s, d);
  }
  visa::ViStatus viIn16(visa::ViSession s, visa::ViUInt16 sp, visa::ViBusAddress o,
                        visa::ViUInt16* v) override {
    return take('r') ? status : inner().viIn16(s, sp, o, v);
  }
  visa::ViStatus viOut16(visa::ViSession s, visa::ViUInt16 sp, visa::ViBusAddress o,
                         visa::ViUInt16 v) override {
    return take('r') ? status : inner().viOut16(s, sp, o, v);
  }
  visa::ViStatus viMoveIn16(visa::ViSession s, visa::ViUInt16 sp, visa::ViBusAddress o,
                            visa::ViBusSize c, visa::ViUInt16* v) override {
    return take('m') ? status : inner().viMoveIn16(s, sp, o, c, v);
  }
  visa::ViStatus viMoveOut16(visa::ViSession s, visa::ViUInt16 sp, visa::ViBusAddress o,
                             visa::ViBusSize c, const visa::ViUInt16* v) override {
    return take('m') ? status : inner().viMoveOut16(s, sp, o, c, v);
  }

  void restart_count() {
    calls = 0;
    kinds.clear();
    written.clear();
  }

 private:
  bool take(char kind) {
    ++calls;
    if (record_kinds) kinds.push_back(kind);
    if (calls != fail_at) return false;
    failed = true;
    return true;
  }
};

// Answers the next read after a chosen command was written with a chosen reply instead of the
// module's, as a module that sends anything at all would; a reply longer than the read takes
// comes in pieces, and a read that fills its buffer without a line end gives
// VI_SUCCESS_MAX_CNT.
class HostileReplies final : public visa::ForwardingVisa {
 public:
  explicit HostileReplies(visa::VisaLibrary& inner) : visa::ForwardingVisa(inner) {}

  void answer(std::string command, std::string reply) {
    command_ = std::move(command);
    reply_ = std::move(reply);
  }

  visa::ViStatus viWrite(visa::ViSession s, const unsigned char* b, visa::ViUInt32 c,
                         visa::ViUInt32* n) override {
    if (!command_.empty()) {
      pending_ = std::string(reinterpret_cast<const char*>(b), c) == command_;
      sent_ = 0;
    }
    return inner().viWrite(s, b, c, n);
  }
  visa::ViStatus viRead(visa::ViSession s, unsigned char* b, visa::ViUInt32 c,
                        visa::ViUInt32* n) override {
    const visa::ViStatus status = inner().viRead(s, b, c, n);
    if (!pending_) return status;
    const std::size_t count = std::min<std::size_t>(c, reply_.size() - sent_);
    std::copy_n(reply_.data() + sent_, count, b);
    sent_ += count;
    if (n != nullptr) *n = static_cast<visa::ViUInt32>(count);
    pending_ = sent_ < reply_.size();
    // A read that ends because the buffer is full, not at a line end, says so.
    const bool full = count == c && (count == 0 || b[count - 1] != '\n');
    return full ? visa::VI_SUCCESS_MAX_CNT : visa::VI_SUCCESS;
  }

 private:
  std::string command_;
  std::string reply_;
  bool pending_ = false;
  std::size_t sent_ = 0;
};

// A station with its windows over a fresh chassis.
struct Bench : testing_support::SimStation {
  Bench();
  ~Bench();

  // Opens the UUT (logical address 8) and the QCU (24) as Initialize would.
  void open_units();
  // Clicks Cal Complete at the first yield after the calibration loop sent its constant
  // `passes` times.
  void complete_calibration_after(int passes);
  // Closes the main window: the station's shut-down sequence.
  void shut_down();

  sim::SimModule& uut() { return *chassis.module_at(8); }

  // The hostile replies over the chassis, the call counter over those: the station calls it.
  HostileReplies& replies;
  FailAtCall& library;
  std::unique_ptr<station::StationWindows> windows;
  int program_ends = 0;
};

}  // namespace reliability
