// Faults injected per board: a file in $BOARD/faults/ switches one on; its
// optional content is a number (the byte budget of flash-full).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/sim.h"

namespace nolva::board::sim {
namespace {

struct FaultRule {
  const char* name;
  Area area;
  unsigned ops;
  int error;
  bool budgeted;  // a number in the file allows that many bytes first
};

constexpr FaultRule kRules[] = {
    {"flash-readonly", Area::Flash, kOpenWrite | kRename | kUnlink | kChmod | kMkdir, EROFS, false},
    {"flash-full", Area::Flash, kWrite, ENOSPC, true},
    {"flash-fsync-fails", Area::Flash, kFsync, EIO, false},
    {"flash-rename-fails", Area::Flash, kRename, EIO, false},
    {"interfaces-readonly", Area::Network, kOpenWrite, EROFS, false},
};

struct OpName {
  FaultOp op;
  const char* name;
};
constexpr OpName kOpNames[] = {
    {kOpenWrite, "open"}, {kWrite, "write"}, {kFsync, "fsync"}, {kRename, "rename"},
    {kUnlink, "unlink"},  {kChmod, "chmod"}, {kMkdir, "mkdir"},
};

const char* NameOf(FaultOp op) {
  for (const OpName& row : kOpNames)
    if (row.op == op) return row.name;
  return "?";
}

// Takes up to `wanted` bytes from the budget; the count sits in a sibling
// file so that every process on the board draws from the same budget.
std::size_t DrawBudget(const char* faultPath, unsigned long long budget, std::size_t wanted) {
  char usedPath[kPathMax + 72];  // room for any path CheckFault builds, and ".used"
  std::snprintf(usedPath, sizeof usedPath, "%s.used", faultPath);
  const int fd = NOLVA_REAL(open)(usedPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  flock(fd, LOCK_EX);
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  const unsigned long long used = n > 0 ? std::strtoull(text, nullptr, 10) : 0;
  const unsigned long long left = used < budget ? budget - used : 0;
  const std::size_t granted = left < wanted ? static_cast<std::size_t>(left) : wanted;
  const int len = std::snprintf(text, sizeof text, "%llu\n", used + granted);
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, text, static_cast<std::size_t>(len), 0);
  NOLVA_REAL(close)(fd);
  return granted;
}

}  // namespace

int CheckFault(FaultOp op, Area area, const char* device, std::size_t* count) {
  char board[kPathMax];
  RequireBoard(board, sizeof board);
  for (const FaultRule& rule : kRules) {
    if (rule.area != area || (rule.ops & op) == 0) continue;
    char path[kPathMax + 64];
    std::snprintf(path, sizeof path, "%s/faults/%s", board, rule.name);
    char value[32];
    if (!ReadSmallFile(path, value, sizeof value)) continue;
    if (rule.budgeted && count != nullptr && value[0] >= '0' && value[0] <= '9') {
      const std::size_t wanted = *count;
      *count = DrawBudget(path, std::strtoull(value, nullptr, 10), wanted);
      if (*count == wanted) continue;
      Log("fault %s %s %s", rule.name, NameOf(op), device);
      if (*count > 0) continue;  // cut short, not refused
      return rule.error;
    }
    Log("fault %s %s %s", rule.name, NameOf(op), device);
    return rule.error;
  }
  return 0;
}

}  // namespace nolva::board::sim
