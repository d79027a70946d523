// Reading the device's identity: the MAC address of eth0 and the version
// texts of the two firmware partitions.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "store/device_manager.h"
#include "tests/device_test_support.h"
#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

constexpr char16_t kUntouched = 0xBEEF;

template <std::size_t N>
void Fill(char16_t (&units)[N]) {
  for (char16_t& unit : units)
    unit = kUntouched;
}

class MacAddress : public BoardTest {
 protected:
  DeviceManager manager;
};

TEST_F(MacAddress, IsEth0sAddressInUpperCaseOrAllZerosWithoutOne) {
  const struct {
    const char* name;
    bool eth0;
    const char* boardMac;
    const char* ifconfig;  // a command run before the query, or nullptr
    const char* expected;
  } cases[] = {
      {"board's address", true, "00:1a:2b:3c:4d:5e", nullptr, "00:1A:2B:3C:4D:5E"},
      {"address set at boot", true, "00:00:00:00:00:01", "ifconfig eth0 hw ether 0a:fb:2c:3d:4e:5f",
       "0A:FB:2C:3D:4E:5F"},
      {"no eth0", false, "00:1a:2b:3c:4d:5e", nullptr, "00:00:00:00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::BoardOptions options = TestBoardOptions();
    options.eth0 = c.eth0;
    options.mac = c.boardMac;
    board::CreateBoard(Board(), options);
    if (c.ifconfig) {
      ASSERT_EQ(std::system(c.ifconfig), 0);
    }
    char16_t text[20];
    Fill(text);
    EXPECT_EQ(manager.GetMacAddress(kAdmin, kFactoryPassword, text), STATUS_OK);
    EXPECT_EQ(Narrowed(text), c.expected);
    EXPECT_EQ(text[17], 0);
    EXPECT_EQ(text[18], kUntouched);
  }
}

class FirmwareVersions : public BoardTest {
 protected:
  void RemovePartition(const char* device) const {
    std::filesystem::remove(board::HostPath(Board(), device));
  }
  void PutNameField(const char* device, const std::string& field) const {
    board::WritePartition(Board(), device, 32, field);
  }

  DeviceManager manager;
  char16_t os[40];
  char16_t fs[40];
};

TEST_F(FirmwareVersions, AreTheNameFieldsUpToTheirNulAndAtMost32Characters) {
  const std::string fs32 = "nolva-fs 2.0.1 build 20240611-01";
  PutNameField("/dev/mtd3", std::string("nolva-os 2.0.1\0garbage", 22));
  PutNameField("/dev/mtd4", fs32 + "NEXT FIELD");
  Fill(os);
  Fill(fs);
  EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs), STATUS_OK);
  EXPECT_EQ(Narrowed(os), "nolva-os 2.0.1");
  EXPECT_EQ(Narrowed(fs), fs32);
  EXPECT_EQ(os[15], kUntouched);
  EXPECT_EQ(fs[33], kUntouched);
}

TEST_F(FirmwareVersions, FieldCutByThePartitionsEndGivesTheBytesRead) {
  board::BoardOptions options = TestBoardOptions();
  options.mtdSize = 48;  // the name field holds only its first 16 bytes
  options.mtdEraseSize = 16;
  board::CreateBoard(Board(), options);
  PutNameField("/dev/mtd3", "nolva-os 3.1.4-r");
  PutNameField("/dev/mtd4", std::string("nolva-fs\0\0\0\0\0\0\0\0", 16));
  EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs), STATUS_OK);
  EXPECT_EQ(Narrowed(os), "nolva-os 3.1.4-r");
  EXPECT_EQ(Narrowed(fs), "nolva-fs");
}

TEST_F(FirmwareVersions, MissingPartitionFailsLeavingWhatWasNotRead) {
  const struct {
    const char* missing;
    const char* os;
  } cases[] = {{"/dev/mtd3", ""}, {"/dev/mtd4", "nolva-os 2.0.1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    board::CreateBoard(Board(), Options());
    PutNameField("/dev/mtd3", std::string("nolva-os 2.0.1\0", 15));
    RemovePartition(c.missing);
    os[0] = fs[0] = 0;
    EXPECT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs),
              STATUS_FIRMWARE_VERSION_FAILED);
    EXPECT_EQ(Narrowed(os), c.os);
    EXPECT_EQ(Narrowed(fs), "");
  }
}

}  // namespace
}  // namespace nolva::test
