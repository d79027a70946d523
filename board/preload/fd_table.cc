// Descriptors opened on board paths, so that write/fsync/ioctl/close on them
// are simulated and logged under their device path. A process holds a few
// board descriptors at a time, so a small table serves every process the
// board is linked into or preloaded into.
#include <atomic>
#include <cstring>
#include <mutex>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

constexpr int kSlots = 64;
constexpr std::size_t kDeviceMax = 256;

struct Slot {
  std::atomic<int> fd{-1};
  std::atomic<unsigned char> area{0};  // 1 + the Area
  char device[kDeviceMax];             // under slotsMutex
};

Slot slots[kSlots];
std::mutex slotsMutex;

Slot* Find(int fd) {
  if (fd < 0) return nullptr;
  for (Slot& slot : slots)
    if (slot.fd.load(std::memory_order_acquire) == fd) return &slot;
  return nullptr;
}

}  // namespace

bool Track(int fd, Area area, const char* device) {
  std::lock_guard<std::mutex> lock(slotsMutex);
  Slot* slot = Find(fd);
  for (int i = 0; slot == nullptr && i < kSlots; ++i)
    if (slots[i].fd.load(std::memory_order_relaxed) < 0) slot = &slots[i];
  const std::size_t length = std::strlen(device);
  if (slot == nullptr || length >= kDeviceMax) return false;
  std::memcpy(slot->device, device, length + 1);
  slot->area.store(static_cast<unsigned char>(1 + static_cast<int>(area)),
                   std::memory_order_relaxed);
  slot->fd.store(fd, std::memory_order_release);
  return true;
}

void Untrack(int fd) {
  std::lock_guard<std::mutex> lock(slotsMutex);
  if (Slot* slot = Find(fd)) slot->fd.store(-1, std::memory_order_release);
}

std::optional<Area> TrackedArea(int fd) {
  const Slot* slot = Find(fd);
  if (slot == nullptr) return std::nullopt;
  return static_cast<Area>(slot->area.load(std::memory_order_relaxed) - 1);
}

void DevicePathOf(int fd, char* out, std::size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  std::lock_guard<std::mutex> lock(slotsMutex);
  if (const Slot* slot = Find(fd)) {
    std::strncpy(out, slot->device, size - 1);
    out[size - 1] = '\0';
  }
}

}  // namespace nolva::board::sim
