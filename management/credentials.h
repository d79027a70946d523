#pragma once

#include "store/device_manager.h"

namespace nolva {

// The caller's user name and password, narrowed into buffers of the call.
// The password is wiped when the call ends.
class Credentials {
 public:
  Credentials(const char16_t* userName, const char16_t* password);
  ~Credentials();
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;

  const char* UserName() const { return userName_; }
  const char* Password() const { return password_; }
  bool Fit() const { return fit_; }

 private:
  char userName_[20];
  char password_[40];
  bool fit_;
};

// A wiped-on-exit buffer for a further password argument.
struct SecretText {
  char text[40];
  ~SecretText();
};

// The gate every operation passes first: "admin" with its password.
bool AdmitAdmin(DeviceManager& manager, const Credentials& caller);

// The gate for a change of password: "admin", or the account itself.
bool AdmitAdminOrSelf(DeviceManager& manager, const Credentials& caller, const char* account);

}  // namespace nolva
