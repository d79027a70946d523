// The board's power cut: the step after N never happens, the process dies,
// and writes that were not synced are lost.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "tests/support/board_test.h"
#include "tests/support/power_cut.h"

namespace nolva::test {
namespace {

constexpr char kAbsent[] = "<absent>";

// open, write, sync, close, rename: five steps.
void SaveSynced() {
  const int fd = open("/flash/a.tmp", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  (void)!write(fd, "new", 3);
  fsync(fd);
  close(fd);
  rename("/flash/a.tmp", "/flash/a");
}

// open, write, close, rename, then one more step: no sync anywhere.
void SaveUnsynced() {
  const int fd = open("/flash/a.tmp", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  (void)!write(fd, "new", 3);
  close(fd);
  rename("/flash/a.tmp", "/flash/a");
  unlink("/flash/other");
}

struct CutCase {
  const char* name;
  void (*body)();
  long steps;
  bool cut;
  const char* a;     // what /flash/a holds afterwards
  const char* temp;  // what /flash/a.tmp holds
};

const CutCase kCutCases[] = {
    {"CutAtTheOpen", SaveSynced, 0, true, "old", kAbsent},
    {"CutAtTheSyncLosesTheWrite", SaveSynced, 2, true, "old", ""},
    {"CutAtTheCloseKeepsTheSyncedWrite", SaveSynced, 3, true, "old", "new"},
    {"NoCutAfterTheLastStep", SaveSynced, 5, false, "new", kAbsent},
    {"OnlyCounting", SaveSynced, -1, false, "new", kAbsent},
    {"UnsyncedWritesFollowTheRenameAndAreLost", SaveUnsynced, 4, true, "", kAbsent},
};

void PrintTo(const CutCase& c, std::ostream* out) {
  *out << c.name;
}

class PowerCut : public BoardTest, public ::testing::WithParamInterface<CutCase> {
 protected:
  std::string Held(const std::string& path) const {
    return BoardFileExists(path) ? ReadBoardFile(path) : kAbsent;
  }
};

TEST_P(PowerCut, LeavesTheFlashAsTheCutFoundIt) {
  const CutCase& c = GetParam();
  WriteBoardFile("/flash/a", "old");
  const CutRun run = RunUntilPowerCut(Board(), c.steps, c.body);
  EXPECT_EQ(run.cut, c.cut);
  EXPECT_EQ(run.killed, c.cut);
  EXPECT_EQ(run.steps, c.cut ? c.steps : 5);
  EXPECT_EQ(Held("/flash/a"), c.a);
  EXPECT_EQ(Held("/flash/a.tmp"), c.temp);
}

INSTANTIATE_TEST_SUITE_P(Steps, PowerCut, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nolva::test
