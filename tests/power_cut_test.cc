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
    {"CutAtTheWrite", SaveSynced, 1, true, "old", ""},
    {"CutAtTheSyncLosesTheWrite", SaveSynced, 2, true, "old", ""},
    {"CutAtTheCloseKeepsTheSyncedWrite", SaveSynced, 3, true, "old", "new"},
    {"CutAtTheRename", SaveSynced, 4, true, "old", "new"},
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

class PowerCutRun : public BoardTest {};

TEST_F(PowerCutRun, IsLoggedWithTheStepThatNeverHappened) {
  RunUntilPowerCut(Board(), 1, SaveSynced);
  EXPECT_THAT(LogLines(), ::testing::Contains("power-cut write /flash/a.tmp"));
  EXPECT_THAT(LogLines(), ::testing::Not(::testing::Contains("write /flash/a.tmp 3")));
}

TEST_F(PowerCutRun, ReachesAProgramRunOnTheBoard) {
  const CutRun run = RunUntilPowerCut(Board(), 0, [this] {
    const ProgramResult result = RunProgram(BoardProbe(), {"write", "/flash/x", "data"});
    _exit(result.exitStatus == 128 + 9 ? 0 : 1);
  });
  EXPECT_TRUE(run.cut);
  EXPECT_FALSE(run.killed);
  EXPECT_FALSE(BoardFileExists("/flash/x"));
}

}  // namespace
}  // namespace nolva::test
