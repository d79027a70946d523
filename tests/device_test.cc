// The device operations: the gate in front of every operation, the device's
// identity, its USB ports, firmware updates, reboot and factory reset.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/device_test_support.h"
#include "tests/support/operations.h"

namespace nolva::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char16_t kUntouched = 0xBEEF;
constexpr std::size_t kPartitionSize = 256 << 10;  // the test board's
constexpr std::size_t kEraseSize = 4 << 10;
const std::string kErased(kPartitionSize, '\xFF');

// A caller the gate refuses reaches nothing but the user file, and gets no
// output: checked for every operation.
TEST_F(DeviceTest, RefusedCallersReachNoDeviceAndTouchNoOutput) {
  const struct {
    const char16_t* user;
    const char16_t* password;
  } callers[] = {{kAdmin, u"wrong"}, {u"Admin", kFactoryPassword}, {u"", u""}, {u"bob", u"x"}};
  static Call call;
  static Call untouched;
  std::fill(std::begin(untouched.text), std::end(untouched.text), kUntouched);
  std::fill(std::begin(untouched.text2), std::end(untouched.text2), kUntouched);
  std::memset(&untouched.network, 0xA5, sizeof untouched.network);
  std::memset(&untouched.service, 0xA5, sizeof untouched.service);
  std::memset(&untouched.ocp, 0xA5, sizeof untouched.ocp);
  for (const Operation& operation : kOperations) {
    for (const auto& caller : callers) {
      SCOPED_TRACE(std::string(operation.name) + " by " + Narrowed(caller.user));
      board::CreateBoard(Board(), Options());
      WriteUsers(kFactoryLine + Line("bob", "bob"));
      for (const char* file : {"/flash/nolva_system", "/flash/nolva_service", "/flash/nolva_ocp"})
        WriteBoardFile(file, "settings");
      call = untouched;
      call.user = caller.user;
      call.password = caller.password;
      EXPECT_EQ(operation.run(manager, call), STATUS_AUTH_FAILED);
      EXPECT_EQ(BytesOf(call.network) + BytesOf(call.service) + BytesOf(call.ocp) +
                    BytesOf(call.text) + BytesOf(call.text2),
                BytesOf(untouched.network) + BytesOf(untouched.service) + BytesOf(untouched.ocp) +
                    BytesOf(untouched.text) + BytesOf(untouched.text2))
          << "an output was written";
      for (const std::string& line : LogLines()) {
        EXPECT_EQ(line.find("/flash/nolva_"), line.find(kUserFile)) << line;
        for (const char* reached : {"/dev/", "/proc/", "/tmp/", "ioctl", "system", "usleep"})
          EXPECT_EQ(line.find(reached), std::string::npos) << line;
      }
    }
  }
}

TEST_F(DeviceTest, MacAddressIsEth0sInUpperCaseOrAllZerosWithoutOne) {
  const struct {
    bool eth0;
    const char* ifconfig;  // a command run before the query, or nullptr
    const char* expected;
  } cases[] = {
      {true, nullptr, "00:1A:2B:3C:4D:5E"},
      {true, "ifconfig eth0 hw ether 0a:fb:2c:3d:4e:5f", "0A:FB:2C:3D:4E:5F"},
      {false, nullptr, "00:00:00:00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    board::BoardOptions options = TestBoardOptions();
    options.eth0 = c.eth0;
    options.mac = "00:1a:2b:3c:4d:5e";
    board::CreateBoard(Board(), options);
    if (c.ifconfig) {
      ASSERT_EQ(std::system(c.ifconfig), 0);
    }
    char16_t text[20];
    std::fill(std::begin(text), std::end(text), kUntouched);
    EXPECT_EQ(manager.GetMacAddress(kAdmin, kFactoryPassword, text), STATUS_OK);
    EXPECT_EQ(Narrowed(text), c.expected);
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

  board::BoardOptions options = TestBoardOptions();
  options.mtdSize = 48;  // the name field holds only its first 16 bytes
  options.mtdEraseSize = 16;
  board::CreateBoard(Board(), options);
  board::WritePartition(Board(), "/dev/mtd3", 32, "nolva-os 3.1.4-r");
  EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs), STATUS_OK);
  EXPECT_EQ(Narrowed(os), "nolva-os 3.1.4-r");
  EXPECT_EQ(Narrowed(fs), std::string(16, '\xFF'));
}

