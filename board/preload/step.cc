// What becomes of each step a program takes on the board: its line in the
// log, its count toward a power cut, and the faults injected per board.
//
// A fault is a file in $BOARD/faults/; its optional content is a number (the
// byte budget of flash-full, the most a write may take under
// mtd-short-writes, the offset of mtd-read-flips, the steps before
// power-cut).
//
// The power cut: faults/power-cut holding N lets N steps reach the board's
// flash; the next step never happens. The process dies on the spot, as the
// CPU would: no error return, no destructor, no clean-up. What the flash still
// holds is what a power cut leaves: every file whose writes were not yet
// synced loses them (it is left empty), everything synced stays. Without a
// number in the file the steps are only counted.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

constexpr std::size_t kFaultPathMax = kPathMax + 64;
// The power cut's "count\n", then one device path per line: the files with
// unsynced writes.
constexpr std::size_t kCutStateMax = 8192;

// How the log names each event, in the order of Event: a power cut's line
// and a fault's line spell a sync and a removal differently.
struct EventNames {
  const char* cut;
  const char* fault;
};
constexpr EventNames kEventNames[] = {
    {"read", "read"},   {"open", "open"},     {"write", "write"},     {"sync", "fsync"},
    {"close", "close"}, {"rename", "rename"}, {"remove", "unlink"},   {"chmod", "chmod"},
    {"mkdir", "mkdir"}, {"erase", "erase"},   {"getinfo", "getinfo"},
};

static_assert(std::size(kEventNames) == static_cast<std::size_t>(Event::GetInfo) + 1,
              "one pair of names for each event");

const EventNames& NamesOf(Event event) {
  return kEventNames[static_cast<unsigned>(event)];
}

constexpr unsigned Bit(Event event) {
  return 1u << static_cast<unsigned>(event);
}

// ---- faults -----------------------------------------------------------------

enum class Effect : unsigned char {
  Fail,    // the step fails with `error`
  Budget,  // a number in the file allows that many bytes first, then fails
  Cap,     // each step takes at most the number in the file (0: nothing)
};

struct FaultRule {
  const char* name;
  Area area;
  unsigned events;
  int error;
  Effect effect;
};

constexpr FaultRule kRules[] = {
    {"flash-readonly", Area::Flash,
     Bit(Event::Open) | Bit(Event::Rename) | Bit(Event::Remove) | Bit(Event::Chmod) |
         Bit(Event::Mkdir),
     EROFS, Effect::Fail},
    {"flash-full", Area::Flash, Bit(Event::Write), ENOSPC, Effect::Budget},
    {"flash-fsync-fails", Area::Flash, Bit(Event::Sync), EIO, Effect::Fail},
    {"flash-rename-fails", Area::Flash, Bit(Event::Rename), EIO, Effect::Fail},
    {"interfaces-readonly", Area::Network, Bit(Event::Open), EROFS, Effect::Fail},
    {"tmp-readonly", Area::Tmp, Bit(Event::Open) | Bit(Event::Remove), EROFS, Effect::Fail},
    {"mtd-erase-fails", Area::Mtd, Bit(Event::Erase), EIO, Effect::Fail},
    {"mtd-getinfo-fails", Area::Mtd, Bit(Event::GetInfo), EIO, Effect::Fail},
    {"mtd-write-fails", Area::Mtd, Bit(Event::Write), EIO, Effect::Fail},
    {"mtd-short-writes", Area::Mtd, Bit(Event::Write), 0, Effect::Cap},
    {"mtd-write-stalls", Area::Mtd, Bit(Event::Write), 0, Effect::Cap},
};

// $BOARD/faults/NAME and, when the fault is set, what the file holds.
struct FaultFile {
  char path[kFaultPathMax];
  char value[32];

  bool Read(const char* name) {
    BoardFile(path, sizeof path, "/faults/%s", name);
    return ReadSmallFile(path, value, sizeof value);
  }
  bool Numbered() const { return value[0] >= '0' && value[0] <= '9'; }
  unsigned long long Number() const { return std::strtoull(value, nullptr, 10); }
};

