#include "records/server_location.h"

#include <algorithm>
#include <charconv>

namespace records {

namespace {

constexpr std::string_view kSchemes[] = {"postgresql://", "postgres://"};

std::size_t scheme_length(std::string_view line) {
  for (std::string_view scheme : kSchemes) {
    if (line.starts_with(scheme)) return scheme.size();
  }
  return 0;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percent_decoded(std::string_view part) {
  std::string decoded;
  decoded.reserve(part.size());
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '%') {
      decoded += part[i];
      continue;
    }
    if (i + 2 >= part.size()) return std::nullopt;
    const int high = hex_digit(part[i + 1]);
    const int low = hex_digit(part[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded += char(high * 16 + low);
    i += 2;
  }
  return decoded;
}

bool unreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string percent_encoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    if (unreserved(c)) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[(static_cast<unsigned char>(c) >> 4) & 0xf];
      encoded += kHex[static_cast<unsigned char>(c) & 0xf];
    }
  }
  return encoded;
}

bool keyword(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

std::optional<int> port_number(std::string_view text) {
  int port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
    return std::nullopt;
  }
  return port;
}

ParsedServerLocation refused(std::string why) { return {std::nullopt, std::move(why)}; }

std::string written(const ServerLocation& location, bool with_password) {
  std::string line = "postgresql://";
  const bool password = with_password && !location.password.empty();
  if (!location.user.empty() || password) {
    line += percent_encoded(location.user);
    if (password) {
      line += ':';
      line += percent_encoded(location.password);
    }
    line += '@';
  }
  if (location.host.find(':') != std::string::npos) {
    line += '[';
    line += location.host;
    line += ']';
  } else {
    line += percent_encoded(location.host);
  }
  if (location.port) {
    line += ':';
    line += std::to_string(*location.port);
  }
  line += '/';
  line += percent_encoded(location.database);
  char separator = '?';
  for (const auto& [key, value] : location.options) {
    line += separator;
    line += key;
    line += '=';
    line += percent_encoded(value);
    separator = '&';
  }
  return line;
}

void replace_all(std::string& text, std::string_view secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + 4)) {
    text.replace(at, secret.size(), "****");
  }
}

}  // namespace

std::optional<std::string> ServerLocation::option(std::string_view key) const {
  for (const auto& [name, value] : options) {
    if (name == key) return value;
  }
  return std::nullopt;
}

std::string ServerLocation::redacted() const { return written(*this, false); }

std::string ServerLocation::line() const { return written(*this, true); }

bool is_server_location(std::string_view line) { return scheme_length(line) > 0; }