TEST_F(DeviceTest, MissingFirmwarePartitionFailsLeavingWhatWasNotRead) {
  for (const auto& [missing, os] :
       {std::pair<const char*, const char*>{"/dev/mtd3", ""}, {"/dev/mtd4", "nolva-os 2.0.1"}}) {
    SCOPED_TRACE(missing);
    board::CreateBoard(Board(), Options());
    board::WritePartition(Board(), "/dev/mtd3", 32, std::string("nolva-os 2.0.1\0", 15));
    std::filesystem::remove(board::HostPath(Board(), missing));
    char16_t osText[40] = {}, fsText[40] = {};
    EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, osText, fsText),
              STATUS_FIRMWARE_VERSION_FAILED);
    EXPECT_EQ(Narrowed(osText), os);
    EXPECT_EQ(Narrowed(fsText), "");
  }
}

// --- USB ports --------------------------------------------------------------

// The kernel's topology line of a device, then its product line if it has one.
std::string Device(int bus, int level, int parent, int port, const char* product = nullptr) {
  char line[256];
  std::snprintf(line, sizeof line,
                "T:  Bus=%02d Lev=%02d Prnt=%02d Port=%02d Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
                "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n",
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
      {"nothing plugged in", hub, empty},
      {"empty list", "", empty},
      {"a lone port 5", hub + OnHub(5, "Modem"), empty + "PORT 4:  \nPORT 5:  Modem\n"},
      {"foreign buses, levels and parents",
       hub + Device(2, 2, 2, 0, "Other Bus") + Device(1, 3, 2, 1, "Behind A Hub") +
           Device(1, 2, 3, 2, "Other Parent") + OnHub(3, "Keyboard"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  Keyboard\n"},
      {"devices without a product", hub + OnHub(1) + OnHub(2, "Flash Disk") + OnHub(3),
       "PORT 0:  \nPORT 1:  \nPORT 2:  Flash Disk\nPORT 3:  \n"},
      {"ports out of order", hub + OnHub(2, "B") + OnHub(0, "A"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  B\nPORT 0:  A\nPORT 1:  \nPORT 2:  \nPORT 3:  \n"},
      {"no number at column 31 or a negative one",
       "T:  Bus=01 Lev=02 Prnt=02 Port=\nS:  Product=Cut\n"
       "T:  Bus=01 Lev=02 Prnt=02 Port=xx Cnt=01\nS:  Product=Letters\n"
       "T:  Bus=01 Lev=02 Prnt=02 Port=-1 Cnt=01\nS:  Product=Negative\n" +
           OnHub(1, "Real"),
       "PORT 0:  \nPORT 1:  Real\nPORT 2:  \nPORT 3:  \n"},
      {"a last line without its line feed", "T:  Bus=01 Lev=02 Prnt=02 Port=00\nS:  Product=Pen",
       "PORT 0:  Pen\nPORT 1:  \nPORT 2:  \nPORT 3:  \n"},
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
    int capacity;
    std::string expected;  // "?": refused, nothing written
  } cases[] = {{0, "?"},
               {20, ""},
               {21, "PORT 0:  Flash Disk\n"},
               {size, full.substr(0, size - 10)},
               {size + 1, full}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.capacity);
    char text[128] = "?";
    std::memset(text + 2, '#', sizeof text - 2);
    EXPECT_EQ(ReadUsbPorts(text, c.capacity), c.expected == "?" ? -1 : 0);
    EXPECT_EQ(std::string(text), c.expected);
    for (int i = std::max(c.capacity, 2); i < static_cast<int>(sizeof text); ++i)
      ASSERT_EQ(text[i], '#') << "written past the capacity at " << i;
  }
  char16_t wide[64] = u"?";
  EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, wide, INT_MAX), STATUS_OK);
  EXPECT_EQ(Narrowed(wide), full);
  board::SetUsbDevices(Board(), OnHub(2000000000, "Far Away"));
  char text[4096];
  ASSERT_EQ(ReadUsbPorts(text, sizeof text), 0);
  EXPECT_GT(std::string(text).size(), sizeof text - 20) << "the text is filled, no more";
  std::filesystem::remove(board::HostPath(Board(), "/proc/bus/usb/devices"));
  EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, wide, 64), STATUS_USB_PORTS_FAILED);
  EXPECT_EQ(Narrowed(wide), full);
}

