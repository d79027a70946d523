// libc entries of the simulated board. Linked into a test executable (or
// preloaded into a program) they take the place of libc's: board paths land
// in $NOLVA_BOARD, device requests and shell commands are emulated, and
// every other path and descriptor passes through untouched.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "board/preload/sim.h"

#define NOLVA_ENTRY extern "C" __attribute__((visibility("default")))

namespace sim = nolva::board::sim;
using nolva::board::Area;
using sim::Event;
using sim::Fail;
using sim::Mapping;

namespace {

// ---- open(2) flags and fopen(3) modes as the log spells them ---------------

bool WantsWrite(int flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
}

// "O_WRONLY|O_CREAT|O_EXCL"
void FlagsText(int flags, char* out, std::size_t size) {
  struct Flag {
    int bits;
    const char* name;
  };
  static constexpr Flag kFlags[] = {
      {O_CREAT, "O_CREAT"},         {O_EXCL, "O_EXCL"},         {O_TRUNC, "O_TRUNC"},
      {O_APPEND, "O_APPEND"},       {O_NONBLOCK, "O_NONBLOCK"}, {O_SYNC, "O_SYNC"},
      {O_DIRECTORY, "O_DIRECTORY"}, {O_NOFOLLOW, "O_NOFOLLOW"}, {O_CLOEXEC, "O_CLOEXEC"},
      {O_NOCTTY, "O_NOCTTY"},
  };
  static constexpr const char* kAccess[] = {"O_RDONLY", "O_WRONLY", "O_RDWR", "O_ACCMODE"};
  std::size_t len =
      static_cast<std::size_t>(std::snprintf(out, size, "%s", kAccess[flags & O_ACCMODE]));
  for (const Flag& flag : kFlags) {
    if ((flags & flag.bits) != flag.bits || len >= size) continue;
    len += static_cast<std::size_t>(std::snprintf(out + len, size - len, "|%s", flag.name));
  }
}

// The open(2) flags that fopen(3) uses for a mode string.
int ModeFlags(const char* mode) {
  int flags = O_RDONLY;
  if (mode[0] == 'w') flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags = O_WRONLY | O_CREAT | O_APPEND;
  for (const char* c = mode + 1; *c != '\0' && *c != ','; ++c) {
    if (*c == '+') flags = (flags & ~O_ACCMODE) | O_RDWR;
    if (*c == 'x') flags |= O_EXCL;
    if (*c == 'e') flags |= O_CLOEXEC;
  }
  return flags;
}

bool Creates(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t ModeArg(int flags, va_list args) {
  return Creates(flags) ? static_cast<mode_t>(va_arg(args, unsigned)) : 0;
}

// Opens a board path and tracks the result.
int OpenTracked(const Mapping& m, int flags, mode_t mode) {
  const Area area = m.row->area;
  const bool creatable = area == Area::Flash || area == Area::Network || area == Area::Tmp;
  if (!creatable) flags &= ~(O_CREAT | O_EXCL | O_TRUNC);  // devices exist or do not
  if (area == Area::Mtd) flags &= ~O_SYNC;  // the host's disk need not wait for the board
  const int fd = NOLVA_REAL(open)(m.host, flags, mode);
  if (fd < 0) return fd;
  if (!sim::Track(fd, area, m.device)) {
    NOLVA_REAL(close)(fd);
    static const char kFull[] = "nolva-board: too many board descriptors open at once\n";
    (void)!NOLVA_REAL(write)(2, kFull, sizeof kFull - 1);
    sim::Log("open %s refused: too many board descriptors open", m.device);
    return Fail(EMFILE);
  }
  return fd;
}

Event OpenEvent(int flags) {
  return WantsWrite(flags) ? Event::Open : Event::Read;
}

int OpenBoard(const Mapping& m, int flags, mode_t mode) {
  char text[160];
  FlagsText(flags, text, sizeof text);
  const std::size_t len = std::strlen(text);
  if (Creates(flags))
    std::snprintf(text + len, sizeof text - len, " %04o", static_cast<unsigned>(mode));
  if (const int error =
          sim::Step(OpenEvent(flags), {m.area(), m.device}, "open %s %s", m.device, text))
    return Fail(error);
  return OpenTracked(m, flags, mode);
}

// Calls call(the path to hand to libc, its mapping), or returns `failed`
// when a board path does not fit.
template <typename T, typename Call>
T WithMapping(const char* path, T failed, Call call) {
  Mapping m;
  const char* mapped = sim::MapPath(path, &m);
  return mapped == nullptr ? failed : call(mapped, m);
}

template <typename PassThrough>
int OpenPath(const char* path, int flags, mode_t mode, PassThrough passThrough) {
  return WithMapping(path, -1, [&](const char*, const Mapping& m) {
    if (m.row != nullptr) return OpenBoard(m, flags, mode);
    const int fd = passThrough();
    sim::Untrack(fd);  // a descriptor number may come back after a close we missed
    return fd;
  });
}

ssize_t BoardWrite(int fd, const void* data, size_t size) {
  const std::optional<Area> area = sim::TrackedArea(fd);
  if (!area) return NOLVA_REAL(write)(fd, data, size);
  if (area == Area::Mtd) return sim::MtdWrite(fd, data, size, sim::kAtPosition);
  char device[nolva::board::kPathMax];
  sim::DevicePathOf(fd, device, sizeof device);
  if (area == Area::Flash && sim::FileType(fd) != S_IFDIR) {
    if (const int error = sim::Step(Event::Write, {Area::Flash, device, &size})) return Fail(error);
  }
  const ssize_t written = NOLVA_REAL(write)(fd, data, size);
  if (written >= 0) sim::Log("write %s %zd", device, written);
  return written;
}

// Fortified callers pass the buffer's size; overrunning it stops the process.
void CheckBuffer(size_t size, size_t bufferSize) {
  if (size > bufferSize) abort();
}

int BoardClose(int fd) {
  const std::optional<Area> area = sim::TrackedArea(fd);
  if (!area) return NOLVA_REAL(close)(fd);
  char device[nolva::board::kPathMax];
  sim::DevicePathOf(fd, device, sizeof device);
  sim::Step(Event::Close, {area, device});
  sim::Untrack(fd);
  const int result = NOLVA_REAL(close)(fd);
  sim::Log("close %s", device);
  return result;
}

template <typename Sync>
int BoardSync(int fd, const char* name, Sync sync) {
  const std::optional<Area> area = sim::TrackedArea(fd);
  if (!area) return sync();
  char device[nolva::board::kPathMax];
  sim::DevicePathOf(fd, device, sizeof device);
  if (const int error = sim::Step(Event::Sync, {area, device}, "%s %s", name, device))
    return Fail(error);
  return sync();
}

int CookieFd(void* cookie) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(cookie));
}

