// A chassis on a virtual clock, and the few VISA steps every chassis test repeats.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "sim/sim_chassis.h"
#include "sim/sim_status.h"
#include "testing/sim_bench.h"

namespace sim::testing {

struct TestBench : testing_support::SimBench {
  explicit TestBench(BenchConfig config = benches::standard()) : SimBench(std::move(config)) {}

  visa::VisaLibrary& visa() { return chassis; }

  visa::ViSession manager() {
    visa::ViSession rm = 0;
    EXPECT_EQ(visa().viOpenDefaultRM(&rm), visa::VI_SUCCESS);
    return rm;
  }

  visa::ViSession open(visa::ViSession rm, const char* name) {
    visa::ViSession session = 0;
    EXPECT_EQ(visa().viOpen(rm, name, 0, 0, &session), visa::VI_SUCCESS) << name;
    return session;
  }

  visa::ViStatus write(visa::ViSession session, std::string_view command) {
    visa::ViUInt32 returned = 0;
    const visa::ViStatus status =
        visa().viWrite(session, reinterpret_cast<const unsigned char*>(command.data()),
                       static_cast<visa::ViUInt32>(command.size()), &returned);
    if (status == visa::VI_SUCCESS) {
      EXPECT_EQ(returned, command.size());
    }
    return status;
  }

  // Reads one reply as the driver does (1000-byte buffer); the text includes the "\n".
  std::string read(visa::ViSession session, visa::ViStatus* status = nullptr) {
    unsigned char buffer[1000];
    visa::ViUInt32 returned = 0xDEAD;
    const visa::ViStatus result = visa().viRead(session, buffer, sizeof buffer, &returned);
    if (status != nullptr) *status = result;
    return std::string(reinterpret_cast<const char*>(buffer), returned);
  }

  // Writes a query and reads its reply.
  std::string query(visa::ViSession session, std::string_view command) {
    EXPECT_EQ(write(session, command), visa::VI_SUCCESS) << command;
    visa::ViStatus status = visa::VI_SUCCESS;
    std::string reply = read(session, &status);
    EXPECT_EQ(status, visa::VI_SUCCESS) << command;
    return reply;
  }
};

}  // namespace sim::testing
