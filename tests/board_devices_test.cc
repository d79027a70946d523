// The board's flash partitions, interface address, USB list and reboots,
// as the device operations meet them, and how the tool shows them.
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mtd/mtd-user.h>  // after sys/ioctl.h: its request codes need _IOR/_IOW

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/device_test_support.h"
#include "tests/support/board_test.h"

extern "C" int __ioctl_time64(int fd, unsigned long request, ...);

namespace nolva::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint32_t kSize = 256 << 10;  // the test board's partitions
constexpr std::uint32_t kBlock = 4 << 10;

int Errno(long result) {
  return result < 0 ? errno : 0;
}

class Partition : public BoardTest {
 protected:
  void TearDown() override {
    if (fd > 0) close(fd);
  }
  int Erase(std::uint32_t start, std::uint32_t length) const {
    erase_info_user request{start, length};
    return Errno(ioctl(fd, MEMERASE, &request));
  }

  int fd = -1;
};

TEST_F(Partition, ReportsItsNorGeometry) {
  fd = open("/dev/mtd4", O_RDONLY);
  ASSERT_GT(fd, 0);
  mtd_info_user info{};
  ASSERT_EQ(ioctl(fd, MEMGETINFO, &info), 0);
  EXPECT_EQ(info.type, MTD_NORFLASH);
  EXPECT_EQ(info.size, kSize);
  EXPECT_EQ(info.erasesize, kBlock);
  EXPECT_EQ(info.writesize, 1u);
  info = {};
  ASSERT_EQ(__ioctl_time64(fd, 0x80204D01ul, &info), 0);
  EXPECT_EQ(info.erasesize, kBlock);
  EXPECT_EQ(Errno(ioctl(fd, MEMLOCK, &info)), ENOTTY);
}

TEST_F(Partition, EraseTakesWholeBlocksInsideThePartitionOnly) {
  fd = open("/dev/mtd3", O_RDWR);
  ASSERT_GT(fd, 0);
  const struct {
    std::uint32_t start;
    std::uint32_t length;
    int error;
  } cases[] = {
      {0, kBlock, 0},
      {kBlock, 2 * kBlock, 0},
      {kSize - kBlock, kBlock, 0},
      {0, kSize, 0},
      {1, kBlock, EINVAL},
      {0, kBlock + 1, EINVAL},
      {0, kSize + kBlock, EINVAL},
      {kSize, kBlock, EINVAL},
      {kSize - kBlock, 2 * kBlock, EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + " +" + std::to_string(c.length));
    board::WritePartition(Board(), "/dev/mtd3", 0, std::string(kSize, '\0'));
    EXPECT_EQ(Erase(c.start, c.length), c.error);
    const std::string expected = c.error != 0
                                     ? std::string(kSize, '\0')
                                     : std::string(c.start, '\0') + std::string(c.length, '\xFF') +
                                           std::string(kSize - c.start - c.length, '\0');
    EXPECT_EQ(ReadBoardFile("/dev/mtd3"), expected);
  }
  close(fd);
  fd = open("/dev/mtd3", O_RDONLY);
  EXPECT_EQ(Erase(0, kBlock), EPERM);
}

TEST_F(Partition, WritesOnlyClearBitsAsNorFlashDoes) {
  fd = open("/dev/mtd3", O_RDWR);
  ASSERT_GT(fd, 0);
  ASSERT_EQ(write(fd, "\xF0\x0F", 2), 2);
  ASSERT_EQ(pwrite(fd, "\x3C\xFF", 2, 0), 2);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, 3), "\x30\x0F\xFF");
  ASSERT_EQ(Erase(0, kBlock), 0);
  ASSERT_EQ(pwrite64(fd, "\x3C", 1, 0), 1);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, 2), "\x3C\xFF");
}

