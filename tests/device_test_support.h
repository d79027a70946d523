// What the product tests share: a fresh board with a manager, the factory
// credentials and files, records as the flash holds them, firmware images.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "store/device_manager.h"
#include "tests/support/board_test.h"

namespace nolva::test {

inline constexpr char16_t kAdmin[] = u"admin";
inline constexpr char16_t kFactoryPassword[] = u"kevla";
inline constexpr char kUserFile[] = "/flash/nolva_user";
// The factory account's line, as every device in the field holds it.
inline const std::string kFactoryLine = "admin:3E19B245F7F7053535AA24100E20217B\n";

// The records as stored: little-endian words, no header.
inline const std::string kNetworkDefaultBytes(
    "\x01\x00\x00\x00\xC0\xA8\x00\xDF\xFF\xFF\xFF\x00\xC0\xA8\x00\x01", 16);
inline const std::string kNetworkStaticBytes(
    "\x00\x00\x00\x00\x0A\x00\x00\x05\xFF\x00\x00\x00\x0A\x00\x00\x01", 16);
inline const std::vector<std::int32_t> kServiceDefaults = {1, 1, 1,     9100,   300000, 1,
                                                           0, 1, 11110, 300000, 1};
inline const std::vector<std::int32_t> kOcpDefaults = {1, 1, 0, 0, 1, 23, 300000};

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
  std::memcpy(&record, words.data(), sizeof record);
  return record;
}

// An image of `length` bytes whose name field begins with `name`; the other
// bytes follow a pattern that repeats only every 251 bytes.
inline std::vector<std::uint8_t> Image(const std::string& name, std::size_t length) {
  std::vector<std::uint8_t> image(length);
  for (std::size_t i = 0; i < length; ++i)
    image[i] = static_cast<std::uint8_t>(i % 251);
  for (std::size_t i = 0; i < name.size() && 32 + i < length; ++i)
    image[32 + i] = static_cast<std::uint8_t>(name[i]);
  return image;
}

inline std::string Bytes(const std::vector<std::uint8_t>& image) {
  return std::string(image.begin(), image.end());
}

// The text of a wide result, up to its zero unit; a unit past 0xFF, which no
// byte widens to, shows as '?'.
inline std::string Narrowed(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text)
    out += *text < 0x100 ? static_cast<char>(*text) : '?';
  return out;
}

inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  return found;
}

// A parameterised test's name: its row's (letters, digits and '_' only).
struct RowName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

// A fresh board and a manager on it.
class DeviceTest : public BoardTest {
 protected:
  std::string Digest(const char* password) {
    char digest[40];
    manager.MakePasswordDigest(digest, password);
    return digest;
  }
  std::string Line(const std::string& name, const char* password) {
    return name + ":" + Digest(password) + "\n";
  }
  void WriteUsers(const std::string& text) const { WriteBoardFile(kUserFile, text); }
  std::string Users() const { return ReadBoardFile(kUserFile); }
  std::vector<std::string> Logged(const std::string& prefix) const {
    return LinesStartingWith(LogLines(), prefix);
  }

  DeviceManager manager;
};

}  // namespace nolva::test
