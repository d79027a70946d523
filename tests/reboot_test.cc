// Restarting the device: the reboot script, and the factory reset that
// clears the flash before it.
#include <filesystem>
#include <functional>
#include <string>

#include "store/device_manager.h"
#include "tests/device_test_support.h"
#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kScript = "sleep 5\n/sbin/reboot\n";
const std::string kScheduled = R"(reboot scheduled "sleep 5\n/sbin/reboot\n")";

class Reboot : public BoardTest {
 protected:
  std::string ScriptHostPath() const { return board::HostPath(Board(), "/tmp/.nolva_reboot"); }
  std::vector<std::string> Commands() const { return LinesStartingWith(LogLines(), "system "); }

  DeviceManager manager;
};

TEST_F(Reboot, WritesTheScriptAndStartsItInTheBackground) {
  EXPECT_EQ(manager.Reboot(kAdmin, kFactoryPassword), STATUS_OK);
  EXPECT_EQ(ReadBoardFile("/tmp/.nolva_reboot"), kScript);
  EXPECT_EQ(kScript.size(), 21u);
  EXPECT_THAT(LinesStartingWith(LogLines(), "open /tmp/"),
              ElementsAre("open /tmp/.nolva_reboot O_WRONLY|O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC "
                          "0644"));
  EXPECT_THAT(Commands(), ElementsAre("system /bin/sh /tmp/.nolva_reboot &"));
  EXPECT_THAT(LinesStartingWith(LogLines(), "reboot "), ElementsAre(kScheduled));
}

TEST_F(Reboot, ReplacesWhateverStandsAtTheScriptsPath) {
  const std::string victim = board::HostPath(Board(), "/flash/victim");
  const struct {
    const char* name;
    std::function<void()> place;
  } cases[] = {
      {"an old, longer script",
       [&] { WriteBoardFile("/tmp/.nolva_reboot", "sleep 500\n/sbin/reboot\necho done\n"); }},
      {"a link to a flash file",
       [&] { std::filesystem::create_symlink(victim, ScriptHostPath()); }},
      {"a dangling link",
       [&] { std::filesystem::create_symlink(Board() + "/flash/new", ScriptHostPath()); }},
      {"an empty directory", [&] { std::filesystem::create_directory(ScriptHostPath()); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    WriteBoardFile("/flash/victim", "keep me\n");
    c.place();
    manager.ScheduleReboot(5);
    EXPECT_FALSE(std::filesystem::is_symlink(ScriptHostPath()));
    EXPECT_EQ(ReadBoardFile("/tmp/.nolva_reboot"), kScript);
    EXPECT_EQ(ReadBoardFile("/flash/victim"), "keep me\n");
    EXPECT_FALSE(BoardFileExists("/flash/new"));
    EXPECT_THAT(LinesStartingWith(LogLines(), "reboot "), ElementsAre(kScheduled));
  }
}

TEST_F(Reboot, WithoutAWritableScriptTheShellTakesTheStepsItself) {
  const struct {
    const char* name;
    std::function<void()> prevent;
  } cases[] = {
      {"read-only /tmp", [&] { SetFault("tmp-readonly"); }},
      {"a directory that is not empty",
       [&] { std::filesystem::create_directories(ScriptHostPath() + "/inside"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    c.prevent();
    EXPECT_EQ(manager.Reboot(kAdmin, kFactoryPassword), STATUS_OK);
    EXPECT_THAT(Commands(), ElementsAre("system (sleep 5; /sbin/reboot) &"));
    EXPECT_THAT(LinesStartingWith(LogLines(), "reboot "), ElementsAre(kScheduled));
  }
}

class FactoryReset : public Reboot {};

TEST_F(FactoryReset, RemovesEveryRecordAndTheOcpFolderThenReboots) {
  for (const char* file : {"/flash/nolva_system", "/flash/nolva_service", "/flash/nolva_ocp",
                           "/flash/nolva_user", "/flash/nolva_user.tmp", "/flash/nolva_extra"})
    WriteBoardFile(file, "old");
  std::filesystem::create_directories(board::HostPath(Board(), "/flash/ocp/certs"));
  WriteBoardFile("/flash/ocp/certs/device.pem", "cert");
  WriteBoardFile("/flash/yurn_system.cfg", "config block");
  // An admin password other than the factory one, so the reset shows.
  UserTable users{};
  manager.ResetUsers(&users);
  manager.MakePasswordDigest(users.entries[0].digest, "s3cret");
  ASSERT_EQ(manager.SaveUsers(&users), 0);

  EXPECT_EQ(manager.FactoryReset(kAdmin, u"s3cret"), STATUS_OK);
  EXPECT_THAT(FlashFileNames(), ElementsAre("yurn_system.cfg"));
  EXPECT_THAT(Commands(),
              ElementsAre("system /bin/rm -f /flash/nolva_*", "system /bin/rm -r -f /flash/ocp",
                          "system /bin/sh /tmp/.nolva_reboot &"));
  EXPECT_EQ(ReadBoardFile("/tmp/.nolva_reboot"), kScript);

  EXPECT_EQ(manager.Login(kAdmin, u"s3cret"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_OK);
  EXPECT_THAT(FlashFileNames(), ElementsAre("nolva_user", "yurn_system.cfg"));
}

TEST_F(FactoryReset, OnAnEmptyFlashStillReboots) {
  EXPECT_EQ(manager.FactoryReset(kAdmin, kFactoryPassword), STATUS_OK);
  EXPECT_THAT(LinesStartingWith(LogLines(), "reboot "), ElementsAre(kScheduled));
}

}  // namespace
}  // namespace nolva::test
