// The simulated board itself: paths, devices, shell commands, faults and
// the refusal to reach the host.
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/board_test.h"

extern "C" int __ioctl_time64(int fd, unsigned long request, ...);

namespace nolva::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr unsigned long kGpioReset = 0x5500;
constexpr unsigned long kGpioPortConfig = 0x5541;

bool Logged(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Runs `body` with standard output going to a pipe and returns what it wrote.
std::string CaptureStdout(const std::function<void()>& body) {
  std::fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) return "<pipe failed>";
  const int saved = dup(1);
  dup2(fds[1], 1);
  close(fds[1]);
  body();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  return out;
}

int WriteText(const char* path, const char* text) {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) return errno;
  std::fputs(text, file);
  return std::fclose(file) == 0 ? 0 : errno;
}

// --- paths -----------------------------------------------------------------

class BoardPaths : public BoardTest {};

TEST_F(BoardPaths, DeviceSpellingsLandInTheBoard) {
  const struct {
    const char* path;
    const char* device;
  } cases[] = {
      {"/flash/x", "/flash/x"},
      {"//flash/./x", "/flash/x"},
      {"/tmp/../flash/sub/../y", "/flash/y"},
      {"/etc/network/interfaces", "/etc/network/interfaces"},
      {"/tmp/.nolva_reboot", "/tmp/.nolva_reboot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_EQ(WriteText(c.path, c.path), 0);
    EXPECT_EQ(ReadBoardFile(c.device), c.path);
  }
}

TEST_F(BoardPaths, EveryOpenEntryLandsInTheBoardAndIsLogged) {
  const struct {
    const char* name;
    std::function<int(const char*)> open;
  } cases[] = {
      {"open", [](const char* p) { return open(p, O_WRONLY | O_CREAT | O_TRUNC, 0644); }},
      {"open64", [](const char* p) { return open64(p, O_WRONLY | O_CREAT | O_TRUNC, 0644); }},
      {"openat",
       [](const char* p) { return openat(AT_FDCWD, p, O_WRONLY | O_CREAT | O_TRUNC, 0644); }},
      {"creat", [](const char* p) { return creat(p, 0644); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string device = std::string("/flash/") + c.name;
    const int fd = c.open(device.c_str());
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(write(fd, "abc", 3), 3);
    ASSERT_EQ(close(fd), 0);
    EXPECT_EQ(ReadBoardFile(device), "abc");
    const auto lines = LogLines();
    EXPECT_TRUE(Logged(lines, "open " + device + " O_WRONLY|O_CREAT|O_TRUNC 0644"));
    EXPECT_TRUE(Logged(lines, "write " + device + " 3"));
    EXPECT_TRUE(Logged(lines, "close " + device));
  }
}

TEST_F(BoardPaths, StreamsAreLoggedWithTheirMode) {
  FILE* file = fopen64("/flash/nolva_system", "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 16u);
  ASSERT_EQ(std::fclose(file), 0);
  file = std::fopen("/flash/nolva_system", "rb");
  ASSERT_NE(file, nullptr);
  char back[17] = {};
  EXPECT_EQ(std::fread(back, 1, 16, file), 16u);
  std::fclose(file);
  EXPECT_STREQ(back, "0123456789abcdef");
  EXPECT_THAT(LogLines(), ElementsAre("open /flash/nolva_system wb", "write /flash/nolva_system 16",
                                      "close /flash/nolva_system", "open /flash/nolva_system rb"));
}

TEST_F(BoardPaths, NameOperationsWorkInsideTheBoard) {
  ASSERT_EQ(mkdir("/flash/ocp", 0755), 0);
  ASSERT_EQ(WriteText("/flash/ocp/a", "a"), 0);
  ASSERT_EQ(rename("/flash/ocp/a", "/flash/ocp/b"), 0);
  ASSERT_EQ(chmod("/flash/ocp/b", 0600), 0);
  struct stat st;
  ASSERT_EQ(stat("/flash/ocp/b", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(access("/flash/ocp/b", F_OK), 0);
  EXPECT_EQ(access("/flash/ocp/a", F_OK), -1);
  DIR* dir = opendir("/flash/ocp");
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir))
    names.emplace_back(entry->d_name);
  closedir(dir);
  EXPECT_NE(std::find(names.begin(), names.end(), "b"), names.end());
  ASSERT_EQ(unlink("/flash/ocp/b"), 0);
  EXPECT_FALSE(BoardFileExists("/flash/ocp/b"));
  const auto lines = LogLines();
  EXPECT_TRUE(Logged(lines, "mkdir /flash/ocp 0755"));
  EXPECT_TRUE(Logged(lines, "rename /flash/ocp/a /flash/ocp/b"));
  EXPECT_TRUE(Logged(lines, "chmod /flash/ocp/b 0600"));
  EXPECT_TRUE(Logged(lines, "unlink /flash/ocp/b"));
}

TEST_F(BoardPaths, HostPathsPassThroughUnlogged) {
  const std::string host = Board() + "/../host-file";
  ASSERT_EQ(WriteText(host.c_str(), "host"), 0);
  EXPECT_EQ(board::ReadFile(host), "host");
  EXPECT_TRUE(LogLines().empty());
  std::remove(host.c_str());
}

// --- GPIO ------------------------------------------------------------------

class Gpio : public BoardTest {};

TEST_F(Gpio, RequestsAreAnsweredByTheBoardAndLogged) {
  const int fd = open("/dev/gpio", O_RDWR);
  ASSERT_GT(fd, 0);
  EXPECT_EQ(ioctl(fd, kGpioReset), 0);
  std::uint32_t block[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00400000, 0xC03F300F, 0x06FED22F};
  EXPECT_EQ(ioctl(fd, kGpioPortConfig, block), 0);
  errno = 0;
  EXPECT_EQ(ioctl(fd, 0x5542ul, block), -1);
  EXPECT_EQ(errno, EINVAL);
  block[0] = 0xdeadbeef;
  EXPECT_EQ(__ioctl_time64(fd, kGpioPortConfig, block), 0);
  ASSERT_EQ(close(fd), 0);
  const std::string zeros8 =
      " 0x00000000 0x00000000 0x00000000 0x00000000 0x00000000 0x00000000 0x00000000 0x00000000";
  EXPECT_THAT(LogLines(), ElementsAre("open /dev/gpio O_RDWR", "gpio ioctl 0x5500",
                                      "gpio ioctl 0x5541" + zeros8 +
                                          " 0x00000000 0x00400000 0xc03f300f 0x06fed22f",
                                      "gpio ioctl 0x5542 (rejected)",
                                      "gpio ioctl 0x5541 0xdeadbeef" + zeros8.substr(11) +
                                          " 0x00000000 0x00400000 0xc03f300f 0x06fed22f",
                                      "close /dev/gpio"));
}

TEST_F(Gpio, BoardRequestsOnOtherDescriptorsAreNotForwarded) {
  errno = 0;
  EXPECT_EQ(ioctl(0, kGpioReset), -1);
  EXPECT_EQ(errno, ENOTTY);
}

class NoGpio : public BoardTest {
  board::BoardOptions Options() const override {
    board::BoardOptions options = TestBoardOptions();
    options.gpio = false;
    return options;
  }
};

TEST_F(NoGpio, DeviceIsMissingAndCannotBeCreated) {
  errno = 0;
  EXPECT_EQ(open("/dev/gpio", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(open("/dev/gpio", O_RDWR | O_CREAT, 0666), -1);
  EXPECT_FALSE(BoardFileExists("/dev/gpio"));
}

// --- shell commands, sleeps, interface address -----------------------------

class System : public BoardTest {};

TEST_F(System, KnownCommandsAreEmulatedUnknownOnesNotRun) {
  const std::string ran = Board() + "/ran";
  const std::string unknown = "touch " + ran;
  const struct {
    std::string command;
    int status;
    std::string logLine;
  } cases[] = {
      {"ifconfig eth0 hw ether 0a:1b:2c:3d:4e:5f", 0,
       "system ifconfig eth0 hw ether 0a:1b:2c:3d:4e:5f"},
      {"ifconfig eth0 hw ether 0a:1b", 1 << 8, "system ifconfig eth0 hw ether 0a:1b"},
      {"/sbin/ifup -a", 0, "system /sbin/ifup -a"},
      {"/sbin/ifup -a ", 127 << 8, "system (not run) /sbin/ifup -a "},
      {unknown, 127 << 8, "system (not run) " + unknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(std::system(c.command.c_str()), c.status);
    EXPECT_EQ(LogLines().back(), c.logLine);
  }
  EXPECT_EQ(board::ReadFile(Board() + "/eth0/hwaddr"), "0a:1b:2c:3d:4e:5f\n");
  EXPECT_FALSE(board::FileExists(ran));
}

TEST_F(System, CatShowsTheBoardsInterfacesFile) {
  WriteBoardFile("/etc/network/interfaces", "auto lo eth0\n");
  int status = -1;
  const std::string out = CaptureStdout([&] {
    std::printf("before\n");
    status = std::system("/bin/cat /etc/network/interfaces");
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "before\nauto lo eth0\n");
}

TEST_F(System, FactoryResetCommandsRemoveOnlyTheirFiles) {
  WriteBoardFile("/flash/nolva_system", "x");
  WriteBoardFile("/flash/nolva_user", "x");
  WriteBoardFile("/flash/yurn_system.cfg", "x");
  ASSERT_EQ(mkdir("/flash/ocp", 0755), 0);
  ASSERT_EQ(mkdir("/flash/ocp/deep", 0755), 0);
  WriteBoardFile("/flash/ocp/deep/f", "x");
  EXPECT_EQ(std::system("/bin/rm -f /flash/nolva_*"), 0);
  EXPECT_EQ(std::system("/bin/rm -r -f /flash/ocp"), 0);
  EXPECT_EQ(std::system("/bin/rm -r -f /flash/ocp"), 0);  // already gone: rm -f is content
  EXPECT_FALSE(BoardFileExists("/flash/nolva_system"));
  EXPECT_FALSE(BoardFileExists("/flash/nolva_user"));
  EXPECT_FALSE(BoardFileExists("/flash/ocp"));
  EXPECT_TRUE(BoardFileExists("/flash/yurn_system.cfg"));
}

TEST_F(System, UsleepReturnsAtOnceAndIsLogged) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(usleep(5'000'000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_THAT(LogLines(), ElementsAre("usleep 5000000"));
}

// As the kernel: only a unicast, non-zero address is taken; eth0 keeps its
// address otherwise.
TEST_F(System, IfconfigSetsOnlyAnAddressTheKernelAccepts) {
  const std::string kOld = "02:00:00:00:00:01\n";
  const std::string kRefused = "ifconfig: SIOCSIFHWADDR: Cannot assign requested address\n";
  const struct {
    const char* mac;
    std::string error;  // on standard error; none when taken
  } cases[] = {
      {"0a:1b:2c:3d:4e:5f", ""},       {"00:00:00:00:00:01", ""},
      {"00:00:00:00:00:00", kRefused}, {"01:00:5e:00:00:01", kRefused},
      {"ff:ff:ff:ff:ff:ff", kRefused}, {"0a:1b:2c", "ifconfig: invalid hardware address\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mac);
    board::WriteFile(Board() + "/eth0/hwaddr", kOld);
    ::testing::internal::CaptureStderr();
    const int status = std::system((std::string("ifconfig eth0 hw ether ") + c.mac).c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.error);
    EXPECT_EQ(status, c.error.empty() ? 0 : 1 << 8);
    EXPECT_EQ(board::ReadFile(Board() + "/eth0/hwaddr"),
              c.error.empty() ? std::string(c.mac) + "\n" : kOld);
  }
}

class NoEth0 : public BoardTest {
  board::BoardOptions Options() const override {
    board::BoardOptions options = TestBoardOptions();
    options.eth0 = false;
    return options;
  }
};

TEST_F(NoEth0, IfconfigFails) {
  EXPECT_EQ(std::system("ifconfig eth0 hw ether 0a:1b:2c:3d:4e:5f"), 1 << 8);
  EXPECT_FALSE(board::FileExists(Board() + "/eth0"));
}

// --- faults ----------------------------------------------------------------

class Faults : public BoardTest {};

int Errno(int result) {
  return result < 0 ? errno : 0;
}

TEST_F(Faults, EachFaultFailsItsOperationsOnly) {
  const struct {
    const char* fault;
    const char* action;
    std::function<int()> run;  // errno seen, 0 for success
    int expected;
  } cases[] = {
      {"flash-readonly", "fopen w", [] { return WriteText("/flash/new", "x"); }, EROFS},
      {"flash-readonly", "open creat",
       [] { return Errno(open("/flash/new", O_WRONLY | O_CREAT, 0644)); }, EROFS},
      {"flash-readonly", "rename", [] { return Errno(rename("/flash/old", "/flash/new")); }, EROFS},
      {"flash-readonly", "unlink", [] { return Errno(unlink("/flash/old")); }, EROFS},
      {"flash-readonly", "chmod", [] { return Errno(chmod("/flash/old", 0600)); }, EROFS},
      {"flash-readonly", "mkdir", [] { return Errno(mkdir("/flash/ocp", 0755)); }, EROFS},
      {"flash-readonly", "read still works", [] { return Errno(open("/flash/old", O_RDONLY)); }, 0},
      {"flash-readonly", "interfaces still writable",
       [] { return WriteText("/etc/network/interfaces", "x"); }, 0},
      {"flash-full", "write",
       [] {
         const int fd = open("/flash/old", O_WRONLY);
         const int error = Errno(static_cast<int>(write(fd, "x", 1)));
         close(fd);
         return error;
       },
       ENOSPC},
      {"flash-full", "stream write shows at fclose", [] { return WriteText("/flash/new", "x"); },
       ENOSPC},
      {"flash-fsync-fails", "fsync",
       [] {
         const int fd = open("/flash/old", O_RDONLY);
         const int error = Errno(fsync(fd));
         close(fd);
         return error;
       },
       EIO},
      {"flash-fsync-fails", "fdatasync of the directory",
       [] {
         const int fd = open("/flash", O_RDONLY | O_DIRECTORY);
         const int error = Errno(fdatasync(fd));
         close(fd);
         return error;
       },
       EIO},
      {"flash-rename-fails", "rename", [] { return Errno(rename("/flash/old", "/flash/new")); },
       EIO},
      {"flash-rename-fails", "write still works", [] { return WriteText("/flash/new", "x"); }, 0},
      {"interfaces-readonly", "fopen w", [] { return WriteText("/etc/network/interfaces", "x"); },
       EROFS},
      {"interfaces-readonly", "flash still writable", [] { return WriteText("/flash/new", "x"); },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + ": " + c.action);
    board::CreateBoard(Board(), Options());
    WriteBoardFile("/flash/old", "old");
    SetFault(c.fault);
    EXPECT_EQ(c.run(), c.expected) << std::strerror(c.expected);
    EXPECT_EQ(ReadBoardFile("/flash/old"), "old");
    ClearFault(c.fault);
    EXPECT_EQ(c.run(), 0) << "after clearing";
  }
}

TEST_F(Faults, FlashFullBudgetIsSharedAndCutsTheStraddlingWrite) {
  SetFault("flash-full", "10");
  const int fd = open("/flash/x", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "abcdef", 6), 6);
  EXPECT_EQ(write(fd, "ghijkl", 6), 4);
  errno = 0;
  EXPECT_EQ(write(fd, "m", 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  close(fd);
  EXPECT_EQ(ReadBoardFile("/flash/x"), "abcdefghij");
  EXPECT_TRUE(Logged(LogLines(), "fault flash-full write /flash/x"));
  // Another process on the board draws from the same, now empty, budget.
  EXPECT_EQ(RunProgram(BoardProbe(), {"write", "/flash/y", "y"}).exitStatus, 4);
  SetFault("flash-full", "10");  // setting it again starts a new budget
  EXPECT_EQ(RunProgram(BoardProbe(), {"write", "/flash/y", "y"}).exitStatus, 0);
}

// --- refusing to reach the host --------------------------------------------

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
  for (const char* env : {"", notBoard.c_str(), "relative/board"}) {
    for (const auto& action : actions) {
      SCOPED_TRACE(std::string(action.name) + " with NOLVA_BOARD=" + env);
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
  const ProgramResult result = RunProgram(BoardProbe(), {"write", "/flash/hello", "hi"},
                                          {"NOLVA_BOARD=" + Board() + "/flash"});
  EXPECT_EQ(result.exitStatus, 70);
  EXPECT_FALSE(BoardFileExists("/flash/hello"));
}

// --- threads, preloading and the tool ----------------------------------------

TEST_F(BoardPaths, ConcurrentWritersKeepLogLinesWhole) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string path = "/flash/t" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd < 0) return;
        (void)!write(fd, "x", 1);
        close(fd);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const auto lines = LogLines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kRounds * 3));
  for (const std::string& line : lines)
    EXPECT_TRUE(line.rfind("open /flash/t", 0) == 0 || line.rfind("write /flash/t", 0) == 0 ||
                line.rfind("close /flash/t", 0) == 0)
        << line;
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(ReadBoardFile("/flash/t" + std::to_string(t)), std::string(kRounds, 'x'));
}

class Tool : public BoardTest {};

TEST_F(Tool, RunPreloadsTheBoardAndSummarises) {
  const ProgramResult result = RunProgram(
      BoardTool(), {"run", Board(), "--", BoardProbe(), "write", "/flash/hello", "hi", "exit", "3"},
      {"LD_PRELOAD="});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(ReadBoardFile("/flash/hello"), "hi");
  EXPECT_THAT(result.out, HasSubstr("/flash/hello  2 bytes\n      68 69\n"));
}

TEST_F(Tool, RefusesDirectoriesThatAreNotBoards) {
  const std::string notBoard = Board() + "/flash";
  for (const char* command : {"run", "show"}) {
    SCOPED_TRACE(command);
    const ProgramResult result =
        RunProgram(BoardTool(), {command, notBoard, "--", BoardProbe()}, {"LD_PRELOAD="});
    EXPECT_EQ(result.exitStatus, 2);
  }
}

}  // namespace
}  // namespace nolva::test
