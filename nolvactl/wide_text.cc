#include "nolvactl/wide_text.h"

#include <string.h>

namespace nolvactl {

std::u16string Wide(const std::string& text) {
  std::u16string units;
  for (char c : text)
    units.push_back(static_cast<unsigned char>(c));
  return units;
}

std::string Narrow(const char16_t* units) {
  std::string text;
  for (; *units != 0; ++units)
    text.push_back(static_cast<char>(*units & 0xFF));
  return text;
}

Caller::~Caller() {
  explicit_bzero(password_.data(), password_.size() * sizeof(char16_t));
}

void Caller::Set(const std::string& name, const std::string& password) {
  name_ = Wide(name);
  explicit_bzero(password_.data(), password_.size() * sizeof(char16_t));
  password_ = Wide(password);
}

}  // namespace nolvactl
