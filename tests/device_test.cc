// The device operations: the device's identity, its USB ports, firmware
// updates, reboot and factory reset. The gate in front of them is the fuzz
// seeds' (wide_args).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

// Front ends compare WriteFirmwareImage's numbers: the names must keep them.
static_assert(kFirmwareWritten == 0 && kFirmwareWriteFailed == -1 && kFirmwareEraseRefused == -2);

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char16_t kUntouched = 0xBEEF;
constexpr std::size_t kPartitionSize = 256 << 10;  // the test board's
constexpr std::size_t kEraseSize = 4 << 10;

TEST_F(DeviceTest, MacAddressIsEth0sInUpperCaseOrAllZerosWithoutOne) {
  const struct {
    const char* name;
    bool eth0;
    const char* expected;
  } cases[] = {{"eth0", true, "0A:FB:2C:3D:4E:5F"}, {"no eth0", false, "00:00:00:00:00:00"}};
  for (const auto& [name, eth0, expected] : cases) {
    SCOPED_TRACE(name);
    board::BoardOptions options = TestBoardOptions();
    options.eth0 = eth0;
    options.mac = "0a:fb:2c:3d:4e:5f";
    board::CreateBoard(Board(), options);
    char16_t text[20];
    std::fill(std::begin(text), std::end(text), kUntouched);
    EXPECT_EQ(manager.GetMacAddress(kAdmin, kFactoryPassword, text), STATUS_OK);
    EXPECT_EQ(Narrowed(text), expected);
    EXPECT_EQ(text[18], kUntouched);
  }
}

TEST_F(DeviceTest, FirmwareVersionsAreTheNameFieldsUpToTheirNulAndAtMost32Characters) {
  const std::string fs32 = "nolva-fs 2.0.1 build 20240611-01";
  board::WritePartition(Board(), "/dev/mtd3", 32, std::string("nolva-os 2.0.1\0garbage", 22));
  board::WritePartition(Board(), "/dev/mtd4", 32, fs32 + "NEXT FIELD");
  char16_t os[40], fs[40];
  std::fill(std::begin(os), std::end(os), kUntouched);
  std::fill(std::begin(fs), std::end(fs), kUntouched);
  EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs), STATUS_OK);
  EXPECT_EQ(Narrowed(os), "nolva-os 2.0.1");
  EXPECT_EQ(Narrowed(fs), fs32);
  EXPECT_EQ(os[15], kUntouched);
  EXPECT_EQ(fs[33], kUntouched);
}

TEST_F(DeviceTest, FirmwareVersionsWithoutTheSecondPartitionFailHavingReadTheFirst) {
  board::WritePartition(Board(), "/dev/mtd3", 32, std::string("nolva-os 2.0.1\0", 15));
  std::filesystem::remove(board::HostPath(Board(), "/dev/mtd4"));
  char16_t os[40], fs[40];
  fs[0] = kUntouched;
  EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs),
            STATUS_FIRMWARE_VERSION_FAILED);
  EXPECT_EQ(Narrowed(os), "nolva-os 2.0.1");
  EXPECT_EQ(fs[0], kUntouched);
}

TEST_F(DeviceTest, FirmwareVersionOfAPartitionEndingInsideTheNameFieldIsTheBytesThere) {
  char16_t os[40], fs[40];
  board::BoardOptions options = TestBoardOptions();
  options.mtdSize = 48;
  options.mtdEraseSize = 16;
  board::CreateBoard(Board(), options);
  board::WritePartition(Board(), "/dev/mtd3", 32, "nolva-os 3.1.4-r");
  EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs), STATUS_OK);
  EXPECT_EQ(Narrowed(os), "nolva-os 3.1.4-r");
}

// --- USB ports --------------------------------------------------------------

