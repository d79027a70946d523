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

#include "board/preload/open_flags.h"
#include "board/preload/sim.h"

#define NOLVA_ENTRY extern "C" __attribute__((visibility("default")))

namespace sim = nolva::board::sim;
using nolva::board::Area;
using sim::Event;
using sim::Fail;
using sim::Kind;
using sim::Mapping;
using sim::WantsWrite;

namespace {

bool Creates(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t ModeArg(int flags, va_list args) {
  return Creates(flags) ? static_cast<mode_t>(va_arg(args, unsigned)) : 0;
}

// The device path for the log: the board's name for it, or the host path.
const char* Shown(const Mapping& m, const char* path) {
  return m.row ? m.device : path;
}

// The area of a board descriptor's device path.
std::optional<Area> DeviceArea(const char* device) {
  return sim::AreaOf(nolva::board::FindMappedPath(device));
}

// Opens a board path and tracks the result.
int OpenTracked(const Mapping& m, int flags, mode_t mode) {
  const Area area = m.row->area;
  const bool creatable = area == Area::Flash || area == Area::Network || area == Area::Tmp;
  if (!creatable) flags &= ~(O_CREAT | O_EXCL | O_TRUNC);  // devices exist or do not
  if (area == Area::Mtd) flags &= ~O_SYNC;  // the host's disk need not wait for the board
  const int fd = NOLVA_REAL(open)(m.host, flags, mode);
  if (fd < 0) return fd;
  Kind kind = Kind::OtherBoard;
  if (area == Area::Gpio) kind = Kind::Gpio;
  if (area == Area::Mtd) kind = Kind::Mtd;
  if (area == Area::Flash) {
    struct stat64 st;  // 64-bit: a 32-bit process may meet large host inode numbers
    const bool dir = fstat64(fd, &st) == 0 && S_ISDIR(st.st_mode);
    kind = dir ? Kind::FlashDir : Kind::FlashFile;
  }
  if (!sim::Track(fd, kind, m.device)) {
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
  sim::FlagsText(flags, text, sizeof text);
  const std::size_t len = std::strlen(text);
  if (Creates(flags))
    std::snprintf(text + len, sizeof text - len, " %04o", static_cast<unsigned>(mode));
  if (const int error =
          sim::Step(OpenEvent(flags), {m.area(), m.device}, "open %s %s", m.device, text))
    return Fail(error);
  return OpenTracked(m, flags, mode);
}

template <typename PassThrough>
int OpenPath(const char* path, int flags, mode_t mode, PassThrough passThrough) {
  Mapping m;
  const char* mapped = sim::MapPath(path, &m);
  if (mapped == nullptr) return -1;
  if (m.row != nullptr) return OpenBoard(m, flags, mode);
  const int fd = passThrough();
  sim::Untrack(fd);  // a descriptor number may come back after a close we missed
  return fd;
}

ssize_t BoardWrite(int fd, const void* data, size_t size) {
  const Kind kind = sim::KindOf(fd);
  if (kind == Kind::None) return NOLVA_REAL(write)(fd, data, size);
  if (kind == Kind::Mtd) return sim::MtdWrite(fd, data, size, sim::kAtPosition, true);
  char device[nolva::board::kPathMax];
  sim::DevicePathOf(fd, device, sizeof device);
  if (kind == Kind::FlashFile) {
    if (const int error = sim::Step(Event::Write, {Area::Flash, device, &size})) return Fail(error);
  }
  const ssize_t written = NOLVA_REAL(write)(fd, data, size);
  if (written >= 0) sim::Log("write %s %zd", device, written);
  return written;
}

// Reads and seeks are simulated on the MTD partitions only.
template <typename PassThrough>
ssize_t BoardRead(int fd, void* buffer, size_t size, off64_t offset, PassThrough passThrough) {
  if (sim::KindOf(fd) != Kind::Mtd) return passThrough();
  return sim::MtdRead(fd, buffer, size, offset, offset == sim::kAtPosition);
}

template <typename PassThrough>
ssize_t BoardPwrite(int fd, const void* data, size_t size, off64_t offset,
                    PassThrough passThrough) {
  if (sim::KindOf(fd) != Kind::Mtd) return passThrough();
  if (offset < 0) return Fail(EINVAL);
  return sim::MtdWrite(fd, data, size, offset, false);
}

template <typename Offset, typename PassThrough>
Offset BoardSeek(int fd, off64_t offset, int whence, PassThrough passThrough) {
  if (sim::KindOf(fd) != Kind::Mtd) return passThrough();
  const off64_t position = sim::MtdSeek(fd, offset, whence);
  if (position != static_cast<Offset>(position)) return Fail(EOVERFLOW);
  return static_cast<Offset>(position);
}

// Fortified callers pass the buffer's size; overrunning it stops the process.
void CheckBuffer(size_t size, size_t bufferSize) {
  if (size > bufferSize) abort();
}

int BoardClose(int fd) {
  const Kind kind = sim::KindOf(fd);
  if (kind == Kind::None) return NOLVA_REAL(close)(fd);
  char device[nolva::board::kPathMax];
  sim::DevicePathOf(fd, device, sizeof device);
  sim::Step(Event::Close, {DeviceArea(device), device});
  sim::Untrack(fd);
  const int result = NOLVA_REAL(close)(fd);
  sim::Log("close %s", device);
  return result;
}

template <typename Sync>
int BoardSync(int fd, const char* name, Sync sync) {
  const Kind kind = sim::KindOf(fd);
  if (kind == Kind::None) return sync();
  char device[nolva::board::kPathMax];
  sim::DevicePathOf(fd, device, sizeof device);
  if (const int error = sim::Step(Event::Sync, {DeviceArea(device), device}, "%s %s", name, device))
    return Fail(error);
  return sync();
}

// Streams written on board paths go through the board's write and close, so
// that faults and the log see stdio output as well as write(2).
int CookieFd(void* cookie) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(cookie));
}

ssize_t CookieRead(void* cookie, char* buffer, size_t size) {
  return read(CookieFd(cookie), buffer, size);
}

ssize_t CookieWrite(void* cookie, const char* data, size_t size) {
  const ssize_t written = BoardWrite(CookieFd(cookie), data, size);
  return written < 0 ? 0 : written;
}

int CookieSeek(void* cookie, off64_t* offset, int whence) {
  const off64_t result = lseek64(CookieFd(cookie), *offset, whence);
  if (result < 0) return -1;
  *offset = result;
  return 0;
}

int CookieClose(void* cookie) {
  return BoardClose(CookieFd(cookie));
}

FILE* OpenBoardStream(const Mapping& m, const char* mode) {
  const int flags = sim::ModeFlags(mode);
  if (const int error =
          sim::Step(OpenEvent(flags), {m.area(), m.device}, "open %s %s", m.device, mode)) {
    errno = error;
    return nullptr;
  }
  if (!WantsWrite(flags)) return NOLVA_REAL(fopen)(m.host, mode);
  const int fd = OpenTracked(m, flags, 0666);
  if (fd < 0) return nullptr;
  const cookie_io_functions_t io = {CookieRead, CookieWrite, CookieSeek, CookieClose};
  FILE* stream = fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), mode, io);
  if (stream == nullptr) BoardClose(fd);
  return stream;
}

