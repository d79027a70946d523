#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "management/credentials.h"
#include "management/wide_string.h"
#include "store/device_manager.h"
#include "store/handles.h"

namespace nolva {
namespace {

constexpr const char* kUsbDeviceList = "/proc/bus/usb/devices";
// A device at level 2 on bus 1 whose parent is the hub, device number 2.
constexpr char kHubPortLine[] = "T:  Bus=01 Lev=02 Prnt=02";
constexpr std::size_t kPortColumn = 31;
constexpr char kTopologyLine[] = "T:";
constexpr char kProductLine[] = "S:  Product=";
constexpr std::int64_t kListedPorts = 4;  // ports 0 to 3 always appear
constexpr std::int32_t kLineSize = 256;
// GetUsbPorts builds the text here; a longer list is cut at a whole line.
constexpr std::int32_t kPortTextSize = 4096;

bool StartsWith(const char* line, const char* prefix) {
  return strncmp(line, prefix, strlen(prefix)) == 0;
}

// The port number of a line for a device on the hub, or -1.
std::int64_t HubPort(const char* line) {
  if (!StartsWith(line, kHubPortLine) || strnlen(line, kPortColumn) < kPortColumn) return -1;
  const char* digits = line + kPortColumn;
  char* end = nullptr;
  errno = 0;
  long long port = strtoll(digits, &end, 10);
  if (end == digits || errno != 0 || port < 0 || port > INT32_MAX) return -1;
  return port;
}

// The port text under construction: only whole lines, always NUL-terminated,
// and once a line does not fit nothing more is added.
class PortText {
 public:
  PortText(char* text, std::int32_t capacity) : text_(text), capacity_(capacity) {}

  bool Full() const { return full_; }

  // "PORT %d:  product\n"; the product brings no line feed of its own.
  void AddPort(std::int64_t port, const char* product) {
    char line[kLineSize + 32];
    int n = snprintf(line, sizeof line, "PORT %lld:  %s\n", static_cast<long long>(port), product);
    if (n < 0 || n >= static_cast<int>(sizeof line) || n >= capacity_ - length_) {
      full_ = true;
      return;
    }
    memcpy(text_ + length_, line, static_cast<std::size_t>(n) + 1);
    length_ += n;
  }

  void AddEmptyPorts(std::int64_t from, std::int64_t to) {
    for (std::int64_t port = from; port < to && !full_; ++port)
      AddPort(port, "");
  }

 private:
  char* text_;
  std::int32_t capacity_;
  std::int32_t length_ = 0;
  bool full_ = false;
};

bool NextLine(char (&line)[kLineSize], FILE* file) {
  return fgets(line, sizeof line, file) != nullptr;
}

}  // namespace

std::int32_t ReadUsbPorts(char* text, std::int32_t capacity) {
  if (!text || capacity <= 0) return -1;
  text[0] = '\0';
  Stream list(fopen(kUsbDeviceList, "r"));
  if (!list.IsOpen()) return -1;
  PortText out(text, capacity);
  std::int64_t nextPort = 0;
  char line[kLineSize];
  bool more = NextLine(line, list.Get());
  while (more && !out.Full()) {
    std::int64_t port = HubPort(line);
    more = NextLine(line, list.Get());
    if (port < 0) continue;
    // The device's product line, if it has one, comes before the next device.
    char product[kLineSize] = "";
    for (; more && !StartsWith(line, kTopologyLine); more = NextLine(line, list.Get())) {
      if (!StartsWith(line, kProductLine)) continue;
      snprintf(product, sizeof product, "%s", line + strlen(kProductLine));
      product[strcspn(product, "\n")] = '\0';
      more = NextLine(line, list.Get());
      break;
    }
    out.AddEmptyPorts(nextPort, port);
    out.AddPort(port, product);
    nextPort = port + 1;
  }
  out.AddEmptyPorts(nextPort, kListedPorts);
  return 0;
}

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
