// Where the board's devices must behave as the real ones do, or the device's
// code would pass here and fail on the board: NOR flash erases whole blocks,
// programs only by clearing bits and ends where the partition ends, and the
// kernel gives eth0 only a unicast, non-zero address.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-user.h>  // after sys/ioctl.h: its request codes need _IOR/_IOW

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

constexpr std::uint32_t kSize = 256 << 10;  // the test board's partitions
constexpr std::uint32_t kBlock = 4 << 10;

class Partition : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    fd = open("/dev/mtd3", O_RDWR);
    ASSERT_GT(fd, 0);
  }
  void TearDown() override { close(fd); }
  int Erase(std::uint32_t start, std::uint32_t length) const {
    erase_info_user request{start, length};
    return ioctl(fd, MEMERASE, &request) == 0 ? 0 : errno;
  }

  int fd = -1;
};

TEST_F(Partition, EraseTakesWholeBlocksInsideThePartitionOnly) {
  const struct {
    const char* name;
    std::uint32_t start;
    std::uint32_t length;
    int error;
  } cases[] = {
      {"two blocks inside", kBlock, 2 * kBlock, 0},
      {"the last block", kSize - kBlock, kBlock, 0},
      {"the whole partition", 0, kSize, 0},
      {"start inside a block", 1, kBlock, EINVAL},
      {"length not whole blocks", 0, kBlock + 1, EINVAL},
      {"start at the end", kSize, kBlock, EINVAL},
      {"reaching past the end", kSize - kBlock, 2 * kBlock, EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::WritePartition(Board(), "/dev/mtd3", 0, std::string(kSize, '\0'));
    EXPECT_EQ(Erase(c.start, c.length), c.error);
    std::string expected(kSize, '\0');
    if (c.error == 0) expected.replace(c.start, c.length, c.length, '\xFF');
    EXPECT_EQ(ReadBoardFile("/dev/mtd3"), expected);
  }
}

TEST_F(Partition, WritesOnlyClearBitsUntilErased) {
  ASSERT_EQ(write(fd, "\xF0\x0F", 2), 2);
  ASSERT_EQ(pwrite(fd, "\x3C\xFF", 2, 0), 2);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, 3), "\x30\x0F\xFF");
  ASSERT_EQ(Erase(0, kBlock), 0);
  ASSERT_EQ(pwrite(fd, "\x3C", 1, 0), 1);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, 2), "\x3C\xFF");
}

TEST_F(Partition, NothingPassesItsEnd) {
  ASSERT_EQ(lseek(fd, kSize - 2, SEEK_SET), static_cast<off_t>(kSize - 2));
  EXPECT_EQ(write(fd, "\x01\x02\x03", 3), 2);
  EXPECT_EQ(write(fd, "x", 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  char buffer[8];
  EXPECT_EQ(pread(fd, buffer, sizeof buffer, kSize - 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "\xFF\x01\x02");
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").size(), kSize);
}

class Eth0 : public BoardTest {};

TEST_F(Eth0, IfconfigSetsOnlyAnAddressTheKernelAccepts) {
  const std::string kOld = "02:00:00:00:00:01\n";
  const std::string kRefused = "ifconfig: SIOCSIFHWADDR: Cannot assign requested address\n";
  const struct {
    const char* name;
    const char* mac;
    std::string error;  // on standard error; none when taken
  } cases[] = {
      {"unicast", "0a:1b:2c:3d:4e:5f", ""},
      {"unicast with zeros", "00:00:00:00:00:01", ""},
      {"all zero", "00:00:00:00:00:00", kRefused},
      {"multicast", "01:00:5e:00:00:01", kRefused},
      {"broadcast", "ff:ff:ff:ff:ff:ff", kRefused},
      {"too short", "0a:1b:2c", "ifconfig: invalid hardware address\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::WriteFile(Board() + "/eth0/hwaddr", kOld);
    ::testing::internal::CaptureStderr();
    const int status = std::system((std::string("ifconfig eth0 hw ether ") + c.mac).c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.error);
    EXPECT_EQ(status, c.error.empty() ? 0 : 1 << 8);
    EXPECT_EQ(board::ReadFile(Board() + "/eth0/hwaddr"),
              c.error.empty() ? std::string(c.mac) + "\n" : kOld);
  }
}

}  // namespace
}  // namespace nolva::test
