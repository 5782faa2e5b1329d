// Text that comes from a module (replies, the error queue's messages, reports and step errors
// quoting them) is 8-bit text: each byte is the Latin-1 character of its value, so a reply
// byte 0xB5 shows and prints as "µ", never as a replacement character.
#pragma once

#include <QString>
#include <string_view>

namespace app {

inline QString module_text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace app