// A device's topology line, then its product line if it has one.
std::string Device(int bus, int level, int parent, int port, const char* product = nullptr) {
  char line[128];
  std::snprintf(line, sizeof line, "T:  Bus=%02d Lev=%02d Prnt=%02d Port=%02d Cnt=01 Dev#=  3\n",
                bus, level, parent, port);
  std::string text = line;
  if (product) text += "S:  Manufacturer=Acme\nS:  Product=" + std::string(product) + "\n";
  return text + "C:* #Ifs= 1 Cfg#= 1 Atr=80 MxPwr=300mA\n\n";
}

std::string OnHub(int port, const char* product = nullptr) {
  return Device(1, 2, 2, port, product);
}

TEST_F(DeviceTest, UsbPortsListTheHubsPortsWithTheirProducts) {
  const std::string hub = board::kEmptyHubUsbDevices;
  const std::string empty = "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  \n";
  const struct {
    const char* name;
    std::string list;
    std::string expected;
  } cases[] = {
      {"no devices", "", empty},
      {"port past the fourth", hub + OnHub(9, "Modem"),
       empty + "PORT 4:  \nPORT 5:  \nPORT 6:  \nPORT 7:  \nPORT 8:  \nPORT 9:  Modem\n"},
      {"only the hub's own ports",
       hub + Device(2, 2, 2, 0, "Other Bus") + Device(1, 3, 2, 1, "Behind A Hub") +
           Device(1, 2, 3, 2, "Other Parent") + OnHub(3, "Keyboard"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  Keyboard\n"},
      {"devices without a product", hub + OnHub(1) + OnHub(2, "Flash Disk") + OnHub(3),
       "PORT 0:  \nPORT 1:  \nPORT 2:  Flash Disk\nPORT 3:  \n"},
      {"a lower port starts the list again", hub + OnHub(2, "B") + OnHub(0, "A"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  B\nPORT 0:  A\nPORT 1:  \nPORT 2:  \nPORT 3:  \n"},
      {"ports that are no number",
       "T:  Bus=01 Lev=02 Prnt=02 Port=\nS:  Product=Cut\n"
       "T:  Bus=01 Lev=02 Prnt=02 Port=xx Cnt=01\nS:  Product=Letters\n"
       "T:  Bus=01 Lev=02 Prnt=02 Port=-1 Cnt=01\nS:  Product=Negative\n" +
           OnHub(1, "Real"),
       "PORT 0:  \nPORT 1:  Real\nPORT 2:  \nPORT 3:  \n"},
      {"no line end", "T:  Bus=01 Lev=02 Prnt=02 Port=00\nS:  Product=Pen",
       "PORT 0:  Pen" + empty.substr(9)},
      {"blanks and a sign before the number",
       "T:  Bus=01 Lev=02 Prnt=02 Port=\t \r+2 Cnt=01\nS:  Product=Spaced\n",
       "PORT 0:  \nPORT 1:  \nPORT 2:  Spaced\nPORT 3:  \n"},
      {"a port past INT32_MAX is no port",
       "T:  Bus=01 Lev=02 Prnt=02 Port=2147483648 Cnt=01\nS:  Product=Huge\n" + OnHub(1, "Real"),
       "PORT 0:  \nPORT 1:  Real\nPORT 2:  \nPORT 3:  \n"},
      // The line is cut at 255 bytes, right behind the 5: the 7 that
      // follows is the next line's.
      {"the number ends with its line",
       "T:  Bus=01 Lev=02 Prnt=02 Port=" + std::string(223, ' ') + "57 Cnt=01\nS:  Product=Cut\n",
       empty + "PORT 4:  \nPORT 5:  Cut\n"},
      {"a T: line cut short by a NUL ends the device",
       OnHub(1) + std::string("T:\0 Bus=02\nS:  Product=Other\n", 29), empty},
      {"two-digit port", hub + OnHub(21, "Far"),
       [] {
         std::string text;
         for (int port = 0; port < 21; ++port)
           text += "PORT " + std::to_string(port) + ":  \n";
         return text + "PORT 21:  Far\n";
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::SetUsbDevices(Board(), c.list);
    char16_t text[512];
    EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, text, 512), STATUS_OK);
    EXPECT_EQ(Narrowed(text), c.expected);
  }
}

TEST_F(DeviceTest, UsbPortTextHoldsOnlyWholeLinesWithinTheCapacity) {
  board::SetUsbDevices(Board(), OnHub(0, "Flash Disk") + OnHub(2, "GPS Receiver"));
  const std::string full = "PORT 0:  Flash Disk\nPORT 1:  \nPORT 2:  GPS Receiver\nPORT 3:  \n";
  const int size = static_cast<int>(full.size());
  const struct {
    const char* name;
    int capacity;
    std::string expected;
  } cases[] = {{"no room for the NUL", 20, ""},
               {"one line", 21, "PORT 0:  Flash Disk\n"},
               {"all but the NUL", size, full.substr(0, size - 10)},
               {"all", size + 1, full}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char text[128];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(ReadUsbPorts(text, c.capacity), 0);
    EXPECT_EQ(std::string(text), c.expected);
    EXPECT_EQ(std::string(text + c.capacity, 8), "########") << "written past the capacity";
  }
}

TEST_F(DeviceTest, UsbPortTextFillsTheBufferAndNoMore) {
  board::SetUsbDevices(Board(), OnHub(INT32_MAX, "Far Away"));
  char text[4096];
  ASSERT_EQ(ReadUsbPorts(text, sizeof text), 0);
  EXPECT_GT(std::string(text).size(), sizeof text - 20) << "the text is filled, no more";
}

TEST_F(DeviceTest, UsbPortsWithoutTheDevicesFileFailLeavingTheText) {
  std::filesystem::remove(board::HostPath(Board(), "/proc/bus/usb/devices"));
  char text[64];
  EXPECT_EQ(ReadUsbPorts(text, sizeof text), -1);
  char16_t wide[8] = u"keep";
  EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, wide, 8), STATUS_USB_PORTS_FAILED);
  EXPECT_EQ(Narrowed(wide), "keep");
}

// --- Firmware update --------------------------------------------------------

class FirmwareUpdate : public DeviceTest {
 protected:
  StatusCode Update(const std::vector<std::uint8_t>& image) {
    return manager.UpdateFirmware(kAdmin, kFactoryPassword, image.data(),
                                  static_cast<std::int32_t>(image.size()));
  }
};

TEST_F(FirmwareUpdate, EraseCoversOneBlockMoreThanTheWholeBlocksFilledAndNeverPassesTheEnd) {
  const struct {
    const char* name;
    std::size_t length;
    std::size_t erased;  // 0: refused before anything is erased
  } cases[] = {{"whole partition", kPartitionSize, 0},
               {"whole blocks", 3 * kEraseSize, 4 * kEraseSize},
               {"part of a block", kEraseSize - 1, kEraseSize},
               {"one byte short of the partition", kPartitionSize - 1, kPartitionSize}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    board::WritePartition(Board(), "/dev/mtd3", 0, std::string(kPartitionSize, '\0'));
    const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", c.length);
    if (c.erased == 0) {
      EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
      EXPECT_EQ(manager.WriteFirmwareImage(image.data(), static_cast<std::int32_t>(c.length)), -2);
      EXPECT_THAT(Logged("erase "), IsEmpty());
      continue;
    }
    EXPECT_EQ(Update(image), STATUS_OK);
    EXPECT_THAT(Logged("erase "), ElementsAre("erase /dev/mtd3 0 " + std::to_string(c.erased)));
    EXPECT_EQ(ReadBoardFile("/dev/mtd3"), Bytes(image) + std::string(c.erased - c.length, '\xFF') +
                                              std::string(kPartitionSize - c.erased, '\0'));
  }
}

TEST_F(FirmwareUpdate, EraseSettlesBeforeTheFirstWrite) {
  ASSERT_EQ(Update(Image("nolva-os 4.2.0", 3 * kEraseSize)), STATUS_OK);
  const std::vector<std::string> steps = LogLines();
  const auto settle = std::find(steps.begin(), steps.end(), "usleep 10000000");
  EXPECT_NE(settle, steps.end());
  EXPECT_TRUE(std::none_of(steps.begin(), settle, [](const std::string& line) {
    return line.rfind("write /dev/", 0) == 0;
  }));
}

TEST_F(FirmwareUpdate, WritesHandOverAtMost128EraseBlocks) {
  board::BoardOptions options = Options();
  options.mtdSize = 2 << 20;
  board::CreateBoard(Board(), options);
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", (3 << 19) + 100);
  EXPECT_EQ(Update(image), STATUS_OK);
  EXPECT_THAT(Logged("write /dev/mtd3 "),
              ElementsAre("write /dev/mtd3 524288", "write /dev/mtd3 524288",
                          "write /dev/mtd3 524288", "write /dev/mtd3 100"));
}

// An image is routed by its name field's first 8 bytes and must hold the
// whole field; any other is refused before a partition is opened.
TEST_F(FirmwareUpdate, OnlyAnImageHoldingItsWholeNameFieldIsRouted) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> image;
    const char* device;  // nullptr: refused
  } cases[] = {
      {"shortest os image", Image("nolva-os 4.2.0", 64), "/dev/mtd3"},
      {"fs image", Image("nolva-fs", 5000), "/dev/mtd4"},
      {"name field cut short", Image("nolva-os 4.2.0", 63), nullptr},
      {"selector only", Image("nolva-os", 40), nullptr},
      {"upper case", Image("NOLVA-OS", 5000), nullptr},
      {"NUL in the selector", Image(std::string("nolva-o\0", 8), 5000), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    EXPECT_EQ(Update(c.image), c.device ? STATUS_OK : STATUS_FIRMWARE_UPDATE_FAILED);
    if (c.device) {
      EXPECT_THAT(Logged("write /dev/"), ElementsAre(std::string("write ") + c.device + " " +
                                                     std::to_string(c.image.size())));
    } else {
      EXPECT_THAT(Logged("open /dev/mtd"), IsEmpty());
    }
  }
}

TEST_F(FirmwareUpdate, EveryDeviceFailureIsReportedAsUpdateFailed) {
  const struct {
    const char* fault;  // "missing": no partition at all
    const char* value;
    std::int32_t writeResult;
  } cases[] = {
      {"missing", "", -1},          {"mtd-getinfo-fails", "", -1}, {"mtd-erasesize-zero", "", -1},
      {"mtd-erase-fails", "", -2},  {"mtd-write-fails", "", -1},   {"mtd-write-stalls", "", -1},
      {"mtd-read-flips", "100", 0},
  };
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    board::CreateBoard(Board(), Options());
    if (c.fault == std::string("missing")) {
      std::filesystem::remove(board::HostPath(Board(), "/dev/mtd3"));
      EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 10000), -1);
    } else {
      SetFault(c.fault, c.value);
    }
    EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
    EXPECT_EQ(manager.WriteFirmwareImage(image.data(), 10000), c.writeResult);
  }
}

