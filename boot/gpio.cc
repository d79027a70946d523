#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "boot/boot.h"
#include "store/handles.h"

namespace nolva {
namespace {

constexpr unsigned long kGpioReset = 0x5500;
constexpr unsigned long kGpioSetPorts = 0x5541;

// The board's port configuration; only the driver knows what the words select.
struct GpioPortConfig {
  std::uint32_t words[12];
};
static_assert(sizeof(GpioPortConfig) == 48, "the driver reads 48 bytes");

}  // namespace

void InitGpio() {
  FileDescriptor fd(open("/dev/gpio", O_RDWR | O_CLOEXEC));
  if (!fd.IsOpen()) {
    printf("Fail to open /dev/gpio\n");
    return;
  }
  ioctl(fd.Get(), kGpioReset);
  GpioPortConfig config = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00400000u, 0xC03F300Fu, 0x06FED22Fu}};
  ioctl(fd.Get(), kGpioSetPorts, &config);
}

}  // namespace nolva
