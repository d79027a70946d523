// The power cut fault: counts the steps that reach the flash, keeps the list
// of files with unsynced writes, and at the due step drops those writes and
// kills the process.
#include "board/preload/power_cut.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

constexpr char kFaultName[] = "power-cut";
constexpr std::size_t kFaultPathMax = kPathMax + 64;
// "count\n", then one device path per line: the files with unsynced writes.
constexpr std::size_t kStateMax = 8192;

const char* NameOf(FlashStep step) {
  static constexpr const char* kNames[] = {"open",   "write",  "sync",  "close",
                                           "rename", "remove", "chmod", "mkdir"};
  return kNames[static_cast<unsigned>(step)];
}

bool SameOrBelow(const char* path, std::size_t length, const char* top) {
  const std::size_t n = std::strlen(top);
  if (length < n || std::strncmp(path, top, n) != 0) return false;
  return length == n || path[n] == '/';
}

bool Same(const char* path, std::size_t length, const char* other) {
  return other != nullptr && std::strlen(other) == length && std::strncmp(path, other, length) == 0;
}

void Append(char* out, std::size_t* len, const char* text, std::size_t n) {
  if (*len + n + 2 > kStateMax) return;  // more unsynced files than a save ever has
  std::memcpy(out + *len, text, n);
  *len += n;
  out[(*len)++] = '\n';
  out[*len] = '\0';
}

// The unsynced list after the step: a write adds its file, a sync clears it,
// a rename carries it to the new name (dropping what that name held), and a
// removal forgets it.
void NextList(const char* list, FlashStep step, const char* device, const char* to, char* out,
              std::size_t* len) {
  bool listed = false;
  for (const char* line = list; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const std::size_t n = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
    const bool isDevice = Same(line, n, device);
    listed = listed || isDevice;
    bool keep = true;
    if (step == FlashStep::Sync && isDevice) keep = false;
    if (step == FlashStep::Remove && SameOrBelow(line, n, device)) keep = false;
    if (step == FlashStep::Rename && (isDevice || Same(line, n, to))) keep = false;
    if (keep && n > 0) Append(out, len, line, n);
    line = end ? end + 1 : line + n;
  }
  if (step == FlashStep::Write && !listed) Append(out, len, device, std::strlen(device));
  if (step == FlashStep::Rename && listed) Append(out, len, to, std::strlen(to));
}

// What the cache held is gone: each listed file is left empty.
void DropUnsynced(const char* board, const char* list) {
  for (const char* line = list; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const std::size_t n = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
    char host[2 * kPathMax];
    std::snprintf(host, sizeof host, "%s%.*s", board, static_cast<int>(n), line);
    if (n > 0 && truncate(host, 0) == 0) Log("power-cut lost %.*s", static_cast<int>(n), line);
    line = end ? end + 1 : line + n;
  }
}

__attribute__((noinline)) void CountStep(const char* board, const char* faultPath,
                                         const char* value, FlashStep step, const char* device,
                                         const char* to) {
  char statePath[kFaultPathMax + sizeof ".used"];
  std::snprintf(statePath, sizeof statePath, "%s.used", faultPath);
  const int fd = NOLVA_REAL(open)(statePath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  flock(fd, LOCK_EX);
  char state[kStateMax];
  const ssize_t got = pread(fd, state, sizeof state - 1, 0);
  state[got > 0 ? got : 0] = '\0';
  const unsigned long long count = std::strtoull(state, nullptr, 10);
  const char* newline = std::strchr(state, '\n');
  const char* list = newline ? newline + 1 : "";
  const bool armed = value[0] >= '0' && value[0] <= '9';
  if (armed && count >= std::strtoull(value, nullptr, 10)) {
    Log("power-cut %s %s", NameOf(step), device);
    DropUnsynced(board, list);
    kill(getpid(), SIGKILL);
    _exit(137);  // not reached
  }
  char next[kStateMax];
  std::size_t len = static_cast<std::size_t>(std::snprintf(next, sizeof next, "%llu\n", count + 1));
  NextList(list, step, device, to, next, &len);
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, next, len, 0);
  NOLVA_REAL(close)(fd);
}

}  // namespace

void PowerStep(Area area, FlashStep step, const char* device, const char* to) {
  if (area != Area::Flash) return;
  char board[kPathMax];
  RequireBoard(board, sizeof board);
  char faultPath[kFaultPathMax];
  std::snprintf(faultPath, sizeof faultPath, "%s/faults/%s", board, kFaultName);
  char value[32];
  // A caller may still be about to report an earlier errno (fclose after a
  // failed flush), so looking for the fault must not change it.
  const int saved = errno;
  if (ReadSmallFile(faultPath, value, sizeof value))
    CountStep(board, faultPath, value, step, device, to == nullptr ? "" : to);
  errno = saved;
}

}  // namespace nolva::board::sim