ParsedServerLocation parse_server_location(std::string_view line) {
  const std::size_t scheme = scheme_length(line);
  if (scheme == 0) return refused("a server line begins with postgresql://");
  std::string_view rest = line.substr(scheme);
  std::string_view query;
  if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
    query = rest.substr(mark + 1);
    rest = rest.substr(0, mark);
  }
  std::string_view path;
  if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
    path = rest.substr(slash + 1);
    rest = rest.substr(0, slash);
  }
  ServerLocation location;
  std::string_view host_port = rest;
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    std::string_view user_info = rest.substr(0, at);
    host_port = rest.substr(at + 1);
    std::string_view password;
    bool has_password = false;
    if (const std::size_t colon = user_info.find(':'); colon != std::string_view::npos) {
      password = user_info.substr(colon + 1);
      user_info = user_info.substr(0, colon);
      has_password = true;
    }
    const auto user = percent_decoded(user_info);
    if (!user) return refused("the user name holds a broken %-escape");
    location.user = *user;
    if (has_password) {
      const auto decoded = percent_decoded(password);
      if (!decoded) return refused("the password holds a broken %-escape");
      location.password = *decoded;
    }
  }
  std::string_view port_text;
  if (host_port.starts_with('[')) {
    const std::size_t close = host_port.find(']');
    if (close == std::string_view::npos) return refused("the host's [ is not closed");
    location.host = std::string(host_port.substr(1, close - 1));
    const std::string_view after = host_port.substr(close + 1);
    if (!after.empty()) {
      if (!after.starts_with(':')) return refused("the host is followed by something else");
      port_text = after.substr(1);
    }
  } else {
    if (const std::size_t colon = host_port.find(':'); colon != std::string_view::npos) {
      port_text = host_port.substr(colon + 1);
      host_port = host_port.substr(0, colon);
    }
    const auto host = percent_decoded(host_port);
    if (!host) return refused("the host holds a broken %-escape");
    location.host = *host;
  }
  if (!port_text.empty()) {
    location.port = port_number(port_text);
    if (!location.port) return refused("the port is not a number from 1 to 65535");
  }
  const auto database = percent_decoded(path);
  if (!database) return refused("the database name holds a broken %-escape");
  location.database = *database;
  while (!query.empty()) {
    std::string_view pair = query.substr(0, query.find('&'));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
      return refused("the parameter \"" + std::string(pair) + "\" has no value");
    }
    const std::string key(pair.substr(0, equals));
    const auto value = percent_decoded(pair.substr(equals + 1));
    if (!keyword(key)) return refused("\"" + key + "\" is not a connection parameter");
    if (!value) return refused("the parameter " + key + " holds a broken %-escape");
    if (key == "password") {
      location.password = *value;
    } else if (key == "user") {
      location.user = *value;
    } else if (key == "host") {
      location.host = *value;
    } else if (key == "dbname") {
      location.database = *value;
    } else if (key == "port") {
      location.port = port_number(*value);
      if (!location.port) return refused("the port is not a number from 1 to 65535");
    } else {
      location.options.emplace_back(key, *value);
    }
  }
  return {std::move(location), {}};
}

std::vector<std::pair<std::size_t, std::size_t>> password_spans(std::string_view line) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  const std::size_t scheme = scheme_length(line);
  if (scheme == 0) return spans;
  const std::size_t authority_end = std::min(line.find_first_of("/?", scheme), line.size());
  const std::string_view authority = line.substr(scheme, authority_end - scheme);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::size_t colon = authority.find(':');
    if (colon < at && at > colon + 1) spans.emplace_back(scheme + colon + 1, at - colon - 1);
  }
  if (const std::size_t mark = line.find('?', scheme); mark != std::string_view::npos) {
    std::size_t start = mark + 1;
    while (start < line.size()) {
      const std::size_t end = std::min(line.find('&', start), line.size());
      const std::string_view pair = line.substr(start, end - start);
      if (pair.starts_with("password=") && pair.size() > 9) {
        spans.emplace_back(start + 9, pair.size() - 9);
      }
      start = end + 1;
    }
  }
  return spans;
}

std::string without_password(std::string text, std::string_view line) {
  if (const auto location = parse_server_location(line).location) {
    replace_all(text, location->password);
  }
  for (const auto& [offset, length] : password_spans(line)) {
    replace_all(text, line.substr(offset, length));
  }
  return text;
}

std::string redacted_location(std::string_view line) {
  const ParsedServerLocation parsed = parse_server_location(line);
  if (parsed.location) return parsed.location->redacted();
  const std::size_t scheme = scheme_length(line);
  if (scheme == 0) return std::string(line);
  // Unparsed: keep the user and everything after the host, drop anything that may be a password
  // (the part between the user's ':' and the '@', and the query).
  const std::string_view rest = line.substr(scheme);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?"));
  std::string shown(line.substr(0, scheme));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    shown += std::string(authority.substr(0, std::min(authority.find(':'), at))) + "@";
    shown += std::string(authority.substr(at + 1));
  } else {
    shown += std::string(authority);
  }
  const std::string_view after = rest.substr(authority.size());
  shown += std::string(after.substr(0, after.find('?')));
  return shown;
}

}  // namespace records
