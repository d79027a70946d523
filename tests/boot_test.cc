// The boot program, run as a process on the board, and its raw file routines.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

const std::string kDhcpInterfaces =
    "auto lo eth0\n"
    "iface lo inet loopback\n"
    "iface eth0 inet dhcp\n";
const std::string kStaticInterfaces =
    "auto lo eth0\n"
    "iface lo inet loopback\n"
    "iface eth0 inet static\n"
    "\taddress 10.0.0.5\n"
    "\tnetmask 255.0.0.0\n"
    "\tgateway 10.0.0.1\n";
const std::string kZeroMacLine = "ifconfig eth0 hw ether 00:00:00:00:00:00\n";

class Boot : public DeviceTest {
 protected:
  ProgramResult RunBoot() { return RunProgram(NOLVA_BOOT_PATH); }
};

TEST_F(Boot, RendersTheInterfacesFileFromTheStoredRecord) {
  const std::string dhcp2 = std::string("\x02", 1) + kNetworkStaticBytes.substr(1);
  const struct {
    const char* name;
    std::string stored;  // empty: no record
    bool dhcp;
    std::string interfaces;
    std::string recordAfter;
  } cases[] = {
      {"first boot stores the defaults", "", true, kDhcpInterfaces, kNetworkDefaultBytes},
      {"static", kNetworkStaticBytes, false, kStaticInterfaces, kNetworkStaticBytes},
      {"any nonzero DHCP word is on", dhcp2, true, kDhcpInterfaces, dhcp2},
      {"a short record is replaced by the defaults", kNetworkStaticBytes.substr(0, 10), true,
       kDhcpInterfaces, kNetworkDefaultBytes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    if (!c.stored.empty()) WriteBoardFile("/flash/nolva_system", c.stored);
    const ProgramResult result = RunBoot();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, kZeroMacLine + (c.dhcp ? "DHCP: ON\n" : "DHCP: OFF\n") + c.interfaces);
    EXPECT_EQ(ReadBoardFile("/etc/network/interfaces"), c.interfaces);
    EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), c.recordAfter);
  }
  EXPECT_EQ(Logged("system "), (std::vector<std::string>{
                                   "system ifconfig eth0 hw ether 00:00:00:00:00:00",
                                   "system /bin/cat /etc/network/interfaces",
                                   "system /sbin/ifup -a",
                               }));
}

// The kernel refuses an all-zero or multicast address and eth0 keeps the
// one it had; a short configuration can still give a unicast one.
TEST_F(Boot, GivesEth0TheMacAddressOfTheBoardConfigurationWhenTheKernelTakesIt) {
  const char* const kDriverMac = "02:00:5e:00:00:01\n";
  const struct {
    const char* name;
    const char* config;  // nullptr: no board configuration
    std::size_t size;
    const char* asked;
    const char* kept;
  } cases[] = {
      {"whole", "\x0A\x1B\x2C\x3D\x4E\x5F", 414, "0a:1b:2c:3d:4e:5f", "0a:1b:2c:3d:4e:5f\n"},
      {"missing", nullptr, 0, "00:00:00:00:00:00", kDriverMac},
      {"empty", "", 0, "00:00:00:00:00:00", kDriverMac},
      {"short, unicast", "\x0A\x1B\x2C", 3, "0a:1b:2c:00:00:00", "0a:1b:2c:00:00:00\n"},
      {"short, multicast", "\xAB\xCD\xEF", 3, "ab:cd:ef:00:00:00", kDriverMac},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::BoardOptions options = Options();
    options.mac = std::string(kDriverMac, 17);
    board::CreateBoard(Board(), options);
    if (c.config != nullptr) {
      std::string config(c.size, '\0');
      config.replace(0, std::strlen(c.config), c.config);
      WriteBoardFile("/flash/yurn_system.cfg", config);
    }
    ProgramResult result = RunBoot();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')),
              std::string("ifconfig eth0 hw ether ") + c.asked);
    EXPECT_EQ(board::ReadFile(Board() + "/eth0/hwaddr"), c.kept);
  }
}

