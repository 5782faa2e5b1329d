// A comma-decimal locale ("1,5") set around a check, so that a reader or writer of numbers that
// follows the process locale shows up. Where the locale is missing the check is skipped, unless
// QUOR_REQUIRE_COMMA_LOCALE=1 says that it must run (the suites' comma-locale runs set it).
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <stdexcept>
#include <string>

namespace quor_test {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

inline bool comma_locale_required() {
  const char* flag = std::getenv("QUOR_REQUIRE_COMMA_LOCALE");
  return flag != nullptr && std::strcmp(flag, "1") == 0;
}

// Sets the C and C++ locales to the comma-decimal one and restores the previous ones.
class CommaLocale {
 public:
  CommaLocale() : previous_c_(std::setlocale(LC_ALL, nullptr)), previous_cpp_(std::locale()) {
    if (std::setlocale(LC_ALL, kCommaLocale) == nullptr) return;
    try {
      std::locale::global(std::locale(kCommaLocale));
    } catch (const std::runtime_error&) {
      std::setlocale(LC_ALL, previous_c_.c_str());
      return;
    }
    active_ = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
  }
  ~CommaLocale() {
    std::locale::global(previous_cpp_);
    std::setlocale(LC_ALL, previous_c_.c_str());
  }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  bool active() const { return active_; }

 private:
  std::string previous_c_;
  std::locale previous_cpp_;
  bool active_ = false;
};

}  // namespace quor_test

// Declares `guard`, a CommaLocale for the rest of the scope; fails the test when the locale cannot
// be set and QUOR_REQUIRE_COMMA_LOCALE=1, and skips it otherwise.
#define QUOR_IN_COMMA_LOCALE(guard)                                                    \
  const ::quor_test::CommaLocale guard;                                                \
  if (!guard.active()) {                                                               \
    if (::quor_test::comma_locale_required()) {                                        \
      FAIL() << "the locale " << ::quor_test::kCommaLocale                             \
             << " cannot be set; generate it (scripts/station.sh does) or unset "      \
                "QUOR_REQUIRE_COMMA_LOCALE";                                           \
    }                                                                                  \
    GTEST_SKIP() << "the locale " << ::quor_test::kCommaLocale << " is not installed"; \
  }                                                                                    \
  static_assert(true)
