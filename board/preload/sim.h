// Internals of the simulated board shared by the interposer's files.
// Everything here reaches libc through NOLVA_REAL, never through the
// interposed entries, so the board's own bookkeeping is never simulated.
#pragma once

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <optional>

#include "board/board_paths.h"

namespace nolva::board::sim {

// libc's definition. Linked into a sanitized test executable, the board
// hides the sanitizer's interceptors, so it calls them in front of libc:
// ThreadSanitizer must see every descriptor opened and closed, or it takes a
// number used again by another thread for a race. (Preloaded, the board
// already sits behind the program's interceptors.)
template <typename Fn>
Fn NextSymbol(const char* name) {
#ifndef NOLVA_BOARD_PRELOAD
  char interceptor[64];
  std::snprintf(interceptor, sizeof interceptor, "__interceptor_%s", name);
  if (void* sanitizer = dlsym(RTLD_DEFAULT, interceptor)) return reinterpret_cast<Fn>(sanitizer);
#endif
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The libc definition that an interposed entry hides.
#define NOLVA_REAL(fn)                                                              \
  (*[] {                                                                            \
    static const auto real = ::nolva::board::sim::NextSymbol<decltype(&::fn)>(#fn); \
    return real;                                                                    \
  }())

// A libc-style failure: errno set, -1 returned.
inline int Fail(int error) {
  errno = error;
  return -1;
}

// The active board directory, or false when NOLVA_BOARD names no board.
bool ActiveBoard(char (&dir)[kPathMax]);
// ActiveBoard or stop the process: nothing may fall through to the host.
void RequireBoard(char (&dir)[kPathMax]);
inline void RequireBoard() {
  char dir[kPathMax];
  RequireBoard(dir);
}

struct Mapping {
  const MappedPath* row = nullptr;  // nullptr: a host path
  char device[kPathMax];            // normalised device path
  char host[kPathMax];              // the same inside the board

  std::optional<Area> area() const { return row ? std::optional(row->area) : std::nullopt; }
};
// The path to hand to libc: `path` itself for host paths, m->host for board
// paths, nullptr (errno set) when the board path does not fit.
const char* MapPath(const char* path, Mapping* m);

// One line appended to the board's log.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// False when the table of board descriptors is full or the path too long.
bool Track(int fd, Area area, const char* device);
void Untrack(int fd);
// The area of a board descriptor; none for any other descriptor.
std::optional<Area> TrackedArea(int fd);
void DevicePathOf(int fd, char* out, std::size_t size);

// S_IFREG, S_IFDIR, ... of a descriptor (0 when fstat fails). 64-bit: a
// 32-bit process may meet large host inode numbers.
inline mode_t FileType(int fd) {
  struct stat64 st;
  return fstat64(fd, &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// The steps a program takes on the board's paths and devices. Each one
// goes through Step(), which logs it, counts it toward a power cut when it
// reaches the flash, and applies the faults set for it.
enum class Event : unsigned char {
  Read,  // opening for reading: only logged
  Open,  // opening for writing
  Write,
  Sync,
  Close,
  Rename,
  Remove,
  Chmod,
  Mkdir,
  Erase,    // MTD blocks
  GetInfo,  // MTD geometry
};

// What a step acts on. A rename names two paths, and either may be a host
// path (no area), which no fault concerns.
struct Target {
  std::optional<Area> area;
  const char* device;
  std::size_t* count = nullptr;  // a write's bytes, which a fault may cut short
  std::optional<Area> toArea = std::nullopt;
  const char* to = nullptr;
};

// One step, in the order the board has always taken it: `format` (when
// given) into the log, the power cut's count, then the faults. Returns 0 when
// the step may happen, else the errno of the fault that refuses it. Steps
// whose log line tells their result pass no format and log it themselves.
// A power cut due at this step ends the process here.
int Step(Event event, const Target& target, const char* format = nullptr, ...)
    __attribute__((format(printf, 3, 4)));

// Whether the fault file is present; *value is its number (0 when none).
bool FaultSet(const char* name, unsigned long long* value = nullptr);

// Device requests (GPIO, MTD, interface hardware address).
bool IsBoardRequest(unsigned long request);
int DeviceIoctl(int fd, std::optional<Area> area, unsigned long request, void* arg);

// The MTD partitions as the kernel's character devices on NOR flash show
// them: reads stop at the partition's end, writes only clear bits.
// At kAtPosition they read or write at the descriptor's position and move it.
inline constexpr off64_t kAtPosition = -1;
ssize_t MtdRead(int fd, void* buffer, std::size_t size, off64_t offset);
ssize_t MtdWrite(int fd, const void* data, std::size_t size, off64_t offset);
off64_t MtdSeek(int fd, off64_t offset, int whence);

int EmulateSystem(const char* command);

// The host path of a file inside the active board: its directory, then
// what `format` makes (starting with '/'). Stops the process without a board.
void BoardFile(char* out, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Small file helpers on host paths inside the board.
bool ReadSmallFile(const char* path, char* out, std::size_t size);
bool WriteSmallFile(const char* path, const char* text);

}  // namespace nolva::board::sim