template <typename PassThrough>
FILE* OpenStream(const char* path, const char* mode, PassThrough passThrough) {
  Mapping m;
  const char* mapped = sim::MapPath(path, &m);
  if (mapped == nullptr) return nullptr;
  if (m.row != nullptr) return OpenBoardStream(m, mode);
  return passThrough();
}

// A path operation that changes the board: one step, logged as "WHAT DEVICE"
// (and the new mode, when it sets one), then the call on the mapped path.
template <typename Call>
int Change(Event event, const char* path, const char* what, Call call,
           std::optional<mode_t> mode = std::nullopt) {
  Mapping m;
  const char* mapped = sim::MapPath(path, &m);
  if (mapped == nullptr) return -1;
  if (m.row != nullptr) {
    char shownMode[16] = "";
    if (mode) std::snprintf(shownMode, sizeof shownMode, " %04o", static_cast<unsigned>(*mode));
    if (const int error =
            sim::Step(event, {m.area(), m.device}, "%s %s%s", what, m.device, shownMode))
      return Fail(error);
  }
  return call(mapped);
}

// A path operation that only looks: mapped, neither logged nor checked.
template <typename T, typename Call>
T Look(const char* path, T failed, Call call) {
  Mapping m;
  const char* mapped = sim::MapPath(path, &m);
  if (mapped == nullptr) return failed;
  return call(mapped);
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
  const sim::Target names = {a.area(), Shown(a, from), nullptr, b.area(), Shown(b, to)};
  if (const int error = sim::Step(Event::Rename, names, "rename %s %s", names.device, names.to))
    return Fail(error);
  return call(mappedFrom, mappedTo);
}

