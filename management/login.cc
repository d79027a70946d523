#include "management/credentials.h"
#include "store/device_manager.h"

namespace nolva {

StatusCode DeviceManager::Login(const char16_t* userName, const char16_t* password) {
  Credentials caller(userName, password);
  return AdmitAdmin(*this, caller) ? STATUS_OK : STATUS_AUTH_FAILED;
}

}  // namespace nolva
