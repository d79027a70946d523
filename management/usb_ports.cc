#include "management/credentials.h"
#include "management/wide_string.h"
#include "store/device_manager.h"

namespace nolva {
namespace {

// The text is built here; a longer list is cut at a whole line.
constexpr std::int32_t kPortTextSize = 4096;

}  // namespace

StatusCode DeviceManager::GetUsbPorts(const char16_t* userName, const char16_t* password,
                                      char16_t* portText, std::int32_t capacity) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  char text[kPortTextSize];
  if (ReadUsbPorts(text, capacity < kPortTextSize ? capacity : kPortTextSize) != 0)
    return STATUS_USB_PORTS_FAILED;
  Widen(portText, text);
  return STATUS_OK;
}

}  // namespace nolva
