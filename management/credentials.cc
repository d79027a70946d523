#include "management/credentials.h"

#include <cstring>

#include "management/wide_string.h"

namespace nolva {
namespace {

bool PasswordVerifies(DeviceManager& manager, const Credentials& caller) {
  return caller.Fit() && manager.VerifyUser(caller.UserName(), caller.Password()) == 0;
}

}  // namespace

Credentials::Credentials(const char16_t* userName, const char16_t* password) {
  bool nameFits = Narrow(userName_, userName);
  bool passwordFits = Narrow(password_, password);
  fit_ = nameFits && passwordFits;
}

Credentials::~Credentials() {
  explicit_bzero(password_, sizeof password_);
}

SecretText::~SecretText() {
  explicit_bzero(text, sizeof text);
}

bool AdmitAdmin(DeviceManager& manager, const Credentials& caller) {
  // Only "admin" may manage the device; no other name reaches the user file.
  if (strcmp(caller.UserName(), kAdminName) != 0) return false;
  return PasswordVerifies(manager, caller);
}

bool AdmitAdminOrSelf(DeviceManager& manager, const Credentials& caller, const char* account) {
  if (strcmp(caller.UserName(), kAdminName) != 0 && strcmp(caller.UserName(), account) != 0) {
    return false;
  }
  return PasswordVerifies(manager, caller);
}

// Login is the gate alone: it says whether the caller may manage the device.
StatusCode DeviceManager::Login(const char16_t* userName, const char16_t* password) {
  Credentials caller(userName, password);
  return AdmitAdmin(*this, caller) ? STATUS_OK : STATUS_AUTH_FAILED;
}

}  // namespace nolva