TEST_F(Boot, HandsTheGpioDriverItsPortConfiguration) {
  RunBoot();
  EXPECT_EQ(Logged("gpio "),
            (std::vector<std::string>{
                "gpio ioctl 0x5500",
                "gpio ioctl 0x5541 0x00000000 0x00000000 0x00000000 0x00000000 0x00000000 "
                "0x00000000 0x00000000 0x00000000 0x00000000 0x00400000 0xc03f300f 0x06fed22f",
            }));
}

TEST_F(Boot, GoesOnWhenItsFilesCannotBeWritten) {
  WriteBoardFile("/etc/network/interfaces", "previous\n");
  SetFault("interfaces-readonly");
  SetFault("flash-readonly");
  ProgramResult result = RunBoot();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, kZeroMacLine + "DHCP: ON\nprevious\n");
  EXPECT_FALSE(BoardFileExists("/flash/nolva_system"));
  EXPECT_EQ(Logged("system ").size(), 3u);
}

TEST_F(Boot, GoesOnWithoutTheGpioDevice) {
  board::BoardOptions options = TestBoardOptions();
  options.gpio = false;
  board::CreateBoard(Board(), options);
  const ProgramResult result = RunBoot();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, kZeroMacLine + "DHCP: ON\n" + kDhcpInterfaces + "Fail to open /dev/gpio\n");
}

using RawFile = DeviceTest;

TEST_F(RawFile, ReadFillsTheBufferFromTheFilesHead) {
  WriteBoardFile("/flash/short", "abc");
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(ReadRawFile("/flash/missing", buffer, 8), -1);
  EXPECT_EQ(ReadRawFile("/flash/short", buffer, -1), -1);
  EXPECT_EQ(std::string(buffer), "xxxxxxx");
  EXPECT_EQ(ReadRawFile("/flash/short", buffer, 2), 1);
  EXPECT_EQ(std::string(buffer), "abxxxxx");
  EXPECT_EQ(ReadRawFile("/flash/short", buffer, 8), 1);
  EXPECT_EQ(std::string(buffer), "abcxxxx");
}

TEST_F(RawFile, WriteOverwritesTheHeadAndSetsMode0666) {
  const std::string host = board::HostPath(Board(), "/flash/raw");
  WriteBoardFile("/flash/raw", "0123456789");
  ::chmod(host.c_str(), 0600);
  struct stat status {};
  EXPECT_EQ(WriteRawFile("/flash/raw", "abcd", 4), 0);
  EXPECT_EQ(ReadBoardFile("/flash/raw"), "abcd456789");
  ASSERT_EQ(::stat(host.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666u);
  EXPECT_EQ(WriteRawFile("/flash/new", "abcd", 4), 0);
  EXPECT_EQ(ReadBoardFile("/flash/new"), "abcd");
}

TEST_F(RawFile, WriteOfANegativeLengthTouchesNothing) {
  const std::string host = board::HostPath(Board(), "/flash/raw");
  WriteBoardFile("/flash/raw", "0123456789");
  ::chmod(host.c_str(), 0600);
  struct stat status {};
  EXPECT_EQ(WriteRawFile("/flash/raw", "abcd", -1), -1);
  ASSERT_EQ(::stat(host.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadBoardFile("/flash/raw"), "0123456789");
}

TEST_F(RawFile, WriteFailsOnAFullOrReadOnlyFlash) {
  SetFault("flash-full");
  EXPECT_EQ(WriteRawFile("/flash/full", "abcd", 4), -1);
  SetFault("flash-readonly");
  EXPECT_EQ(WriteRawFile("/flash/none", "abcd", 4), -1);
  EXPECT_FALSE(BoardFileExists("/flash/none"));
}

}  // namespace
}  // namespace nolva::test
