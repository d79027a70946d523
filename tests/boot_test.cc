#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/record_bytes.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::BoardTest;
using test::ProgramResult;

const std::string& kDefaultRecord = kNetworkDefaultBytes;
const std::string& kStaticRecord = kNetworkStaticBytes;
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

class Boot : public BoardTest {
 protected:
  ProgramResult RunBoot() { return RunProgram(NOLVA_BOOT_PATH); }

  std::vector<std::string> SystemLines() {
    std::vector<std::string> lines;
    for (const std::string& line : LogLines()) {
      if (line.rfind("system ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }
};

struct StoredRecordCase {
  const char* name;
  std::string stored;
  std::string expectedOutput;
  std::string expectedInterfaces;
  std::string expectedRecordAfterBoot;
};

class BootWithStoredRecord : public Boot, public ::testing::WithParamInterface<StoredRecordCase> {};

TEST_P(BootWithStoredRecord, RendersTheInterfacesFileFromTheRecord) {
  const StoredRecordCase& c = GetParam();
  if (!c.stored.empty()) WriteBoardFile("/flash/nolva_system", c.stored);
  ProgramResult result = RunBoot();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, c.expectedOutput);
  EXPECT_EQ(ReadBoardFile("/etc/network/interfaces"), c.expectedInterfaces);
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), c.expectedRecordAfterBoot);
}

std::string WithDhcpWord(std::string record, char value) {
  record[0] = value;
  return record;
}

const std::string kHighAddressRecord(
    "\x00\x00\x00\x00\xC8\xC9\xFE\xFF\xFF\xFF\xFF\x80\xDC\xDD\xDE\x01", 16);

INSTANTIATE_TEST_SUITE_P(
    Records, BootWithStoredRecord,
    ::testing::Values(
        StoredRecordCase{"FirstBootStoresTheDefaults", "",
                         kZeroMacLine + "DHCP: ON\n" + kDhcpInterfaces, kDhcpInterfaces,
                         kDefaultRecord},
        StoredRecordCase{"StaticConfiguration", kStaticRecord,
                         kZeroMacLine + "DHCP: OFF\n" + kStaticInterfaces, kStaticInterfaces,
                         kStaticRecord},
        StoredRecordCase{"AnyNonzeroDhcpWordIsOn", WithDhcpWord(kStaticRecord, 2),
                         kZeroMacLine + "DHCP: ON\n" + kDhcpInterfaces, kDhcpInterfaces,
                         WithDhcpWord(kStaticRecord, 2)},
        StoredRecordCase{"HighAddressBytesPrintUnsigned", kHighAddressRecord,
                         kZeroMacLine + "DHCP: OFF\n" +
                             "auto lo eth0\niface lo inet loopback\niface eth0 inet static\n"
                             "\taddress 200.201.254.255\n\tnetmask 255.255.255.128\n"
                             "\tgateway 220.221.222.1\n",
                         "auto lo eth0\niface lo inet loopback\niface eth0 inet static\n"
                         "\taddress 200.201.254.255\n\tnetmask 255.255.255.128\n"
                         "\tgateway 220.221.222.1\n",
                         kHighAddressRecord},
        StoredRecordCase{"LongRecordIsUsedAndLeftAlone", kStaticRecord + "x",
                         kZeroMacLine + "DHCP: OFF\n" + kStaticInterfaces, kStaticInterfaces,
                         kStaticRecord + "x"},
        StoredRecordCase{"ShortRecordIsReplacedByTheDefaults", kStaticRecord.substr(0, 10),
                         kZeroMacLine + "DHCP: ON\n" + kDhcpInterfaces, kDhcpInterfaces,
                         kDefaultRecord}),
    [](const ::testing::TestParamInfo<StoredRecordCase>& info) { return info.param.name; });

TEST_F(Boot, RunsTheNetworkCommandsInOrder) {
  RunBoot();
  EXPECT_EQ(SystemLines(), (std::vector<std::string>{
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
  std::vector<std::string> gpio;
  for (const std::string& line : LogLines()) {
    if (line.rfind("gpio ", 0) == 0) gpio.push_back(line);
  }
  EXPECT_EQ(gpio, (std::vector<std::string>{
                      "gpio ioctl 0x5500",
                      "gpio ioctl 0x5541 0x00000000 0x00000000 0x00000000 0x00000000 0x00000000 "
                      "0x00000000 0x00000000 0x00000000 0x00000000 0x00400000 0xc03f300f "
                      "0x06fed22f",
                  }));
}

TEST_F(Boot, InterfacesFileThatCannotBeWrittenKeepsItsContentsAndBootGoesOn) {
  WriteBoardFile("/etc/network/interfaces", "previous\n");
  SetFault("interfaces-readonly");
  ProgramResult result = RunBoot();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, kZeroMacLine + "DHCP: ON\nprevious\n");
  EXPECT_EQ(ReadBoardFile("/etc/network/interfaces"), "previous\n");
  EXPECT_EQ(SystemLines().size(), 3u);
}

TEST_F(Boot, UnwritableFlashStillBootsWithTheDefaults) {
  SetFault("flash-readonly");
  ProgramResult result = RunBoot();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, kZeroMacLine + "DHCP: ON\n" + kDhcpInterfaces);
  EXPECT_FALSE(BoardFileExists("/flash/nolva_system"));
}

class BootWithoutGpio : public Boot {
 protected:
  board::BoardOptions Options() const override {
    board::BoardOptions options;
    options.gpio = false;
    return options;
  }
};

TEST_F(BootWithoutGpio, SaysSoAndStillExitsZero) {
  ProgramResult result = RunBoot();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, kZeroMacLine + "DHCP: ON\n" + kDhcpInterfaces + "Fail to open /dev/gpio\n");
}

}  // namespace
}  // namespace nolva
