// The board's devices as they answer ioctl requests, reads and writes.
// Nothing here is ever forwarded to the host kernel.
//
// The two MTD partitions: each is a file of exactly the partition's size in
// the board; the geometry both share sits in $BOARD/mtd-geometry. They answer
// like the kernel's MTD character devices on NOR flash: erase sets whole
// blocks to 0xFF, a write can only clear bits, nothing passes the end.
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-user.h>  // after sys/ioctl.h: its request codes need _IOR/_IOW

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

// Bytes erased or merged per step. Small: the board runs on its caller's stack,
// which the device's resource bounds hold to 64 KiB.
constexpr std::size_t kPiece = 4 * 1024;

struct Geometry {
  std::uint64_t size;
  std::uint64_t eraseSize;
};

bool ReadGeometry(Geometry* geometry) {
  char path[kPathMax + 16];
  BoardFile(path, sizeof path, "/mtd-geometry");
  char text[64];
  unsigned long long size = 0;
  unsigned long long eraseSize = 0;
  // The board's own file, written by CreateBoard: a count of numbers is check enough.
  if (!ReadSmallFile(path, text, sizeof text)) return false;
  const int numbers = std::sscanf(text, "%llu %llu", &size, &eraseSize);  // NOLINT(cert-err34-c)
  if (numbers != 2 || eraseSize == 0) return false;
  *geometry = {size, eraseSize};
  return true;
}

bool OpenedForWriting(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

int GetInfo(const char* device, const Geometry& geometry, void* arg) {
  if (const int error = Step(Event::GetInfo, {Area::Mtd, device}, "ioctl %s MEMGETINFO", device))
    return Fail(error);
  mtd_info_user info;
  std::memset(&info, 0, sizeof info);
  info.type = MTD_NORFLASH;
  info.flags = MTD_CAP_NORFLASH;
  info.size = static_cast<std::uint32_t>(geometry.size);
  info.erasesize = static_cast<std::uint32_t>(geometry.eraseSize);
  info.writesize = 1;
  if (FaultSet("mtd-erasesize-zero")) {
    Log("fault mtd-erasesize-zero getinfo %s", device);
    info.erasesize = 0;
  }
  std::memcpy(arg, &info, sizeof info);
  return 0;
}

int Erase(int fd, const char* device, const Geometry& geometry, const void* arg) {
  erase_info_user request;
  std::memcpy(&request, arg, sizeof request);
  const unsigned long long start = request.start;
  const unsigned long long length = request.length;
  const auto log = [&](const char* refused) {
    Log("erase %s %llu %llu%s", device, start, length, refused);
  };
  if (!OpenedForWriting(fd)) {
    log(" refused EPERM");
    return Fail(EPERM);
  }
  if (const int error = Step(Event::Erase, {Area::Mtd, device})) return Fail(error);
  if (start % geometry.eraseSize != 0 || length % geometry.eraseSize != 0 ||
      start >= geometry.size || length > geometry.size - start) {
    log(" refused EINVAL");
    return Fail(EINVAL);
  }
  log("");
  unsigned char erased[kPiece];
  std::memset(erased, 0xFF, sizeof erased);
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t n = length - done < kPiece ? length - done : kPiece;
    const ssize_t put = NOLVA_REAL(pwrite64)(fd, erased, n, static_cast<off64_t>(start + done));
    if (put <= 0) return Fail(EIO);
    done += static_cast<std::uint64_t>(put);
  }
  return 0;
}

off64_t Position(int fd, off64_t offset) {
  return offset == kAtPosition ? NOLVA_REAL(lseek64)(fd, 0, SEEK_CUR) : offset;
}

// NOR flash programs by clearing bits: each stored byte becomes old AND new.
bool Program(int fd, const unsigned char* data, std::size_t size, off64_t at) {
  unsigned char merged[kPiece];
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = size - done < kPiece ? size - done : kPiece;
    const off64_t where = at + static_cast<off64_t>(done);
    if (NOLVA_REAL(pread64)(fd, merged, n, where) != static_cast<ssize_t>(n)) return false;
    for (std::size_t i = 0; i < n; ++i)
      merged[i] &= data[done + i];
    if (NOLVA_REAL(pwrite64)(fd, merged, n, where) != static_cast<ssize_t>(n)) return false;
    done += n;
  }
  return true;
}

