#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace nolva {

// The file image of a record given as its 32-bit words: little-endian, no header.
inline std::string LittleEndian(const std::vector<std::int32_t>& words) {
  std::string bytes;
  for (std::int32_t word : words) {
    auto value = static_cast<std::uint32_t>(word);
    for (int shift = 0; shift < 32; shift += 8)
      bytes += static_cast<char>((value >> shift) & 0xFF);
  }
  return bytes;
}

template <typename Record>
std::string BytesOf(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

template <typename Record>
Record RecordOf(const std::vector<std::int32_t>& words) {
  Record record;
  static_assert(sizeof record % 4 == 0, "records are whole words");
  std::memcpy(&record, words.data(), sizeof record);
  return record;
}

// The network record as stored: factory default (DHCP), and a static one
// (10.0.0.5/255.0.0.0 via 10.0.0.1).
inline const std::string kNetworkDefaultBytes(
    "\x01\x00\x00\x00\xC0\xA8\x00\xDF\xFF\xFF\xFF\x00\xC0\xA8\x00\x01", 16);
inline const std::string kNetworkStaticBytes(
    "\x00\x00\x00\x00\x0A\x00\x00\x05\xFF\x00\x00\x00\x0A\x00\x00\x01", 16);

inline const std::vector<std::int32_t> kServiceDefaults = {1, 1, 1,     9100,   300000, 1,
                                                           0, 1, 11110, 300000, 1};
inline const std::vector<std::int32_t> kOcpDefaults = {1, 1, 0, 0, 1, 23, 300000};

}  // namespace nolva
