// The library's strings are 16-bit units that it narrows to their low byte;
// nolvactl widens each byte of its input to one unit, so names and
// passwords reach the device as the very bytes that were typed.
#pragma once

#include <string>

namespace nolvactl {

std::u16string Wide(const std::string& text);
std::string Narrow(const char16_t* units);

// The caller's user name and password as the operations take them.
class Caller {
 public:
  ~Caller();
  const char16_t* User() const { return user_.c_str(); }
  const char16_t* Password() const { return password_.c_str(); }
  void Set(const std::string& user, const std::string& password);

 private:
  std::u16string user_;
  std::u16string password_;
};

}  // namespace nolvactl
