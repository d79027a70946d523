// Finding the active board, mapping device paths into it, its log, and the
// descriptors open on it.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "board/preload/sim.h"

namespace nolva::board::sim {

bool ActiveBoard(char (&dir)[kPathMax]) {
  const char* env = std::getenv(kBoardEnv);
  if (env == nullptr || !NormalisePath(env, dir, sizeof dir)) return false;
  // A board inside a mapped path would map onto itself.
  if (FindMappedPath(dir) != nullptr) return false;
  char marker[kPathMax];
  const int n = std::snprintf(marker, sizeof marker, "%s/%s", dir, kMarkerName);
  return n >= 0 && static_cast<std::size_t>(n) < sizeof marker &&
         NOLVA_REAL(access)(marker, F_OK) == 0;
}

void RequireBoard(char (&dir)[kPathMax]) {
  if (ActiveBoard(dir)) return;
  const char* env = std::getenv(kBoardEnv);
  char text[kPathMax + 160];
  const int n = std::snprintf(text, sizeof text,
                              "nolva-board: no simulated board is active (NOLVA_BOARD %s%s); "
                              "refusing to reach the host\n",
                              env == nullptr ? "unset" : "=", env == nullptr ? "" : env);
  if (n > 0) {
    const std::size_t len =
        static_cast<std::size_t>(n) < sizeof text ? static_cast<std::size_t>(n) : sizeof text - 1;
    (void)!NOLVA_REAL(write)(2, text, len);
  }
  _exit(70);
}

const char* MapPath(const char* path, Mapping* m) {
  m->row = nullptr;
  if (!NormalisePath(path, m->device, sizeof m->device)) return path;
  m->row = FindMappedPath(m->device);
  if (m->row == nullptr) return path;
  char board[kPathMax];
  RequireBoard(board);
  const int n = std::snprintf(m->host, sizeof m->host, "%s%s", board, m->device);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof m->host) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return m->host;
}

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(format, args);
  va_end(args);
}

void LogV(const char* format, va_list args) {
  char line[2 * kPathMax + 64];
  const int n = std::vsnprintf(line, sizeof line - 1, format, args);
  if (n < 0) return;
  std::size_t len =
      static_cast<std::size_t>(n) < sizeof line - 1 ? static_cast<std::size_t>(n) : sizeof line - 2;
  line[len++] = '\n';
  char logPath[kPathMax + 8];
  BoardFile(logPath, sizeof logPath, "/log");
  const int saved = errno;
  const int fd = NOLVA_REAL(open)(logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    // One write per line: O_APPEND keeps lines of concurrent writers whole.
    (void)!NOLVA_REAL(write)(fd, line, len);
    NOLVA_REAL(close)(fd);
  }
  errno = saved;
}

void BoardFile(char* out, std::size_t size, const char* format, ...) {
  char board[kPathMax];
  RequireBoard(board);
  const int n = std::snprintf(out, size, "%s", board);
  if (n < 0 || static_cast<std::size_t>(n) >= size) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(out + n, size - static_cast<std::size_t>(n), format, args);
  va_end(args);
}

bool ReadSmallFile(const char* path, char* out, std::size_t size) {
  const int fd = NOLVA_REAL(open)(path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t n = read(fd, out, size - 1);
  NOLVA_REAL(close)(fd);
  out[n > 0 ? n : 0] = '\0';
  return n >= 0;
}

bool WriteSmallFile(const char* path, const char* text) {
  const int fd = NOLVA_REAL(open)(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::size_t len = std::strlen(text);
  const bool ok = NOLVA_REAL(write)(fd, text, len) == static_cast<ssize_t>(len);
  return NOLVA_REAL(close)(fd) == 0 && ok;
}

// ---- descriptors -------------------------------------------------------------

// Descriptors opened on board paths, so that write/fsync/ioctl/close on them
// are simulated and logged under their device path. A process holds a few
// board descriptors at a time, so a small table serves every process the
// board is linked into or preloaded into.
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
