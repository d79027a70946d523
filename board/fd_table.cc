// Descriptors opened on board paths, so that write/fsync/ioctl/close on them
// are simulated and logged under their device path.
#include <atomic>
#include <cstring>
#include <mutex>

#include "board/sim.h"

namespace nolva::board::sim {
namespace {

constexpr int kMaxFds = 4096;
constexpr std::size_t kDeviceMax = 256;

std::atomic<unsigned char> kinds[kMaxFds];
std::mutex pathsMutex;
char paths[kMaxFds][kDeviceMax];

bool InRange(int fd) {
  return fd >= 0 && fd < kMaxFds;
}

}  // namespace

void Track(int fd, Kind kind, const char* device) {
  if (!InRange(fd)) return;
  {
    std::lock_guard<std::mutex> lock(pathsMutex);
    std::strncpy(paths[fd], device, kDeviceMax - 1);
    paths[fd][kDeviceMax - 1] = '\0';
  }
  kinds[fd].store(static_cast<unsigned char>(kind), std::memory_order_release);
}

void Untrack(int fd) {
  if (InRange(fd)) kinds[fd].store(0, std::memory_order_release);
}

Kind KindOf(int fd) {
  if (!InRange(fd)) return Kind::None;
  return static_cast<Kind>(kinds[fd].load(std::memory_order_acquire));
}

void DevicePathOf(int fd, char* out, std::size_t size) {
  out[0] = '\0';
  if (!InRange(fd) || size == 0) return;
  std::lock_guard<std::mutex> lock(pathsMutex);
  std::strncpy(out, paths[fd], size - 1);
  out[size - 1] = '\0';
}

}  // namespace nolva::board::sim
