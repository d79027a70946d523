// The simulated board never lets the device's code reach the host: without
// an active board nothing runs, and with one every spelling of a device path
// lands in the board and no shell command or device request reaches the host.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

constexpr unsigned long kGpioReset = 0x5500;

int WriteText(const char* path, const char* text) {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) return errno;
  std::fputs(text, file);
  return std::fclose(file) == 0 ? 0 : errno;
}

class Refusal : public BoardTest {};

TEST_F(Refusal, NothingRunsWithoutAnActiveBoard) {
  const std::string ran = Board() + "/ran";
  const std::string touch = "touch " + ran;
  const std::string notBoard = Board() + "/flash";
  const struct {
    const char* name;
    std::function<void()> run;
  } actions[] = {
      {"fopen", [] { std::fopen("/flash/x", "w"); }},
      {"open", [] { open("/etc/network/interfaces", O_WRONLY | O_CREAT, 0644); }},
      {"unlink", [] { unlink("/tmp/.nolva_reboot"); }},
      {"stat",
       [] {
         struct stat st;
         stat("/flash", &st);
       }},
      {"system", [&] { std::system(touch.c_str()); }},
      {"usleep", [] { usleep(1); }},
      {"ioctl", [] { ioctl(0, kGpioReset); }},
  };
  const struct {
    const char* name;
    const char* value;
  } boards[] = {
      {"no board", ""},
      {"a folder that is no board", notBoard.c_str()},
      {"a relative path", "relative/board"},
  };
  for (const auto& [boardName, env] : boards) {
    for (const auto& action : actions) {
      SCOPED_TRACE(std::string(action.name) + " with " + boardName);
      EXPECT_EXIT(
          {
            if (env[0] == '\0')
              unsetenv("NOLVA_BOARD");
            else
              setenv("NOLVA_BOARD", env, 1);
            action.run();
            _exit(0);
          },
          ::testing::ExitedWithCode(70), "no simulated board is active");
    }
  }
  EXPECT_FALSE(board::FileExists(ran));
}

TEST_F(Refusal, PreloadedProgramStopsBeforeMain) {
  const ProgramResult result =
      RunProgram(BoardProbe(), {"/flash/hello", "hi"}, {"NOLVA_BOARD=" + Board() + "/flash"});
  EXPECT_EQ(result.exitStatus, 70);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(BoardFileExists("/flash/hello"));
}

class OnTheBoard : public BoardTest {};

TEST_F(OnTheBoard, EverySpellingOfADevicePathLandsInTheBoard) {
  const struct {
    const char* name;
    const char* path;
    const char* device;
  } cases[] = {
      {"doubled slash and dot", "//flash/./x", "/flash/x"},
      {"dot-dot in and out", "/tmp/../flash/sub/../y", "/flash/y"},
      {"interfaces file", "/etc/network/interfaces", "/etc/network/interfaces"},
      {"reboot script", "/tmp/.nolva_reboot", "/tmp/.nolva_reboot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(WriteText(c.path, c.path), 0);
    EXPECT_EQ(ReadBoardFile(c.device), c.path);
  }
}

TEST_F(OnTheBoard, NoShellCommandOrDeviceRequestReachesTheHost) {
  const std::string ran = Board() + "/ran";
  const struct {
    const char* name;
    std::string command;
  } commands[] = {
      {"a command", "touch " + ran},
      {"a host command before it", "/sbin/ifup -a; touch " + ran},
  };
  for (const auto& [name, command] : commands) {
    SCOPED_TRACE(name);
    EXPECT_EQ(std::system(command.c_str()), 127 << 8);
    EXPECT_EQ(LogLines().back(), "system (not run) " + command);
  }
  EXPECT_FALSE(board::FileExists(ran));
  errno = 0;
  EXPECT_EQ(ioctl(0, kGpioReset), -1) << "a GPIO request on a host descriptor";
  EXPECT_EQ(errno, ENOTTY);
}

}  // namespace
}  // namespace nolva::test