TEST_F(FirmwareUpdate, MissingOrTooShortImageIsRefused) {
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  EXPECT_EQ(manager.UpdateFirmware(kAdmin, kFactoryPassword, nullptr, 64),
            STATUS_FIRMWARE_UPDATE_FAILED);
  EXPECT_EQ(manager.WriteFirmwareImage(image.data(), 39), -1) << "too short to hold the name";
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 39), -1);
}

TEST_F(FirmwareUpdate, CompareGivesMinusTheOffsetOfTheFirstDifference) {
  std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  ASSERT_EQ(Update(image), STATUS_OK);
  const struct {
    const char* name;
    const char* flippedAt;
    std::int32_t result;
  } cases[] = {{"middle", "5000", -5000},
               {"first byte", "0", -1},
               {"second byte", "1", -1},
               {"last byte", "9999", -9999},
               {"past the image", "10000", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetFault("mtd-read-flips", c.flippedAt);
    EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 10000), c.result);
  }
}

TEST_F(FirmwareUpdate, ImageLongerThanThePartitionComparesUpToItsEnd) {
  std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", kPartitionSize + 3000);
  board::WritePartition(Board(), "/dev/mtd3", 0, Bytes(image).substr(0, kPartitionSize));
  const auto length = static_cast<std::int32_t>(image.size());
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), length), -1) << "the partition ends first";
  image[7000] ^= 0x10;
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), length), -7000);
}

