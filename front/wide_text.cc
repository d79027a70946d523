#include <string.h>

#include "front/front.h"

namespace nolva::front {
namespace {

void WipeUnits(std::u16string* units) {
  explicit_bzero(units->data(), units->size() * sizeof(char16_t));
  units->clear();
}

// Copies without a temporary and without growing on the way, so that no
// copy of a password is left behind in freed memory.
void CopyUnits(std::u16string* to, std::string_view bytes) {
  to->reserve(bytes.size());
  for (char c : bytes)
    to->push_back(static_cast<unsigned char>(c));
}

}  // namespace

std::u16string Wide(std::string_view bytes) {
  std::u16string units;
  CopyUnits(&units, bytes);
  return units;
}

std::string Narrow(const char16_t* units) {
  std::string text;
  for (; *units != 0; ++units)
    text.push_back(static_cast<char>(*units & 0xFF));
  return text;
}

Credentials& Credentials::operator=(const Credentials& other) {
  if (this == &other) return *this;
  WipeUnits(&password_);
  name_ = other.name_;
  password_.reserve(other.password_.size());
  password_.append(other.password_);
  return *this;
}

Credentials::~Credentials() {
  Wipe();
}

void Credentials::Set(std::string_view name, std::string_view password) {
  WipeUnits(&name_);
  CopyUnits(&name_, name);
  WipeUnits(&password_);
  CopyUnits(&password_, password);
}

void Credentials::Wipe() {
  WipeUnits(&name_);
  WipeUnits(&password_);
}

}  // namespace nolva::front
