// Updating a firmware partition: routing by the name field, erase, chunked
// writes, read-back verification, and every way the flash can fail.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "store/device_manager.h"
#include "tests/device_test_support.h"
#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr std::size_t kPartitionSize = 256 << 10;  // the test board's
constexpr std::size_t kEraseSize = 4 << 10;
const std::string kErased(kPartitionSize, '\xFF');

class FirmwareUpdate : public BoardTest {
 protected:
  StatusCode Update(const std::vector<std::uint8_t>& image) {
    return manager.UpdateFirmware(kAdmin, kFactoryPassword, image.data(),
                                  static_cast<std::int32_t>(image.size()));
  }
  std::vector<std::string> Logged(const std::string& prefix) const {
    return LinesStartingWith(LogLines(), prefix);
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> sizes;
    for (const std::string& line : Logged("write /dev/mtd3 "))
      sizes.push_back(line.substr(16));
    return sizes;
  }
  void FillPartition(const char* device, char byte) const {
    board::WritePartition(Board(), device, 0, std::string(kPartitionSize, byte));
  }

  DeviceManager manager;
};

TEST_F(FirmwareUpdate, NameFieldRoutesTheImageToItsPartition) {
  const struct {
    std::string name;
    StatusCode status;
    const char* written;  // nullptr: no device is opened at all
  } cases[] = {
      {"nolva-os 4.2.0", STATUS_OK, "/dev/mtd3"},
      {"nolva-fs 4.2.0", STATUS_OK, "/dev/mtd4"},
      {std::string("nolva-o\0s 4.2.0", 15), STATUS_FIRMWARE_UPDATE_FAILED, nullptr},
      {"NOLVA-OS 4.2.0", STATUS_FIRMWARE_UPDATE_FAILED, nullptr},
      {"Nolva-fs 4.2.0", STATUS_FIRMWARE_UPDATE_FAILED, nullptr},
      {"nolva-xx 4.2.0", STATUS_FIRMWARE_UPDATE_FAILED, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board::CreateBoard(Board(), Options());
    const std::vector<std::uint8_t> image = Image(c.name, 10000);
    EXPECT_EQ(Update(image), c.status);
    for (const char* device : {"/dev/mtd3", "/dev/mtd4"}) {
      const std::string expected = c.written && c.written == std::string(device)
                                       ? Bytes(image) + kErased.substr(10000)
                                       : kErased;
      EXPECT_EQ(ReadBoardFile(device), expected) << device;
    }
    if (!c.written) {
      EXPECT_THAT(Logged("open /dev/"), IsEmpty());
    }
  }
}

TEST_F(FirmwareUpdate, VersionsShowTheNameFieldsWritten) {
  ASSERT_EQ(Update(Image("nolva-os 4.2.0", 5000)), STATUS_OK);
  ASSERT_EQ(Update(Image("nolva-fs 4.2.1-rc1", 6000)), STATUS_OK);
  char16_t os[33];
  char16_t fs[33];
  ASSERT_EQ(manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs), STATUS_OK);
  // The field runs on into the image's own bytes, as the image's maker chose.
  EXPECT_EQ(Narrowed(os).substr(0, 14), "nolva-os 4.2.0");
  EXPECT_EQ(Narrowed(fs).substr(0, 18), "nolva-fs 4.2.1-rc1");
}

TEST_F(FirmwareUpdate, ImageTooShortToHoldTheSelectorOpensNoDevice) {
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 64);
  for (std::int32_t length : {39, 1, 0, -1, -40000}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(manager.UpdateFirmware(kAdmin, kFactoryPassword, image.data(), length),
              STATUS_FIRMWARE_UPDATE_FAILED);
  }
  EXPECT_EQ(manager.UpdateFirmware(kAdmin, kFactoryPassword, nullptr, 64),
            STATUS_FIRMWARE_UPDATE_FAILED);
  EXPECT_EQ(manager.WriteFirmwareImage(image.data(), 39), -1);
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 39), -1);
  EXPECT_THAT(Logged("open /dev/"), IsEmpty());
}

