// Parsing of option values; each returns false for anything but a clean value.
#pragma once

#include <cstdint>
#include <string>

namespace nolvactl {

bool ParseAddress(const std::string& text, std::uint8_t out[4]);  // dotted quad
bool ParseNetmask(const std::string& text, std::uint8_t out[4]);  // contiguous ones
bool ParsePort(const std::string& text, std::int32_t* out);       // 1 to 65535
bool ParseNumber(const std::string& text, std::int32_t* out);     // any 32-bit word
bool ParseSwitch(const std::string& text, std::int32_t* out);     // on/off

std::string AddressText(const std::uint8_t address[4]);

}  // namespace nolvactl