using IoctlFn = int (*)(int, unsigned long, ...);

int Ioctl(int fd, unsigned long request, void* arg, IoctlFn real) {
  const Kind kind = sim::KindOf(fd);
  const bool device = kind == Kind::Gpio || kind == Kind::Mtd;
  if (device || sim::IsBoardRequest(request)) {
    char board[nolva::board::kPathMax];
    sim::RequireBoard(board, sizeof board);
    return sim::DeviceIoctl(fd, kind, request, arg);
  }
  return real(fd, request, arg);
}

}  // namespace

// The entries name their parameters for what they hold, not as glibc's
// headers spell them.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)

// --- opening ---------------------------------------------------------------

NOLVA_ENTRY int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArg(flags, args);
  va_end(args);
  return OpenPath(path, flags, mode, [&] { return NOLVA_REAL(open)(path, flags, mode); });
}

NOLVA_ENTRY int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArg(flags, args);
  va_end(args);
  return OpenPath(path, flags, mode, [&] { return NOLVA_REAL(open64)(path, flags, mode); });
}

NOLVA_ENTRY int __open_2(const char* path, int flags) {
  return OpenPath(path, flags, 0, [&] { return NOLVA_REAL(__open_2)(path, flags); });
}

NOLVA_ENTRY int __open64_2(const char* path, int flags) {
  return OpenPath(path, flags, 0, [&] { return NOLVA_REAL(__open64_2)(path, flags); });
}

NOLVA_ENTRY int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArg(flags, args);
  va_end(args);
  return OpenPath(path, flags, mode, [&] { return NOLVA_REAL(openat)(dirfd, path, flags, mode); });
}

NOLVA_ENTRY int openat64(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeArg(flags, args);
  va_end(args);
  return OpenPath(path, flags, mode,
                  [&] { return NOLVA_REAL(openat64)(dirfd, path, flags, mode); });
}

NOLVA_ENTRY int __openat_2(int dirfd, const char* path, int flags) {
  return OpenPath(path, flags, 0, [&] { return NOLVA_REAL(__openat_2)(dirfd, path, flags); });
}

NOLVA_ENTRY int __openat64_2(int dirfd, const char* path, int flags) {
  return OpenPath(path, flags, 0, [&] { return NOLVA_REAL(__openat64_2)(dirfd, path, flags); });
}

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
  return Look(path, static_cast<DIR*>(nullptr),
              [](const char* p) { return NOLVA_REAL(opendir)(p); });
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

NOLVA_ENTRY int unlink(const char* path) noexcept {
  return Change(Event::Remove, path, "unlink", [](const char* p) { return NOLVA_REAL(unlink)(p); });
}

NOLVA_ENTRY int unlinkat(int dirfd, const char* path, int flags) noexcept {
  return Change(Event::Remove, path, "unlink",
                [&](const char* p) { return NOLVA_REAL(unlinkat)(dirfd, p, flags); });
}

NOLVA_ENTRY int remove(const char* path) noexcept {
  return Change(Event::Remove, path, "remove", [](const char* p) { return NOLVA_REAL(remove)(p); });
}

NOLVA_ENTRY int rmdir(const char* path) noexcept {
  return Change(Event::Remove, path, "rmdir", [](const char* p) { return NOLVA_REAL(rmdir)(p); });
}

NOLVA_ENTRY int chmod(const char* path, mode_t mode) noexcept {
  return Change(
      Event::Chmod, path, "chmod", [&](const char* p) { return NOLVA_REAL(chmod)(p, mode); }, mode);
}

NOLVA_ENTRY int mkdir(const char* path, mode_t mode) noexcept {
  return Change(
      Event::Mkdir, path, "mkdir", [&](const char* p) { return NOLVA_REAL(mkdir)(p, mode); }, mode);
}

NOLVA_ENTRY int access(const char* path, int how) noexcept {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(access)(p, how); });
}

NOLVA_ENTRY int stat(const char* path, struct stat* st) noexcept {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(stat)(p, st); });
}

NOLVA_ENTRY int stat64(const char* path, struct stat64* st) noexcept {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(stat64)(p, st); });
}

