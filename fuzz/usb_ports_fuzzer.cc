// The USB device list with an arbitrary capacity. The input's first four
// bytes are the capacity, the rest is the kernel's list as the board shows
// it. Whatever both say: nothing is written past the capacity (the buffers
// are exactly that large), the text is whole "PORT" lines ending in a NUL
// within it, and a capacity that holds not even the NUL fails untouched.
#include <cstring>
#include <string>
#include <vector>

#include "board/control/process_board.h"
#include "fuzz/fuzz_check.h"
#include "store/device_manager.h"

namespace {

using nolva::StatusCode;

// Larger capacities give the same text; the buffers stay affordable.
constexpr std::int32_t kLargestCapacity = 1 << 20;
constexpr char kUntouched = 0x5A;

void CheckLines(const char* text) {
  for (const char* line = text; *line != '\0';) {
    FUZZ_CHECK(std::strncmp(line, "PORT ", 5) == 0);
    const char* end = std::strchr(line, '\n');
    FUZZ_CHECK(end != nullptr);
    line = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nolva::board::StartBoard();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::int32_t capacity;
  std::memcpy(&capacity, data, sizeof capacity);
  if (capacity > kLargestCapacity) capacity %= kLargestCapacity;
  nolva::board::ClearLog();
  nolva::board::WriteBoardFile("/proc/bus/usb/devices", data + 4, size - 4);

  const std::size_t units = capacity > 0 ? static_cast<std::size_t>(capacity) : 1;
  std::vector<char> text(units, kUntouched);
  const std::int32_t read = nolva::ReadUsbPorts(text.data(), capacity);
  if (capacity <= 0) {
    FUZZ_CHECK(read == -1);
    FUZZ_CHECK(text[0] == kUntouched);
  } else {
    FUZZ_CHECK(read == 0);
    FUZZ_CHECK(std::memchr(text.data(), '\0', text.size()) != nullptr);
    CheckLines(text.data());
  }

  nolva::DeviceManager manager;
  std::vector<char16_t> wide(units, 0xBEEF);
  const StatusCode status = manager.GetUsbPorts(u"admin", u"kevla", wide.data(), capacity);
  if (capacity <= 0) {
    FUZZ_CHECK(status == nolva::STATUS_USB_PORTS_FAILED);
    FUZZ_CHECK(wide[0] == 0xBEEF);
    return 0;
  }
  FUZZ_CHECK(status == nolva::STATUS_OK);
  std::size_t length = 0;
  while (length < wide.size() && wide[length] != 0)
    ++length;
  FUZZ_CHECK(length < wide.size());
  // The wide text is the byte text, widened.
  std::string narrow;
  for (std::size_t i = 0; i < length; ++i) {
    FUZZ_CHECK(wide[i] < 0x100);
    narrow += static_cast<char>(wide[i]);
  }
  FUZZ_CHECK(std::string(text.data()).compare(0, narrow.size(), narrow) == 0);
  return 0;
}