// --- Reboot and factory reset -----------------------------------------------

const std::string kScript = "sleep 5\n/sbin/reboot\n";
const std::string kScheduled = R"(reboot scheduled "sleep 5\n/sbin/reboot\n")";

class Reboot : public DeviceTest {
 protected:
  std::string ScriptHostPath() const { return board::HostPath(Board(), "/tmp/.nolva_reboot"); }
};

TEST_F(Reboot, WritesTheScriptAfreshWhateverStandsAtItsPath) {
  const std::string victim = board::HostPath(Board(), "/flash/victim");
  const struct {
    const char* name;
    std::function<void()> place;
  } cases[] = {
      {"an old script",
       [&] { WriteBoardFile("/tmp/.nolva_reboot", "sleep 500\n/sbin/reboot\necho done\n"); }},
      {"a link to a file", [&] { std::filesystem::create_symlink(victim, ScriptHostPath()); }},
      {"a folder", [&] { std::filesystem::create_directory(ScriptHostPath()); }},
      {"a dangling link",
       [&] { std::filesystem::create_symlink(Board() + "/flash/new", ScriptHostPath()); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    WriteBoardFile("/flash/victim", "keep me\n");
    c.place();
    EXPECT_EQ(manager.Reboot(kAdmin, kFactoryPassword), STATUS_OK);
    EXPECT_EQ(ReadBoardFile("/tmp/.nolva_reboot"), kScript);
    EXPECT_EQ(ReadBoardFile("/flash/victim"), "keep me\n");
    EXPECT_FALSE(BoardFileExists("/flash/new"));
    EXPECT_THAT(Logged("system "), ElementsAre("system /bin/sh /tmp/.nolva_reboot &"));
    EXPECT_THAT(Logged("reboot "), ElementsAre(kScheduled));
  }
}

TEST_F(Reboot, WithoutAWritableScriptTheShellTakesTheStepsItself) {
  SetFault("tmp-readonly");
  EXPECT_EQ(manager.Reboot(kAdmin, kFactoryPassword), STATUS_OK);
  EXPECT_THAT(Logged("system "), ElementsAre("system (sleep 5; /sbin/reboot) &"));
  EXPECT_THAT(Logged("reboot "), ElementsAre(kScheduled));
}

// A script cut short (here by a file size limit) is removed, so that half of
// it is never run later.
TEST_F(Reboot, FailedScriptWriteLeavesNoScript) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {10, 10};
    setrlimit(RLIMIT_FSIZE, &limit);
    manager.ScheduleReboot(5);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(BoardFileExists("/tmp/.nolva_reboot"));
}

TEST_F(Reboot, FactoryResetRemovesEveryRecordAndTheOcpFolderThenReboots) {
  for (const char* file : {"/flash/nolva_system", "/flash/nolva_ocp", "/flash/nolva_user.tmp"})
    WriteBoardFile(file, "old");
  std::filesystem::create_directories(board::HostPath(Board(), "/flash/ocp/certs"));
  WriteBoardFile("/flash/ocp/certs/device.pem", "cert");
  WriteBoardFile("/flash/yurn_system.cfg", "config block");
  WriteUsers(Line("admin", "s3cret"));  // so that the reset shows

  EXPECT_EQ(manager.FactoryReset(kAdmin, u"s3cret"), STATUS_OK);
  EXPECT_THAT(FlashFileNames(), ElementsAre("yurn_system.cfg"));
  EXPECT_THAT(Logged("system "),
              ElementsAre("system /bin/rm -f /flash/nolva_*", "system /bin/rm -r -f /flash/ocp",
                          "system /bin/sh /tmp/.nolva_reboot &"));
  EXPECT_EQ(ReadBoardFile("/tmp/.nolva_reboot"), kScript);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_OK);
}

}  // namespace
}  // namespace nolva::test