// Streams written on board paths go through the board's write and close, so
// that faults and the log see stdio output as well as write(2).
constexpr cookie_io_functions_t kBoardStream = {
    [](void* cookie, char* buffer, size_t size) { return read(CookieFd(cookie), buffer, size); },
    [](void* cookie, const char* data, size_t size) {
      const ssize_t written = BoardWrite(CookieFd(cookie), data, size);
      return written < 0 ? 0 : written;
    },
    [](void* cookie, off64_t* offset, int whence) {
      const off64_t result = lseek64(CookieFd(cookie), *offset, whence);
      if (result < 0) return -1;
      *offset = result;
      return 0;
    },
    [](void* cookie) { return BoardClose(CookieFd(cookie)); },
};

FILE* OpenBoardStream(const Mapping& m, const char* mode) {
  const int flags = ModeFlags(mode);
  if (const int error =
          sim::Step(OpenEvent(flags), {m.area(), m.device}, "open %s %s", m.device, mode)) {
    errno = error;
    return nullptr;
  }
  if (!WantsWrite(flags)) return NOLVA_REAL(fopen)(m.host, mode);
  const int fd = OpenTracked(m, flags, 0666);
  if (fd < 0) return nullptr;
  FILE* stream =
      fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), mode, kBoardStream);
  if (stream == nullptr) BoardClose(fd);
  return stream;
}