int MtdIoctl(int fd, unsigned long request, void* arg) {
  char device[kPathMax];
  DevicePathOf(fd, device, sizeof device);
  Geometry geometry;
  if (!ReadGeometry(&geometry)) return Fail(EIO);
  if (arg == nullptr && (request == MEMGETINFO || request == MEMERASE)) return Fail(EFAULT);
  if (request == MEMGETINFO) return GetInfo(device, geometry, arg);
  if (request == MEMERASE) return Erase(fd, device, geometry, arg);
  Log("ioctl %s 0x%08lx (not supported)", device, request);
  return Fail(ENOTTY);
}

}  // namespace

ssize_t MtdRead(int fd, void* buffer, std::size_t size, off64_t offset) {
  char device[kPathMax];
  DevicePathOf(fd, device, sizeof device);
  Geometry geometry;
  if (!ReadGeometry(&geometry)) return Fail(EIO);
  const off64_t at = Position(fd, offset);
  if (at < 0) return -1;
  const std::uint64_t from = static_cast<std::uint64_t>(at);
  const std::uint64_t left = from < geometry.size ? geometry.size - from : 0;
  if (size > left) size = static_cast<std::size_t>(left);
  const ssize_t got = size == 0 ? 0 : NOLVA_REAL(pread64)(fd, buffer, size, at);
  if (got < 0) return got;
  Log("read %s %zd", device, got);
  unsigned long long flipped = 0;
  if (FaultSet("mtd-read-flips", &flipped) && flipped >= from &&
      flipped < from + static_cast<std::uint64_t>(got)) {
    static_cast<unsigned char*>(buffer)[flipped - from] ^= 0xFF;
    Log("fault mtd-read-flips read %s", device);
  }
  if (offset == kAtPosition) NOLVA_REAL(lseek64)(fd, at + got, SEEK_SET);
  return got;
}

ssize_t MtdWrite(int fd, const void* data, std::size_t size, off64_t offset) {
  char device[kPathMax];
  DevicePathOf(fd, device, sizeof device);
  Geometry geometry;
  if (!ReadGeometry(&geometry)) return Fail(EIO);
  if (!OpenedForWriting(fd)) return Fail(EBADF);
  const off64_t at = Position(fd, offset);
  if (at < 0) return -1;
  const std::uint64_t from = static_cast<std::uint64_t>(at);
  if (from >= geometry.size) return Fail(ENOSPC);
  if (size > geometry.size - from) size = static_cast<std::size_t>(geometry.size - from);
  if (const int error = Step(Event::Write, {Area::Mtd, device, &size})) return Fail(error);
  if (size > 0 && !Program(fd, static_cast<const unsigned char*>(data), size, at)) return Fail(EIO);
  Log("write %s %zu", device, size);
  if (offset == kAtPosition) NOLVA_REAL(lseek64)(fd, at + static_cast<off64_t>(size), SEEK_SET);
  return static_cast<ssize_t>(size);
}

off64_t MtdSeek(int fd, off64_t offset, int whence) {
  Geometry geometry;
  if (!ReadGeometry(&geometry)) return Fail(EIO);
  off64_t base = 0;
  if (whence == SEEK_CUR) base = NOLVA_REAL(lseek64)(fd, 0, SEEK_CUR);
  if (whence == SEEK_END) base = static_cast<off64_t>(geometry.size);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return Fail(EINVAL);
  if (base < 0) return -1;
  const off64_t target = base + offset;
  if (target < 0 || static_cast<std::uint64_t>(target) > geometry.size) return Fail(EINVAL);
  return NOLVA_REAL(lseek64)(fd, target, SEEK_SET);
}

namespace {

constexpr unsigned long kGpioReset = 0x5500;
constexpr unsigned long kGpioPortConfig = 0x5541;
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
  return request == kGpioReset || request == kGpioPortConfig || request == MEMGETINFO ||
         request == MEMERASE || request == SIOCGIFHWADDR;
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
