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

TEST_F(FirmwareUpdate, EraseCoversOneBlockMoreThanTheWholeBlocksFilledAndNeverPassesTheEnd) {
  const struct {
    std::size_t length;
    std::size_t erased;  // 0: refused before anything is erased
  } cases[] = {
      {3 * kEraseSize, 4 * kEraseSize},
      {3 * kEraseSize + 1, 4 * kEraseSize},
      {kEraseSize - 1, kEraseSize},
      {kPartitionSize - 1, kPartitionSize},
      {kPartitionSize, 0},
      {kPartitionSize + 5000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    board::CreateBoard(Board(), Options());
    board::WritePartition(Board(), "/dev/mtd3", 0, std::string(kPartitionSize, '\0'));
    const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", c.length);
    const std::int32_t length = static_cast<std::int32_t>(c.length);
    if (c.erased == 0) {
      EXPECT_EQ(Update(image), STATUS_FIRMWARE_UPDATE_FAILED);
      EXPECT_EQ(manager.WriteFirmwareImage(image.data(), length), -2);
      EXPECT_THAT(Logged("erase "), IsEmpty());
      EXPECT_EQ(ReadBoardFile("/dev/mtd3"), std::string(kPartitionSize, '\0'));
      continue;
    }
    EXPECT_EQ(Update(image), STATUS_OK);
    EXPECT_THAT(Logged("erase "), ElementsAre("erase /dev/mtd3 0 " + std::to_string(c.erased)));
    EXPECT_EQ(ReadBoardFile("/dev/mtd3"), Bytes(image) + std::string(c.erased - c.length, '\xFF') +
                                              std::string(kPartitionSize - c.erased, '\0'));
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

TEST_F(FirmwareUpdate, WritesHandOverAtMost128EraseBlocksAndContinueShortOnes) {
  const struct {
    std::uint32_t eraseSize;
    std::uint32_t partitionSize;
    std::size_t length;
    const char* shortWrites;  // the most a write takes, or nullptr
    std::vector<std::string> writes;
  } cases[] = {
      {4 << 10, 2 << 20, (3 << 19) + 100, nullptr, {"524288", "524288", "524288", "100"}},
      {4 << 10, 2 << 20, 2 << 19, nullptr, {"524288", "524288"}},
      {64 << 10, 9 << 20, (8 << 20) + 100, nullptr, {"8388608", "100"}},
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
    EXPECT_THAT(Writes(), ElementsAreArray(c.writes));
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
      {"mtd-short-writes", "0", -1, true},
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
