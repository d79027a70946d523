#include <cstdint>
#include <cstdio>
#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/line_reader.h"

namespace nolva {
namespace {

constexpr const char* kUsbDeviceList = "/proc/bus/usb/devices";
// A device at level 2 on bus 1 whose parent is the hub, device number 2.
constexpr char kHubPortLine[] = "T:  Bus=01 Lev=02 Prnt=02";
constexpr std::size_t kPortColumn = 31;
constexpr char kTopologyLine[] = "T:";
constexpr char kProductLine[] = "S:  Product=";
constexpr std::int64_t kListedPorts = 4;  // ports 0 to 3 always appear

template <std::size_t N>
bool StartsWith(const Line& line, const char (&prefix)[N]) {
  return line.length >= N - 1 && memcmp(line.text, prefix, N - 1) == 0;
}

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The port number of a line for a device on the hub, or -1. The number is
// read as strtoll reads it (blanks, a sign, digits), within the line only.
std::int64_t HubPort(const Line& line) {
  if (!StartsWith(line, kHubPortLine) || line.length < kPortColumn) return -1;
  std::size_t at = kPortColumn;
  while (at < line.length && IsBlank(line.text[at]))
    ++at;
  bool negative = false;
  if (at < line.length && (line.text[at] == '+' || line.text[at] == '-'))
    negative = line.text[at++] == '-';
  const std::size_t digits = at;
  std::int64_t port = 0;
  for (; at < line.length && line.text[at] >= '0' && line.text[at] <= '9'; ++at) {
    port = port * 10 + (line.text[at] - '0');
    if (port > INT32_MAX) return -1;
  }
  if (at == digits || (negative && port != 0)) return -1;
  return port;
}

// The port text under construction: only whole lines, always NUL-terminated,
// and once a line does not fit nothing more is added.
class PortText {
 public:
  PortText(char* text, std::int32_t capacity) : text_(text), capacity_(capacity) {}

  bool Full() const { return full_; }

  // "PORT %d:  product\n"; the product brings no line feed of its own.
  void AddPort(std::int64_t port, const char* product, std::size_t productLength) {
    char number[20];
    std::size_t digits = 0;
    do {
      number[sizeof number - ++digits] = static_cast<char>('0' + port % 10);
      port /= 10;
    } while (port > 0);
    const std::size_t n = 5 + digits + 3 + productLength + 1;
    if (n >= static_cast<std::size_t>(capacity_ - length_)) {
      full_ = true;
      return;
    }
    Append("PORT ", 5);
    Append(number + sizeof number - digits, digits);
    Append(":  ", 3);
    Append(product, productLength);
    Append("\n", 1);
    text_[length_] = '\0';
  }

  void AddEmptyPorts(std::int64_t from, std::int64_t to) {
    for (std::int64_t port = from; port < to && !full_; ++port)
      AddPort(port, "", 0);
  }

 private:
  void Append(const char* bytes, std::size_t count) {
    memcpy(text_ + length_, bytes, count);
    length_ += static_cast<std::int32_t>(count);
  }

  char* text_;
  std::int32_t capacity_;
  std::int32_t length_ = 0;
  bool full_ = false;
};

}  // namespace

std::int32_t ReadUsbPorts(char* text, std::int32_t capacity) {
  if (!text || capacity <= 0) return -1;
  text[0] = '\0';
  Stream list(fopen(kUsbDeviceList, "r"));
  if (!list.IsOpen()) return -1;
  LineReader lines(list.Get());
  PortText out(text, capacity);
  std::int64_t nextPort = 0;
  Line line;
  bool more = lines.Next(&line);
  while (more && !out.Full()) {
    const std::int64_t port = HubPort(line);
    more = lines.Next(&line);
    if (port < 0) continue;
    // The device's product line, if it has one, comes before the next device.
    // It is used before the next line is read, while it is still in hand.
    for (; more && !StartsWith(line, kTopologyLine); more = lines.Next(&line)) {
      if (StartsWith(line, kProductLine)) break;
    }
    const bool hasProduct = more && StartsWith(line, kProductLine);
    Line product = {"", 0};
    if (hasProduct) {
      product = {line.text + strlen(kProductLine), line.length - strlen(kProductLine)};
      if (product.length > 0 && product.text[product.length - 1] == '\n') --product.length;
    }
    out.AddEmptyPorts(nextPort, port);
    out.AddPort(port, product.text, product.length);
    nextPort = port + 1;
    if (hasProduct) more = lines.Next(&line);
  }
  out.AddEmptyPorts(nextPort, kListedPorts);
  return 0;
}

}  // namespace nolva