template <typename PassThrough>
FILE* OpenStream(const char* path, const char* mode, PassThrough passThrough) {
  return WithMapping(path, static_cast<FILE*>(nullptr), [&](const char*, const Mapping& m) {
    return m.row != nullptr ? OpenBoardStream(m, mode) : passThrough();
  });
}

// A path operation that changes the board: one step, logged as "WHAT DEVICE"
// (and the new mode, when it sets one), then the call on the mapped path.
template <typename Call>
int Change(Event event, const char* path, const char* what, Call call,
           std::optional<mode_t> mode = std::nullopt) {
  return WithMapping(path, -1, [&](const char* mapped, const Mapping& m) {
    if (m.row == nullptr) return call(mapped);
    char shownMode[16] = "";
    if (mode) std::snprintf(shownMode, sizeof shownMode, " %04o", static_cast<unsigned>(*mode));
    if (const int error =
            sim::Step(event, {m.area(), m.device}, "%s %s%s", what, m.device, shownMode))
      return Fail(error);
    return call(mapped);
  });
}

template <typename Call>
int RenamePaths(const char* from, const char* to, Call call) {
  Mapping a;
  Mapping b;
  const char* mappedFrom = sim::MapPath(from, &a);
  if (mappedFrom == nullptr) return -1;
  const char* mappedTo = sim::MapPath(to, &b);
  if (mappedTo == nullptr) return -1;
  if (a.row == nullptr && b.row == nullptr) return call(from, to);
  // The log names a host path as it was given.
  const sim::Target names = {a.area(), a.row ? a.device : from, nullptr, b.area(),
                             b.row ? b.device : to};
  if (const int error = sim::Step(Event::Rename, names, "rename %s %s", names.device, names.to))
    return Fail(error);
  return call(mappedFrom, mappedTo);
}

using IoctlFn = int (*)(int, unsigned long, ...);

int Ioctl(int fd, unsigned long request, void* arg, IoctlFn real) {
  const std::optional<Area> area = sim::TrackedArea(fd);
  if (area == Area::Gpio || area == Area::Mtd || sim::IsBoardRequest(request)) {
    sim::RequireBoard();
    return sim::DeviceIoctl(fd, area, request, arg);
  }
  return real(fd, request, arg);
}

}  // namespace

// The entries name their parameters for what they hold, not as glibc's
// headers spell them.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)

// --- opening ---------------------------------------------------------------

