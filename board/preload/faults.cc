// Faults injected per board: a file in $BOARD/faults/ switches one on; its
// optional content is a number (the byte budget of flash-full, the most a
// write may take under mtd-short-writes, the offset of mtd-read-flips).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

enum class Effect : unsigned char {
  Fail,    // the operation fails with `error`
  Budget,  // a number in the file allows that many bytes first, then fails
  Cap,     // each operation takes at most the number in the file (0: nothing)
};

struct FaultRule {
  const char* name;
  Area area;
  unsigned ops;
  int error;
  Effect effect;
};

constexpr FaultRule kRules[] = {
    {"flash-readonly", Area::Flash, kOpenWrite | kRename | kUnlink | kChmod | kMkdir, EROFS,
     Effect::Fail},
    {"flash-full", Area::Flash, kWrite, ENOSPC, Effect::Budget},
    {"flash-fsync-fails", Area::Flash, kFsync, EIO, Effect::Fail},
    {"flash-rename-fails", Area::Flash, kRename, EIO, Effect::Fail},
    {"interfaces-readonly", Area::Network, kOpenWrite, EROFS, Effect::Fail},
    {"tmp-readonly", Area::Tmp, kOpenWrite | kUnlink, EROFS, Effect::Fail},
    {"mtd-erase-fails", Area::Mtd, kErase, EIO, Effect::Fail},
    {"mtd-getinfo-fails", Area::Mtd, kGetInfo, EIO, Effect::Fail},
    {"mtd-write-fails", Area::Mtd, kWrite, EIO, Effect::Fail},
    {"mtd-short-writes", Area::Mtd, kWrite, 0, Effect::Cap},
    {"mtd-write-stalls", Area::Mtd, kWrite, 0, Effect::Cap},
};

struct OpName {
  FaultOp op;
  const char* name;
};
constexpr OpName kOpNames[] = {
    {kOpenWrite, "open"}, {kWrite, "write"},   {kFsync, "fsync"},
    {kRename, "rename"},  {kUnlink, "unlink"}, {kChmod, "chmod"},
    {kMkdir, "mkdir"},    {kErase, "erase"},   {kGetInfo, "getinfo"},
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

bool FaultSet(const char* name, unsigned long long* value) {
  char board[kPathMax];
  RequireBoard(board, sizeof board);
  char path[kPathMax + 64];
  std::snprintf(path, sizeof path, "%s/faults/%s", board, name);
  char text[32];
  if (!ReadSmallFile(path, text, sizeof text)) return false;
  if (value != nullptr) *value = std::strtoull(text, nullptr, 10);
  return true;
}

int CheckFault(FaultOp op, Area area, const char* device, std::size_t* count) {
  char board[kPathMax];
  RequireBoard(board, sizeof board);
  for (const FaultRule& rule : kRules) {
    if (rule.area != area || (rule.ops & op) == 0) continue;
    char path[kPathMax + 64];
    std::snprintf(path, sizeof path, "%s/faults/%s", board, rule.name);
    char value[32];
    if (!ReadSmallFile(path, value, sizeof value)) continue;
    const bool numbered = value[0] >= '0' && value[0] <= '9';
    const unsigned long long number = numbered ? std::strtoull(value, nullptr, 10) : 0;
    if (rule.effect == Effect::Cap && count != nullptr) {
      if (*count <= number) continue;
      *count = static_cast<std::size_t>(number);
      Log("fault %s %s %s", rule.name, NameOf(op), device);
      continue;  // cut short, not refused
    }
    if (rule.effect == Effect::Budget && count != nullptr && numbered) {
      const std::size_t wanted = *count;
      *count = DrawBudget(path, number, wanted);
      if (*count == wanted) continue;
      Log("fault %s %s %s", rule.name, NameOf(op), device);
      if (*count > 0) continue;  // cut short, not refused
      return rule.error;
    }
    if (rule.effect == Effect::Cap) continue;
    Log("fault %s %s %s", rule.name, NameOf(op), device);
    return rule.error;
  }
  return 0;
}

}  // namespace nolva::board::sim