TEST_F(Partition, NothingPassesItsEnd) {
  fd = open("/dev/mtd3", O_RDWR);
  ASSERT_GT(fd, 0);
  char buffer[8];
  EXPECT_EQ(lseek(fd, 0, SEEK_END), static_cast<off_t>(kSize));
  EXPECT_EQ(read(fd, buffer, sizeof buffer), 0);
  EXPECT_EQ(Errno(write(fd, "abc", 3)), ENOSPC);
  EXPECT_EQ(Errno(lseek(fd, 1, SEEK_END)), EINVAL);
  EXPECT_EQ(Errno(lseek64(fd, -1, SEEK_SET)), EINVAL);
  EXPECT_EQ(lseek64(fd, -2, SEEK_END), static_cast<off64_t>(kSize - 2));
  EXPECT_EQ(write(fd, "\x01\x02\x03", 3), 2);
  EXPECT_EQ(pread(fd, buffer, sizeof buffer, kSize - 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "\xFF\x01\x02");
  EXPECT_EQ(pread64(fd, buffer, sizeof buffer, kSize + 10), 0);
  EXPECT_EQ(Errno(pwrite64(fd, "x", 1, kSize)), ENOSPC);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").size(), kSize);
}

// --- eth0, the USB list, reboots ----------------------------------------------

class Interface : public BoardTest {};

TEST_F(Interface, HardwareAddressIsAnsweredOnAnInetDatagramSocketOnly) {
  const struct {
    const char* name;
    bool eth0;
    int fd;
    int error;
  } cases[] = {
      {"AF_INET datagram", true, socket(AF_INET, SOCK_DGRAM, 0), 0},
      {"AF_INET stream", true, socket(AF_INET, SOCK_STREAM, 0), ENOTTY},
      {"AF_UNIX datagram", true, socket(AF_UNIX, SOCK_DGRAM, 0), ENOTTY},
      {"a directory", true, open("/flash", O_RDONLY | O_DIRECTORY), ENOTTY},
      {"a board without eth0", false, socket(AF_INET, SOCK_DGRAM, 0), ENODEV},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::BoardOptions options = Options();
    options.eth0 = c.eth0;
    board::CreateBoard(Board(), options);
    ifreq request{};
    std::strcpy(request.ifr_name, "eth0");
    EXPECT_EQ(Errno(ioctl(c.fd, SIOCGIFHWADDR, &request)), c.error);
    close(c.fd);
  }
}

class RebootScript : public BoardTest {};

TEST_F(RebootScript, ShellRunRecordsTheScriptAsItStandsThen) {
  WriteBoardFile("/tmp/.nolva_reboot", "sleep 7\n/sbin/reboot\n");
  EXPECT_EQ(std::system("/bin/sh /tmp/.nolva_reboot &"), 0);
  WriteBoardFile("/tmp/.nolva_reboot", "echo changed\n");
  EXPECT_EQ(std::system("(sleep 3; /sbin/reboot) &"), 0);
  EXPECT_EQ(std::system("(sleep 3; /sbin/halt) &"), 127 << 8);
  std::remove(board::HostPath(Board(), "/tmp/.nolva_reboot").c_str());
  EXPECT_EQ(std::system("/bin/sh /tmp/.nolva_reboot &"), 0);
  EXPECT_THAT(LinesStartingWith(LogLines(), "reboot "),
              ElementsAre(R"(reboot scheduled "sleep 7\n/sbin/reboot\n")",
                          R"(reboot scheduled "sleep 3\n/sbin/reboot\n")",
                          "reboot not scheduled: unknown steps",
                          "reboot not scheduled: /tmp/.nolva_reboot cannot be read"));
}

// --- the tool -------------------------------------------------------------------

class ToolOnBoard : public BoardTest {
 protected:
  ProgramResult RunTool(const std::vector<std::string>& args) const {
    return RunProgram(BoardTool(), args, {"LD_PRELOAD="});
  }
};

TEST_F(ToolOnBoard, NewSetsPartitionGeometryAndTheUsbList) {
  const std::string list = Board() + "/../usb-list";
  board::WriteFile(list, "T:  Bus=01 Lev=02 Prnt=02 Port=01\n");
  ASSERT_EQ(
      RunTool({"new", Board(), "--mtd-size", "64K", "--mtd-erase-size", "16384", "--usb", list})
          .exitStatus,
      0);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3"), std::string(64 << 10, '\xFF'));
  EXPECT_EQ(ReadBoardFile("/proc/bus/usb/devices"), "T:  Bus=01 Lev=02 Prnt=02 Port=01\n");
  const int fd = open("/dev/mtd4", O_RDONLY);
  mtd_info_user info{};
  EXPECT_EQ(ioctl(fd, MEMGETINFO, &info), 0);
  close(fd);
  EXPECT_EQ(info.size, 64u << 10);
  EXPECT_EQ(info.erasesize, 16u << 10);

  board::WriteFile(list, "changed\n");
  EXPECT_EQ(RunTool({"usb", Board(), list}).exitStatus, 0);
  EXPECT_EQ(ReadBoardFile("/proc/bus/usb/devices"), "changed\n");
  std::filesystem::remove(list);
}

TEST_F(ToolOnBoard, NewRefusesGeometryFlashCannotHave) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--mtd-size", "100K", "--mtd-erase-size", "64K"},
        {"--mtd-erase-size", "0"},
        {"--mtd-size", "5G"},
        {"--mtd-size", "-4K"},
        {"--mtd-size", "12Q"}}) {
    SCOPED_TRACE(options[1]);
    std::vector<std::string> args = {"new", Board()};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(RunTool(args).exitStatus, 2);
  }
}

TEST_F(ToolOnBoard, ShowSummarisesPartitionsSleepsAndReboots) {
  const int fd = open("/dev/mtd3", O_RDWR);
  erase_info_user request{0, 2 * kBlock};
  ASSERT_EQ(ioctl(fd, MEMERASE, &request), 0);
  ASSERT_EQ(write(fd, "abcdef", 6), 6);
  ASSERT_EQ(write(fd, "gh", 2), 2);
  char buffer[8];
  ASSERT_EQ(pread(fd, buffer, 8, 0), 8);
  close(fd);
  usleep(10000000);
  WriteBoardFile("/tmp/.nolva_reboot", "sleep 5\n/sbin/reboot\n");
  ASSERT_EQ(std::system("/bin/sh /tmp/.nolva_reboot &"), 0);
  const ProgramResult result = RunTool({"show", Board()});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_THAT(result.out, HasSubstr("flash partitions:\n"
                                    "  /dev/mtd3\n"
                                    "      erase 0 +8192\n"
                                    "      writes: 2 (8 bytes): 6 2\n"
                                    "      reads: 1 (8 bytes)\n"
                                    "sleeps:\n"
                                    "  10000000 us\n"
                                    "reboots:\n"
                                    "  scheduled \"sleep 5\\n/sbin/reboot\\n\"\n"));
}

}  // namespace
}  // namespace nolva::test