// open(2) and its 64-bit, *at and fortified (_2) forms differ only in their
// names and the leading directory descriptor.
#define NOLVA_OPEN(fn, At, at)                                                                \
  NOLVA_ENTRY int fn(At const char* path, int flags, ...) {                                   \
    va_list args;                                                                             \
    va_start(args, flags);                                                                    \
    const mode_t mode = ModeArg(flags, args);                                                 \
    va_end(args);                                                                             \
    return OpenPath(path, flags, mode, [&] { return NOLVA_REAL(fn)(at path, flags, mode); }); \
  }                                                                                           \
  NOLVA_ENTRY int __##fn##_2(At const char* path, int flags) {                                \
    return OpenPath(path, flags, 0, [&] { return NOLVA_REAL(__##fn##_2)(at path, flags); });  \
  }
#define NOLVA_AT int dirfd,
#define NOLVA_AT_ARG dirfd,
NOLVA_OPEN(open, , )
NOLVA_OPEN(open64, , )
NOLVA_OPEN(openat, NOLVA_AT, NOLVA_AT_ARG)
NOLVA_OPEN(openat64, NOLVA_AT, NOLVA_AT_ARG)

NOLVA_ENTRY int creat(const char* path, mode_t mode) {
  // NOLINTNEXTLINE(android-cloexec-open): creat(2) leaves the descriptor open across exec
  return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

NOLVA_ENTRY int creat64(const char* path, mode_t mode) {
  // NOLINTNEXTLINE(android-cloexec-open): creat(2) leaves the descriptor open across exec
  return open64(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

NOLVA_ENTRY FILE* fopen(const char* path, const char* mode) {
  return OpenStream(path, mode, [&] { return NOLVA_REAL(fopen)(path, mode); });
}

NOLVA_ENTRY FILE* fopen64(const char* path, const char* mode) {
  return OpenStream(path, mode, [&] { return NOLVA_REAL(fopen64)(path, mode); });
}

NOLVA_ENTRY DIR* opendir(const char* path) {
  // Looking is neither logged nor checked.
  return WithMapping(path, static_cast<DIR*>(nullptr),
                     [](const char* p, const Mapping&) { return NOLVA_REAL(opendir)(p); });
}

// --- names -----------------------------------------------------------------

NOLVA_ENTRY int rename(const char* from, const char* to) noexcept {
  return RenamePaths(from, to,
                     [](const char* a, const char* b) { return NOLVA_REAL(rename)(a, b); });
}

NOLVA_ENTRY int renameat(int fromDir, const char* from, int toDir, const char* to) noexcept {
  return RenamePaths(from, to, [&](const char* a, const char* b) {
    return NOLVA_REAL(renameat)(fromDir, a, toDir, b);
  });
}

// The removals that take only a path, each logged under its own name.
#define NOLVA_REMOVE(fn)                                                                      \
  NOLVA_ENTRY int fn(const char* path) noexcept {                                             \
    return Change(Event::Remove, path, #fn, [](const char* p) { return NOLVA_REAL(fn)(p); }); \
  }
NOLVA_REMOVE(unlink)
NOLVA_REMOVE(remove)
NOLVA_REMOVE(rmdir)

NOLVA_ENTRY int unlinkat(int dirfd, const char* path, int flags) noexcept {
  return Change(Event::Remove, path, "unlink",
                [&](const char* p) { return NOLVA_REAL(unlinkat)(dirfd, p, flags); });
}

// The changes that set a mode, logged with it.
#define NOLVA_SET_MODE(fn, event)                                                        \
  NOLVA_ENTRY int fn(const char* path, mode_t mode) noexcept {                           \
    return Change(                                                                       \
        event, path, #fn, [&](const char* p) { return NOLVA_REAL(fn)(p, mode); }, mode); \
  }
NOLVA_SET_MODE(chmod, Event::Chmod)
NOLVA_SET_MODE(mkdir, Event::Mkdir)

// The calls that only look at a path: mapped, neither logged nor checked.
#define NOLVA_LOOK(fn, Arg, ...)                                                               \
  NOLVA_ENTRY int fn(const char* path, Arg arg) __VA_ARGS__ {                                  \
    return WithMapping(path, -1,                                                               \
                       [&](const char* p, const Mapping&) { return NOLVA_REAL(fn)(p, arg); }); \
  }
NOLVA_LOOK(access, int, noexcept)
NOLVA_LOOK(stat, struct stat*, noexcept)
NOLVA_LOOK(stat64, struct stat64*, noexcept)
NOLVA_LOOK(lstat, struct stat*, noexcept)
NOLVA_LOOK(lstat64, struct stat64*, noexcept)

#if __TIMESIZE == 32
// 32-bit programs built with 64-bit time call these instead of stat/lstat.
extern "C" int __stat64_time64(const char*, void*);
extern "C" int __lstat64_time64(const char*, void*);
NOLVA_LOOK(__stat64_time64, void*)
NOLVA_LOOK(__lstat64_time64, void*)
#endif

// --- descriptors -----------------------------------------------------------

NOLVA_ENTRY ssize_t write(int fd, const void* data, size_t size) {
  return BoardWrite(fd, data, size);
}

// Reads, positioned writes and seeks are simulated on the MTD partitions only.
NOLVA_ENTRY ssize_t read(int fd, void* buffer, size_t size) {
  if (sim::TrackedArea(fd) != Area::Mtd) return NOLVA_REAL(read)(fd, buffer, size);
  return sim::MtdRead(fd, buffer, size, sim::kAtPosition);
}

extern "C" ssize_t __read_chk(int, void*, size_t, size_t);
extern "C" ssize_t __pread_chk(int, void*, size_t, off_t, size_t);
extern "C" ssize_t __pread64_chk(int, void*, size_t, off64_t, size_t);

NOLVA_ENTRY ssize_t __read_chk(int fd, void* buffer, size_t size, size_t bufferSize) {
  CheckBuffer(size, bufferSize);
  return read(fd, buffer, size);
}

// The positioned calls and their 64-bit forms differ only in the offset's type.
#define NOLVA_POSITIONED(pread, pwrite, lseek, Offset)                                         \
  NOLVA_ENTRY ssize_t pread(int fd, void* buffer, size_t size, Offset offset) {                \
    if (sim::TrackedArea(fd) != Area::Mtd) return NOLVA_REAL(pread)(fd, buffer, size, offset); \
    if (offset < 0) return Fail(EINVAL);                                                       \
    return sim::MtdRead(fd, buffer, size, offset);                                             \
  }                                                                                            \
  NOLVA_ENTRY ssize_t __##pread##_chk(int fd, void* buffer, size_t size, Offset offset,        \
                                      size_t bufferSize) {                                     \
    CheckBuffer(size, bufferSize);                                                             \
    return pread(fd, buffer, size, offset);                                                    \
  }                                                                                            \
  NOLVA_ENTRY ssize_t pwrite(int fd, const void* data, size_t size, Offset offset) {           \
    if (sim::TrackedArea(fd) != Area::Mtd) return NOLVA_REAL(pwrite)(fd, data, size, offset);  \
    if (offset < 0) return Fail(EINVAL);                                                       \
    return sim::MtdWrite(fd, data, size, offset);                                              \
  }                                                                                            \
  NOLVA_ENTRY Offset lseek(int fd, Offset offset, int whence) noexcept {                       \
    if (sim::TrackedArea(fd) != Area::Mtd) return NOLVA_REAL(lseek)(fd, offset, whence);       \
    const off64_t position = sim::MtdSeek(fd, offset, whence);                                 \
    if (position != static_cast<Offset>(position)) return Fail(EOVERFLOW);                     \
    return static_cast<Offset>(position);                                                      \
  }
NOLVA_POSITIONED(pread, pwrite, lseek, off_t)
NOLVA_POSITIONED(pread64, pwrite64, lseek64, off64_t)

NOLVA_ENTRY int fsync(int fd) {
  return BoardSync(fd, "fsync", [fd] { return NOLVA_REAL(fsync)(fd); });
}

NOLVA_ENTRY int fdatasync(int fd) {
  return BoardSync(fd, "fdatasync", [fd] { return NOLVA_REAL(fdatasync)(fd); });
}

NOLVA_ENTRY int close(int fd) {
  return BoardClose(fd);
}

NOLVA_ENTRY int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  return Ioctl(fd, request, arg, NOLVA_REAL(ioctl));
}

extern "C" int __ioctl_time64(int fd, unsigned long request, ...);

NOLVA_ENTRY int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  static const auto real = sim::NextSymbol<IoctlFn>("__ioctl_time64");
  return Ioctl(fd, request, arg, real != nullptr ? real : NOLVA_REAL(ioctl));
}

// --- processes and time ----------------------------------------------------

NOLVA_ENTRY int system(const char* command) {
  return sim::EmulateSystem(command);
}

NOLVA_ENTRY int usleep(useconds_t microseconds) {
  sim::RequireBoard();
  sim::Log("usleep %lu", static_cast<unsigned long>(microseconds));
  return 0;
}

NOLVA_ENTRY int nolva_board_active(void) {
  char board[nolva::board::kPathMax];
  return sim::ActiveBoard(board) ? 1 : 0;
}

#ifdef NOLVA_BOARD_PRELOAD
// A preloaded program without a board must not get as far as main().
__attribute__((constructor)) static void RequireBoardAtLoad() {
  sim::RequireBoard();
}
#endif

// NOLINTEND(readability-inconsistent-declaration-parameter-name)
