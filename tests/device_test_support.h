// What the tests of the device operations share: the factory credentials,
// firmware images, and reading the board's log and outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nolva::test {

inline constexpr char16_t kAdmin[] = u"admin";
inline constexpr char16_t kFactoryPassword[] = u"kevla";

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

// The text of a wide result, up to its zero unit.
inline std::string Narrowed(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text)
    out += static_cast<char>(*text);
  return out;
}

inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  return found;
}

}  // namespace nolva::test