// Rewrites the small file beside a fault (NAME.used) under a lock, so that
// every process on the board shares one byte budget or one power cut's
// count. `next(old, out, size)` writes the new content and returns its length.
template <std::size_t kSize, typename Next>
__attribute__((noinline)) void RewriteUsed(const char* faultPath, Next next) {
  char usedPath[kFaultPathMax + sizeof ".used"];
  std::snprintf(usedPath, sizeof usedPath, "%s.used", faultPath);
  const int fd = NOLVA_REAL(open)(usedPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  flock(fd, LOCK_EX);
  char old[kSize];
  char out[kSize];
  const ssize_t got = NOLVA_REAL(pread)(fd, old, sizeof old - 1, 0);
  old[got > 0 ? got : 0] = '\0';
  const std::size_t len = next(old, out, sizeof out);
  if (ftruncate(fd, 0) == 0) (void)!NOLVA_REAL(pwrite)(fd, out, len, 0);
  NOLVA_REAL(close)(fd);
}

// Takes up to `wanted` bytes from the budget; 0 when none is left.
std::size_t DrawBudget(const FaultFile& fault, std::size_t wanted) {
  std::size_t granted = 0;
  RewriteUsed<32>(fault.path, [&](const char* old, char* out, std::size_t size) {
    const unsigned long long used = std::strtoull(old, nullptr, 10);
    const unsigned long long budget = fault.Number();
    const unsigned long long left = used < budget ? budget - used : 0;
    granted = left < wanted ? static_cast<std::size_t>(left) : wanted;
    return static_cast<std::size_t>(std::snprintf(out, size, "%llu\n", used + granted));
  });
  return granted;
}

// The errno of a fault that refuses the step, or 0. A write's *count may be
// cut down to what a byte budget or a cap still allows.
int ApplyFaults(Event event, Area area, const char* device, std::size_t* count) {
  for (const FaultRule& rule : kRules) {
    if (rule.area != area || (rule.events & Bit(event)) == 0) continue;
    FaultFile fault;
    if (!fault.Read(rule.name)) continue;
    int error = rule.error;
    if (rule.effect == Effect::Cap) {
      const unsigned long long number = fault.Numbered() ? fault.Number() : 0;
      if (count == nullptr || *count <= number) continue;
      *count = static_cast<std::size_t>(number);
      error = 0;  // cut short, not refused
    } else if (rule.effect == Effect::Budget && count != nullptr && fault.Numbered()) {
      const std::size_t wanted = *count;
      *count = DrawBudget(fault, wanted);
      if (*count == wanted) continue;
      if (*count > 0) error = 0;  // cut short, not refused
    }
    Log("fault %s %s %s", rule.name, NamesOf(event).fault, device);
    if (error != 0) return error;
  }
  return 0;
}

// ---- the power cut ------------------------------------------------------------

bool SameOrBelow(const char* path, std::size_t length, const char* top) {
  const std::size_t n = std::strlen(top);
  if (length < n || std::strncmp(path, top, n) != 0) return false;
  return length == n || path[n] == '/';
}

bool Same(const char* path, std::size_t length, const char* other) {
  return other != nullptr && std::strlen(other) == length && std::strncmp(path, other, length) == 0;
}

void Append(char* out, std::size_t* len, const char* text, std::size_t n) {
  if (*len + n + 2 > kCutStateMax) return;  // more unsynced files than a save ever has
  std::memcpy(out + *len, text, n);
  *len += n;
  out[(*len)++] = '\n';
  out[*len] = '\0';
}

// Calls line(text, length) for each line of a list.
template <typename Line>
void ForEachLine(const char* list, Line line) {
  for (const char* at = list; *at != '\0';) {
    const char* end = std::strchr(at, '\n');
    const std::size_t n = end ? static_cast<std::size_t>(end - at) : std::strlen(at);
    line(at, n);
    at = end ? end + 1 : at + n;
  }
}

// The unsynced list after the step: a write adds its file, a sync clears it,
// a rename carries it to the new name (dropping what that name held), and a
// removal forgets it.
void NextList(const char* list, Event event, const char* device, const char* to, char* out,
              std::size_t* len) {
  bool listed = false;
  ForEachLine(list, [&](const char* line, std::size_t n) {
    const bool isDevice = Same(line, n, device);
    listed = listed || isDevice;
    bool keep = true;
    if (event == Event::Sync && isDevice) keep = false;
    if (event == Event::Remove && SameOrBelow(line, n, device)) keep = false;
    if (event == Event::Rename && (isDevice || Same(line, n, to))) keep = false;
    if (keep && n > 0) Append(out, len, line, n);
  });
  if (event == Event::Write && !listed) Append(out, len, device, std::strlen(device));
  if (event == Event::Rename && listed) Append(out, len, to, std::strlen(to));
}

// What the cache held is gone: each listed file is left empty.
void DropUnsynced(const char* list) {
  ForEachLine(list, [&](const char* line, std::size_t n) {
    char host[2 * kPathMax];
    BoardFile(host, sizeof host, "%.*s", static_cast<int>(n), line);
    if (n > 0 && truncate(host, 0) == 0) Log("power-cut lost %.*s", static_cast<int>(n), line);
  });
}

// Counts a step that reaches the flash, or cuts the power before it.
void PowerCutStep(Event event, const char* device, const char* to) {
  FaultFile fault;
  if (!fault.Read("power-cut")) return;
  RewriteUsed<kCutStateMax>(fault.path, [&](const char* state, char* out, std::size_t size) {
    const unsigned long long count = std::strtoull(state, nullptr, 10);
    const char* newline = std::strchr(state, '\n');
    const char* list = newline ? newline + 1 : "";
    if (fault.Numbered() && count >= fault.Number()) {
      Log("power-cut %s %s", NamesOf(event).cut, device);
      DropUnsynced(list);
      kill(getpid(), SIGKILL);
      _exit(137);  // not reached
    }
    std::size_t len = static_cast<std::size_t>(std::snprintf(out, size, "%llu\n", count + 1));
    NextList(list, event, device, to, out, &len);
    return len;
  });
}

}  // namespace

bool FaultSet(const char* name, unsigned long long* value) {
  FaultFile fault;
  if (!fault.Read(name)) return false;
  if (value != nullptr) *value = fault.Number();
  return true;
}

int Step(Event event, const Target& target, const char* format, ...) {
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    LogV(format, args);
    va_end(args);
  }
  const bool flash = target.area == Area::Flash || target.toArea == Area::Flash;
  if (flash && event != Event::Read) {
    // A caller may still be about to report an earlier errno (fclose after a
    // failed flush), so looking for the power cut must not change it.
    const int saved = errno;
    PowerCutStep(event, target.device, target.to == nullptr ? "" : target.to);
    errno = saved;
  }
  int error = 0;
  if (target.area) error = ApplyFaults(event, *target.area, target.device, target.count);
  if (error == 0 && target.toArea) error = ApplyFaults(event, *target.toArea, target.to, nullptr);
  return error;
}

}  // namespace nolva::board::sim
