#include "records/run_record.h"

#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace records {

namespace {

bool is_padding(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// A control character's picture, U+2400 + its value, in UTF-8: E2 90 80 to E2 90 9F.
constexpr char kPictureLead = '\xE2';
constexpr char kPictureSecond = '\x90';
constexpr std::string_view kNulPicture = "\xE2\x90\x80";

bool has_picture(unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

void append_picture(std::string& out, unsigned char c) {
  out += kPictureLead;
  out += kPictureSecond;
  out += static_cast<char>(0x80 | c);
}

void append_latin1(std::string& out, unsigned char c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Trimmed of padding, cut to `length` characters.
std::string field_text(std::string_view text, std::size_t length) {
  for (bool more = true; more;) {
    more = false;
    if (!text.empty() && is_padding(text.front())) {
      text.remove_prefix(1);
      more = true;
    } else if (text.starts_with(kNulPicture)) {
      text.remove_prefix(kNulPicture.size());
      more = true;
    }
    if (!text.empty() && is_padding(text.back())) {
      text.remove_suffix(1);
      more = true;
    } else if (text.ends_with(kNulPicture)) {
      text.remove_suffix(kNulPicture.size());
      more = true;
    }
  }
  // A character begins at every byte that is not a UTF-8 continuation byte.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == length) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

// Digits only: no sign, no blanks.
bool read_number(std::string_view text, int& value) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace

UnitIdentity identify(std::string reply) {
  UnitIdentity identity;
  std::string_view rest = reply;
  std::string* fields[] = {&identity.maker, &identity.model, &identity.serial};
  bool more = !field_text(rest, 1).empty();
  for (std::string* field : fields) {
    if (!more) break;
    const auto comma = rest.find(',');
    *field = field_text(rest.substr(0, comma), kIdentityFieldLength);
    if (comma == std::string_view::npos) {
      more = false;
    } else {
      rest.remove_prefix(comma + 1);
    }
  }
  if (more) identity.firmware = field_text(rest, kIdentityFieldLength);
  identity.reply = std::move(reply);
  return identity;
}

std::string module_text(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 2);
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (has_picture(c)) {
      append_picture(text, c);
    } else {
      append_latin1(text, c);
    }
  }
  return text;
}

std::optional<std::string> module_bytes(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_length(text, i);
    const auto last = static_cast<unsigned char>(text[i + (length > 0 ? length - 1 : 0)]);
    if (length == 1 && !has_picture(c)) {
      bytes += static_cast<char>(c);
    } else if (length == 2 && c <= 0xC3) {
      // U+0080 to U+00FF
      bytes += static_cast<char>(((c & 0x03) << 6) | (last & 0x3F));
    } else if (length == 3 && text[i] == kPictureLead && text[i + 1] == kPictureSecond &&
               last < 0xA0 && has_picture(last & 0x1F)) {
      bytes += static_cast<char>(last & 0x1F);
    } else {
      return std::nullopt;
    }
    i += length;
  }
  return bytes;
}

std::string station_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_length(text, i);
    if (length == 0) {
      append_latin1(out, c);
      ++i;
    } else if (length == 1 && has_picture(c)) {
      append_picture(out, c);
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

std::string new_run_id() {
  return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

std::string default_station_id() { return QSysInfo::machineHostName().toStdString(); }

TimePoint now() { return std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now()); }

RunClock::RunClock(std::function<TimePoint()> wall, std::function<Steady::time_point()> steady)
    : wall_(std::move(wall)), steady_(std::move(steady)) {}

RunClock::Start RunClock::start() {
  Start start{wall_(), {}, steady_()};
  std::lock_guard lock(mutex_);
  start.made = start.started;
  if (last_made_) {
    // At least a millisecond after the last, so that no two runs share a place.
    const auto since =
        std::max(std::chrono::duration_cast<std::chrono::milliseconds>(start.steady - last_steady_),
                 std::chrono::milliseconds{1});
    start.made = std::max(start.made, *last_made_ + since);
  }
  last_made_ = start.made;
  last_steady_ = start.steady;
  return start;
}

TimePoint RunClock::end(const Start& start) const {
  return start.started +
         std::chrono::duration_cast<std::chrono::milliseconds>(steady_() - start.steady);
}

void RunClock::follow(TimePoint made) {
  std::lock_guard lock(mutex_);
  if (last_made_ && *last_made_ >= made) return;
  last_made_ = made;
  last_steady_ = steady_();
}

RunClock& run_clock() {
  static RunClock clock;
  return clock;
}

std::string utc_text(TimePoint time) {
  using namespace std::chrono;
  const auto day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()));
  return text.data();
}

std::optional<TimePoint> parse_utc_date(std::string_view text) {
  // YYYY-MM-DD
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int y = 0;
  int m = 0;
  int d = 0;
  if (!read_number(text.substr(0, 4), y) || !read_number(text.substr(5, 2), m) ||
      !read_number(text.substr(8, 2), d)) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year{y},
                                         std::chrono::month{static_cast<unsigned>(m)},
                                         std::chrono::day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  return TimePoint{std::chrono::sys_days{date}.time_since_epoch()};
}

std::optional<TimePoint> parse_utc_text(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS.mmmZ
  if (text.size() != 24 || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != '.' || text[23] != 'Z') {
    return std::nullopt;
  }
  const auto day = parse_utc_date(text.substr(0, 10));
  int h = 0;
  int min = 0;
  int s = 0;
  int ms = 0;
  if (!day || !read_number(text.substr(11, 2), h) || !read_number(text.substr(14, 2), min) ||
      !read_number(text.substr(17, 2), s) || !read_number(text.substr(20, 3), ms) || h > 23 ||
      min > 59 || s > 59) {
    return std::nullopt;
  }
  return *day + std::chrono::hours{h} + std::chrono::minutes{min} + std::chrono::seconds{s} +
         std::chrono::milliseconds{ms};
}

std::string number_text(double value) {
  std::array<char, 32> text{};
  auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{}) return {};
  return std::string(text.data(), end);
}

}  // namespace records
