// The board's devices as they answer ioctl requests. Nothing here is ever
// forwarded to the host kernel.
#include <net/if.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

constexpr unsigned long kGpioReset = 0x5500;
constexpr unsigned long kGpioPortConfig = 0x5541;
constexpr unsigned long kMemGetInfo = 0x80204D01;
constexpr unsigned long kMemErase = 0x40084D02;
constexpr std::size_t kPortConfigWords = 12;

int GpioIoctl(unsigned long request, void* arg) {
  if (request == kGpioReset) {
    Log("gpio ioctl 0x%04lx", request);
    return 0;
  }
  if (request == kGpioPortConfig && arg != nullptr) {
    std::uint32_t words[kPortConfigWords];
    std::memcpy(words, arg, sizeof words);
    char text[kPortConfigWords * 11 + 1];
    std::size_t len = 0;
    for (std::uint32_t word : words)
      len += static_cast<std::size_t>(
          std::snprintf(text + len, sizeof text - len, " 0x%08x", static_cast<unsigned>(word)));
    Log("gpio ioctl 0x%04lx%s", request, text);
    return 0;
  }
  Log("gpio ioctl 0x%04lx (rejected)", request);
  return Fail(EINVAL);
}

// The hardware address of eth0: the one the board was made with, or the one
// the last `ifconfig ... hw ether` set. The kernel answers on any socket.
int HardwareAddress(int fd, void* arg) {
  auto* request = static_cast<ifreq*>(arg);
  if (request == nullptr) return Fail(EFAULT);
  char name[IFNAMSIZ + 1] = {};
  std::memcpy(name, request->ifr_name, IFNAMSIZ);
  if (FileType(fd) != S_IFSOCK) {
    Log("ioctl SIOCGIFHWADDR %s (not on a socket)", name);
    return Fail(ENOTTY);
  }
  Log("ioctl SIOCGIFHWADDR %s", name);
  if (std::strcmp(name, "eth0") != 0) return Fail(ENODEV);
  char path[kPathMax + 16];
  BoardFile(path, sizeof path, "/eth0/hwaddr");
  char text[64];
  unsigned bytes[6];
  if (!ReadSmallFile(path, text, sizeof text)) return Fail(ENODEV);
  // NOLINTNEXTLINE(cert-err34-c): the board's own file; six numbers are check enough
  if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4],
                  &bytes[5]) != 6)
    return Fail(ENODEV);
  std::memset(&request->ifr_hwaddr, 0, sizeof request->ifr_hwaddr);
  request->ifr_hwaddr.sa_family = 1;  // ARPHRD_ETHER
  for (int i = 0; i < 6; ++i)
    request->ifr_hwaddr.sa_data[i] = static_cast<char>(bytes[i]);
  return 0;
}

}  // namespace

bool IsBoardRequest(unsigned long request) {
  constexpr unsigned long kRequests[] = {kGpioReset, kGpioPortConfig, kMemGetInfo, kMemErase,
                                         SIOCGIFHWADDR};
  for (unsigned long known : kRequests)
    if (request == known) return true;
  return false;
}

int DeviceIoctl(int fd, std::optional<Area> area, unsigned long request, void* arg) {
  if (area == Area::Gpio) return GpioIoctl(request, arg);
  if (area == Area::Mtd) return MtdIoctl(fd, request, arg);
  if (request == SIOCGIFHWADDR) return HardwareAddress(fd, arg);
  char device[kPathMax];
  DevicePathOf(fd, device, sizeof device);
  Log("ioctl %s 0x%08lx (not supported)", area ? device : "-", request);
  return Fail(area ? EINVAL : ENOTTY);
}

}  // namespace nolva::board::sim