// --- Firmware update --------------------------------------------------------

class FirmwareUpdate : public DeviceTest {
 protected:
  StatusCode Update(const std::vector<std::uint8_t>& image) {
    return manager.UpdateFirmware(kAdmin, kFactoryPassword, image.data(),
                                  static_cast<std::int32_t>(image.size()));
  }
};

TEST_F(FirmwareUpdate, NameFieldRoutesTheImageToItsPartition) {
  const std::vector<std::uint8_t> os = Image("nolva-os 4.2.0", 10000);
  const std::vector<std::uint8_t> fs = Image("nolva-fs 4.2.0", 10000);
  EXPECT_EQ(Update(os), STATUS_OK);
  EXPECT_EQ(Update(fs), STATUS_OK);
  EXPECT_EQ(ReadBoardFile("/dev/mtd3"), Bytes(os) + kErased.substr(10000));
  EXPECT_EQ(ReadBoardFile("/dev/mtd4"), Bytes(fs) + kErased.substr(10000));
  board::CreateBoard(Board(), Options());
  for (std::int32_t length : {39, 0, -1, -40000})
    EXPECT_EQ(manager.UpdateFirmware(kAdmin, kFactoryPassword, os.data(), length),
              STATUS_FIRMWARE_UPDATE_FAILED);
  EXPECT_EQ(manager.UpdateFirmware(kAdmin, kFactoryPassword, nullptr, 64),
            STATUS_FIRMWARE_UPDATE_FAILED);
  EXPECT_EQ(manager.WriteFirmwareImage(os.data(), 39), -1);
  EXPECT_EQ(manager.CompareFirmwareImage(os.data(), 39), -1);
  EXPECT_THAT(Logged("open /dev/"), IsEmpty());
}