TEST_F(FirmwareUpdate, EraseCoversOneBlockMoreThanTheWholeBlocksFilled) {
  const struct {
    std::size_t length;
    std::size_t erased;
  } cases[] = {
      {3 * kEraseSize, 4 * kEraseSize},
      {3 * kEraseSize + 1, 4 * kEraseSize},
      {kEraseSize - 1, kEraseSize},
      {kPartitionSize - 1, kPartitionSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    board::CreateBoard(Board(), Options());
    FillPartition("/dev/mtd3", '\0');
    const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", c.length);
    EXPECT_EQ(Update(image), STATUS_OK);
    EXPECT_THAT(Logged("erase "), ElementsAre("erase /dev/mtd3 0 " + std::to_string(c.erased)));
    EXPECT_EQ(ReadBoardFile("/dev/mtd3"), Bytes(image) + std::string(c.erased - c.length, '\xFF') +
                                              std::string(kPartitionSize - c.erased, '\0'));
  }
}

TEST_F(FirmwareUpdate, ErasePassingThePartitionsEndIsNeverRequested) {
  for (std::size_t length : {kPartitionSize, kPartitionSize + 5000}) {
    SCOPED_TRACE(length);
    board::CreateBoard(Board(), Options());
    FillPartition("/dev/mtd3", 'k');
    const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", length);
    EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
    EXPECT_EQ(manager.WriteFirmwareImage(image.data(), static_cast<std::int32_t>(length)), -2);
    EXPECT_THAT(Logged("erase "), IsEmpty());
    EXPECT_THAT(Writes(), IsEmpty());
    EXPECT_EQ(ReadBoardFile("/dev/mtd3"), std::string(kPartitionSize, 'k'));
  }
}

TEST_F(FirmwareUpdate, EraseSettlesTenSecondsBeforeTheFirstWrite) {
  ASSERT_EQ(Update(Image("nolva-os 4.2.0", 10000)), STATUS_OK);
  const std::vector<std::string> steps = Logged("");
  std::vector<std::string> device;
  for (const std::string& line : steps)
    if (line.find("/dev/mtd3") != std::string::npos || line.rfind("usleep", 0) == 0)
      device.push_back(line);
  EXPECT_THAT(device, ElementsAre("open /dev/mtd3 O_RDWR|O_SYNC|O_CLOEXEC",
                                  "ioctl /dev/mtd3 MEMGETINFO", "erase /dev/mtd3 0 12288",
                                  "usleep 10000000", "write /dev/mtd3 10000", "close /dev/mtd3",
                                  "open /dev/mtd3 O_RDONLY|O_CLOEXEC", "read /dev/mtd3 4096",
                                  "read /dev/mtd3 4096", "read /dev/mtd3 1808", "close /dev/mtd3"));
}

TEST_F(FirmwareUpdate, WritesHandOverAtMost128EraseBlocks) {
  const struct {
    std::uint32_t eraseSize;
    std::uint32_t partitionSize;
    std::size_t length;
    std::vector<std::string> writes;
  } cases[] = {
      {4 << 10, 2 << 20, (3 << 19) + 100, {"524288", "524288", "524288", "100"}},
      {4 << 10, 2 << 20, 2 << 19, {"524288", "524288"}},
      {64 << 10, 9 << 20, (8 << 20) + 100, {"8388608", "100"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    board::BoardOptions options = Options();
    options.mtdEraseSize = c.eraseSize;
    options.mtdSize = c.partitionSize;
    board::CreateBoard(Board(), options);
    const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", c.length);
    EXPECT_EQ(Update(image), STATUS_OK);
    EXPECT_THAT(Writes(), ElementsAreArray(c.writes));
    EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, c.length), Bytes(image));
  }
}

TEST_F(FirmwareUpdate, ShortWritesAreContinuedAtTheNextUnwrittenByte) {
  SetFault("mtd-short-writes", "3000");
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  EXPECT_EQ(Update(image), STATUS_OK);
  EXPECT_THAT(Writes(), ElementsAre("3000", "3000", "3000", "1000"));
  EXPECT_EQ(ReadBoardFile("/dev/mtd3").substr(0, 10000), Bytes(image));
}

TEST_F(FirmwareUpdate, EveryDeviceFailureIsReportedAsUpdateFailed) {
  const struct {
    const char* fault;
    const char* value;
    std::int32_t writeResult;
    bool erases;
  } cases[] = {
      {"mtd-getinfo-fails", "", -1, false}, {"mtd-erasesize-zero", "", -1, false},
      {"mtd-erase-fails", "", -2, false},   {"mtd-write-fails", "", -1, true},
      {"mtd-write-stalls", "", -1, true},  // a write that takes 0 bytes
      {"mtd-short-writes", "0", -1, true},  {"mtd-read-flips", "100", 0, true},
  };
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    board::CreateBoard(Board(), Options());
    SetFault(c.fault, c.value);
    EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
    EXPECT_EQ(Logged("erase ").size(), c.erases ? 1u : 0u);
    EXPECT_EQ(manager.WriteFirmwareImage(image.data(), 10000), c.writeResult);
  }
}

TEST_F(FirmwareUpdate, MissingPartitionIsReportedAsUpdateFailed) {
  std::filesystem::remove(board::HostPath(Board(), "/dev/mtd4"));
  const std::vector<std::uint8_t> image = Image("nolva-fs 4.2.0", 10000);
  EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
  EXPECT_EQ(manager.WriteFirmwareImage(image.data(), 10000), -1);
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 10000), -1);
}

class CompareFirmwareImage : public FirmwareUpdate {};

TEST_F(CompareFirmwareImage, GivesMinusTheOffsetOfTheFirstDifference) {
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  ASSERT_EQ(Update(image), STATUS_OK);
  const struct {
    const char* flippedAt;  // nullptr: the read-back is sound
    std::int32_t result;
  } cases[] = {
      {nullptr, 0}, {"5000", -5000}, {"0", -1}, {"1", -1}, {"9999", -9999}, {"10000", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flippedAt ? c.flippedAt : "none");
    if (c.flippedAt)
      SetFault("mtd-read-flips", c.flippedAt);
    else
      ClearFault("mtd-read-flips");
    EXPECT_EQ(manager.CompareFirmwareImage(image.data(), 10000), c.result);
  }
}

TEST_F(CompareFirmwareImage, ImageLongerThanThePartitionFailsAtItsEnd) {
  std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", kPartitionSize + 3000);
  board::WritePartition(Board(), "/dev/mtd3", 0, Bytes(image).substr(0, kPartitionSize));
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), static_cast<std::int32_t>(image.size())),
            -1);
  image[7000] ^= 0x10;
  EXPECT_EQ(manager.CompareFirmwareImage(image.data(), static_cast<std::int32_t>(image.size())),
            -7000);
}

}  // namespace
}  // namespace nolva::test
