#include <cstdio>

#include "front/front.h"

namespace nolva::front {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Decimal digits only, no sign, no blanks; at most `maxDigits` of them.
bool ParseDigits(std::string_view text, std::size_t maxDigits, std::uint64_t* out) {
  if (text.empty() || text.size() > maxDigits) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *out = value;
  return true;
}

struct SwitchWord {
  const char* word;
  std::int32_t value;
};

constexpr SwitchWord kSwitchWords[] = {
    {"on", 1}, {"off", 0}, {"enabled", 1}, {"disabled", 0}, {"yes", 1}, {"no", 0},
};

}  // namespace

bool ParseAddress(std::string_view text, std::uint8_t out[4]) {
  std::uint8_t octets[4];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t end = i < 3 ? text.find('.', start) : text.size();
    if (end == std::string_view::npos) return false;
    std::uint64_t value = 0;
    if (!ParseDigits(text.substr(start, end - start), 3, &value) || value > 255) return false;
    octets[i] = static_cast<std::uint8_t>(value);
    start = end + 1;
  }
  for (int i = 0; i < 4; ++i)
    out[i] = octets[i];
  return true;
}

bool IsContiguousNetmask(const std::uint8_t mask[4]) {
  const std::uint32_t bits = static_cast<std::uint32_t>(mask[0]) << 24 |
                             static_cast<std::uint32_t>(mask[1]) << 16 |
                             static_cast<std::uint32_t>(mask[2]) << 8 | mask[3];
  // Ones then zeros: the inverted mask plus one is a power of two.
  const std::uint32_t hosts = ~bits;
  return (hosts & (hosts + 1)) == 0;
}

bool ParseNetmask(std::string_view text, std::uint8_t out[4]) {
  std::uint8_t mask[4];
  if (!ParseAddress(text, mask) || !IsContiguousNetmask(mask)) return false;
  for (int i = 0; i < 4; ++i)
    out[i] = mask[i];
  return true;
}

bool ParsePort(std::string_view text, std::int32_t* out) {
  std::uint64_t value = 0;
  if (!ParseDigits(text, 5, &value) || !PortAllowed(static_cast<std::int64_t>(value), true))
    return false;
  *out = static_cast<std::int32_t>(value);
  return true;
}

bool ParseNumber(std::string_view text, std::int32_t* out) {
  const bool negative = !text.empty() && text[0] == '-';
  std::uint64_t value = 0;
  if (!ParseDigits(negative ? text.substr(1) : text, 10, &value)) return false;
  const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  if (value > limit) return false;
  *out = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                  : static_cast<std::int32_t>(value);
  return true;
}

bool ParseSwitch(std::string_view text, std::int32_t* out) {
  for (const SwitchWord& row : kSwitchWords) {
    if (text == row.word) {
      *out = row.value;
      return true;
    }
  }
  return false;
}

std::string AddressText(const std::uint8_t address[4]) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
  return text;
}

// A disabled service's port is not in use, so 0 may stand there.
bool PortAllowed(std::int64_t port, bool enabled) {
  return port >= (enabled ? 1 : 0) && port <= 65535;
}

}  // namespace nolva::front