NOLVA_ENTRY int lstat(const char* path, struct stat* st) noexcept {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(lstat)(p, st); });
}

NOLVA_ENTRY int lstat64(const char* path, struct stat64* st) noexcept {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(lstat64)(p, st); });
}

#if __TIMESIZE == 32
// 32-bit programs built with 64-bit time call these instead of stat/lstat.
extern "C" int __stat64_time64(const char*, void*);
extern "C" int __lstat64_time64(const char*, void*);

NOLVA_ENTRY int __stat64_time64(const char* path, void* st) {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(__stat64_time64)(p, st); });
}

NOLVA_ENTRY int __lstat64_time64(const char* path, void* st) {
  return Look(path, -1, [&](const char* p) { return NOLVA_REAL(__lstat64_time64)(p, st); });
}
#endif

// --- descriptors -----------------------------------------------------------

NOLVA_ENTRY ssize_t write(int fd, const void* data, size_t size) {
  return BoardWrite(fd, data, size);
}

NOLVA_ENTRY ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  return BoardPwrite(fd, data, size, offset,
                     [&] { return NOLVA_REAL(pwrite)(fd, data, size, offset); });
}

NOLVA_ENTRY ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
  return BoardPwrite(fd, data, size, offset,
                     [&] { return NOLVA_REAL(pwrite64)(fd, data, size, offset); });
}

NOLVA_ENTRY ssize_t read(int fd, void* buffer, size_t size) {
  return BoardRead(fd, buffer, size, sim::kAtPosition,
                   [&] { return NOLVA_REAL(read)(fd, buffer, size); });
}

NOLVA_ENTRY ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  if (offset < 0 && sim::KindOf(fd) == Kind::Mtd) return Fail(EINVAL);
  return BoardRead(fd, buffer, size, offset,
                   [&] { return NOLVA_REAL(pread)(fd, buffer, size, offset); });
}

NOLVA_ENTRY ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
  if (offset < 0 && sim::KindOf(fd) == Kind::Mtd) return Fail(EINVAL);
  return BoardRead(fd, buffer, size, offset,
                   [&] { return NOLVA_REAL(pread64)(fd, buffer, size, offset); });
}

extern "C" ssize_t __read_chk(int, void*, size_t, size_t);
extern "C" ssize_t __pread_chk(int, void*, size_t, off_t, size_t);
extern "C" ssize_t __pread64_chk(int, void*, size_t, off64_t, size_t);

NOLVA_ENTRY ssize_t __read_chk(int fd, void* buffer, size_t size, size_t bufferSize) {
  CheckBuffer(size, bufferSize);
  return read(fd, buffer, size);
}

NOLVA_ENTRY ssize_t __pread_chk(int fd, void* buffer, size_t size, off_t offset,
                                size_t bufferSize) {
  CheckBuffer(size, bufferSize);
  return pread(fd, buffer, size, offset);
}

NOLVA_ENTRY ssize_t __pread64_chk(int fd, void* buffer, size_t size, off64_t offset,
                                  size_t bufferSize) {
  CheckBuffer(size, bufferSize);
  return pread64(fd, buffer, size, offset);
}

NOLVA_ENTRY off_t lseek(int fd, off_t offset, int whence) noexcept {
  return BoardSeek<off_t>(fd, offset, whence,
                          [&] { return NOLVA_REAL(lseek)(fd, offset, whence); });
}

NOLVA_ENTRY off64_t lseek64(int fd, off64_t offset, int whence) noexcept {
  return BoardSeek<off64_t>(fd, offset, whence,
                            [&] { return NOLVA_REAL(lseek64)(fd, offset, whence); });
}

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
  char board[nolva::board::kPathMax];
  sim::RequireBoard(board, sizeof board);
  sim::Log("usleep %lu", static_cast<unsigned long>(microseconds));
  return 0;
}

NOLVA_ENTRY int nolva_board_active(void) {
  char board[nolva::board::kPathMax];
  return sim::ActiveBoard(board, sizeof board) ? 1 : 0;
}

#ifdef NOLVA_BOARD_PRELOAD
// A preloaded program without a board must not get as far as main().
__attribute__((constructor)) static void RequireBoardAtLoad() {
  char board[nolva::board::kPathMax];
  sim::RequireBoard(board, sizeof board);
}
#endif

// NOLINTEND(readability-inconsistent-declaration-parameter-name)