TEST_F(FirmwareUpdate, EraseCoversOneBlockMoreThanTheWholeBlocksFilledAndNeverPassesTheEnd) {
  const struct {
    std::size_t length;
    std::size_t erased;  // 0: refused before anything is erased
  } cases[] = {
      {kPartitionSize, 0},
      {3 * kEraseSize, 4 * kEraseSize},
      {3 * kEraseSize + 1, 4 * kEraseSize},
      {kEraseSize - 1, kEraseSize},
      {kPartitionSize - 1, kPartitionSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
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
  // The erase settles before the first write.
  const std::vector<std::string> steps = Logged("");
  const auto settle = std::find(steps.begin(), steps.end(), "usleep 10000000");
  ASSERT_NE(settle, steps.end());
  EXPECT_EQ(std::find_if(steps.begin(), settle,
                         [](const std::string& line) { return line.rfind("write /dev/", 0) == 0; }),
            settle);
}

TEST_F(FirmwareUpdate, WritesHandOverAtMost128EraseBlocksAndContinueShortOnes) {
  const struct {
    std::uint32_t eraseSize;
    std::uint32_t partitionSize;
    std::size_t length;
    const char* shortWrites;  // the most a write takes, or nullptr
    std::vector<std::string> writes;
  } cases[] = {
      {4 << 10, 2 << 20, (3 << 19) + 100, nullptr, {"524288", "524288", "524288", "100"}},
      {4 << 10, 256 << 10, 10000, "3000", {"3000", "3000", "3000", "1000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    board::BoardOptions options = Options();
    options.mtdEraseSize = c.eraseSize;
    options.mtdSize = c.partitionSize;
    board::CreateBoard(Board(), options);
    if (c.shortWrites) SetFault("mtd-short-writes", c.shortWrites);
    const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", c.length);
    EXPECT_EQ(Update(image), STATUS_OK);
    std::vector<std::string> sizes;
    for (const std::string& line : Logged("write /dev/mtd3 "))
      sizes.push_back(line.substr(16));
    EXPECT_EQ(sizes, c.writes);
    EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, c.length), Bytes(image));
  }
}

TEST_F(FirmwareUpdate, EveryDeviceFailureIsReportedAsUpdateFailed) {
  const struct {
    const char* fault;  // "missing": no partition at all
    const char* value;
    std::int32_t writeResult;
    bool erases;
  } cases[] = {
      {"missing", "", -1, false},
      {"mtd-getinfo-fails", "", -1, false},
      {"mtd-erasesize-zero", "", -1, false},
      {"mtd-erase-fails", "", -2, false},
      {"mtd-write-fails", "", -1, true},
      {"mtd-write-stalls", "", -1, true},  // a write that takes 0 bytes
      {"mtd-read-flips", "100", 0, true},
  };
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    board::CreateBoard(Board(), Options());
    if (c.fault == std::string("missing"))
      std::filesystem::remove(board::HostPath(Board(), "/dev/mtd3"));
    else
      SetFault(c.fault, c.value);
    EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
    EXPECT_EQ(Logged("erase ").size(), c.erases ? 1u : 0u);
    EXPECT_EQ(manager.WriteFirmwareImage(image.data(), 10000), c.writeResult);
  }
}

TEST_F(FirmwareUpdate, CompareGivesMinusTheOffsetOfTheFirstDifference) {
  std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  ASSERT_EQ(Update(image), STATUS_OK);
  const struct {
    const char* flippedAt;  // nullptr: the read-back is sound
    std::int32_t result;
  } cases[] = {{nullptr, 0}, {"5000", -5000}, {"0", -1}, {"1", -1}, {"9999", -9999}, {"10000", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flippedAt ? c.flippedAt : "none");
    if (c.flippedAt)
      SetFault("mtd-read-flips", c.flippedAt);
    else
      ClearFault("mtd-read-flips");
    EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 10000), c.result);
  }
  ClearFault("mtd-read-flips");
  image = Image("nolva-os 4.2.0", kPartitionSize + 3000);
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
      {"nothing", [] {}},
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
    EXPECT_EQ(manager.Reboot(kAdmin, kFactoryPassword), STATUS_OK);
    EXPECT_FALSE(std::filesystem::is_symlink(ScriptHostPath()));
    EXPECT_EQ(ReadBoardFile("/tmp/.nolva_reboot"), kScript);
    EXPECT_EQ(ReadBoardFile("/flash/victim"), "keep me\n");
    EXPECT_FALSE(BoardFileExists("/flash/new"));
    EXPECT_THAT(Logged("system "), ElementsAre("system /bin/sh /tmp/.nolva_reboot &"));
    EXPECT_THAT(Logged("reboot "), ElementsAre(kScheduled));
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
    EXPECT_THAT(Logged("system "), ElementsAre("system (sleep 5; /sbin/reboot) &"));
    EXPECT_THAT(Logged("reboot "), ElementsAre(kScheduled));
  }
}

// A script cut short (here by a file size limit of 10 bytes) is removed, so
// that half of it is never run later.
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
  for (const char* file : {"/flash/nolva_system", "/flash/nolva_service", "/flash/nolva_ocp",
                           "/flash/nolva_user.tmp", "/flash/nolva_extra"})
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
  EXPECT_EQ(manager.Login(kAdmin, u"s3cret"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_OK);
}

}  // namespace
}  // namespace nolva::test
