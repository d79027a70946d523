// The library's strings are 16-bit units that it narrows to their low byte;
// nolvactl widens each byte of its input to one unit, so names and
// passwords reach the device as the very bytes that were typed.
#pragma once

#include <string>

namespace nolvactl {

std::u16string Wide(const std::string& text);
std::string Narrow(const char16_t* units);

// A name and its password as the operations take them, the password wiped
// when it goes: the caller's, or a new account's.
class Caller {
 public:
  ~Caller();
  const char16_t* Name() const { return name_.c_str(); }
  const char16_t* Password() const { return password_.c_str(); }
  void Set(const std::string& name, const std::string& password);

 private:
  std::u16string name_;
  std::u16string password_;
};

}  // namespace nolvactl
