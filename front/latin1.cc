#include <utility>

#include "front/front.h"

namespace nolva::front {

// Only U+0001 to U+00FF can reach the device, and those are a single byte
// below 0x80 or the lead bytes C2 and C3 with one continuation byte. Every
// other sequence, well-formed or not (an overlong form, a surrogate, a
// character past U+00FF, a sequence cut short), is refused.
bool Utf8ToLatin1(std::string_view utf8, std::string* latin1) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead >= 0x01 && lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      continue;
    }
    if ((lead != 0xC2 && lead != 0xC3) || i + 1 == utf8.size()) return false;
    const auto next = static_cast<unsigned char>(utf8[++i]);
    if ((next & 0xC0) != 0x80) return false;
    out.push_back(static_cast<char>((lead & 0x1F) << 6 | (next & 0x3F)));
  }
  *latin1 = std::move(out);
  return true;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | byte >> 6));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

bool IsValidName(std::string_view latin1) {
  if (latin1.empty() || latin1.size() > static_cast<std::size_t>(kMaxNameLength)) return false;
  for (char c : latin1) {
    if (!IsNameByte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The user file keeps only a password's digest, so any byte but the NUL
// that would end it early can be part of one.
bool IsValidPassword(std::string_view latin1) {
  return latin1.size() <= static_cast<std::size_t>(kMaxPasswordLength) &&
         latin1.find('\0') == std::string_view::npos;
}

bool IsValidNewPassword(std::string_view latin1) {
  return !latin1.empty() && IsValidPassword(latin1);
}

}  // namespace nolva::front
