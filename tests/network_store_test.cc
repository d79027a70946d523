#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "store/device_manager.h"
#include "tests/record_bytes.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::BoardTest;
using test::ProgramResult;

const std::string& kDefaultBytes = kNetworkDefaultBytes;
const std::string& kStaticBytes = kNetworkStaticBytes;

NetworkSettings FilledWith(unsigned char byte) {
  NetworkSettings settings;
  memset(&settings, byte, sizeof settings);
  return settings;
}

class NetworkStore : public BoardTest {
 protected:
  DeviceManager manager;
};

TEST_F(NetworkStore, MissingFileLoadsAndStoresTheDefaults) {
  NetworkSettings settings = FilledWith(0xEE);
  EXPECT_EQ(manager.LoadNetworkSettings(&settings), 0);
  EXPECT_EQ(BytesOf(settings), kDefaultBytes);
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), kDefaultBytes);
}

TEST_F(NetworkStore, ShortFileFailsKeepingTheCallersTailAndTheFile) {
  WriteBoardFile("/flash/nolva_system", kStaticBytes.substr(0, 10));
  NetworkSettings settings = FilledWith(0xEE);
  EXPECT_EQ(manager.LoadNetworkSettings(&settings), -1);
  EXPECT_EQ(BytesOf(settings), kStaticBytes.substr(0, 10) + std::string(6, '\xEE'));
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), kStaticBytes.substr(0, 10));
}

TEST_F(NetworkStore, LongFileLoadsItsFirstSixteenBytes) {
  WriteBoardFile("/flash/nolva_system", kStaticBytes + "tail");
  NetworkSettings settings = FilledWith(0xEE);
  EXPECT_EQ(manager.LoadNetworkSettings(&settings), 0);
  EXPECT_EQ(BytesOf(settings), kStaticBytes);
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), kStaticBytes + "tail");
}

TEST_F(NetworkStore, SaveThenLoadGivesBackTheSameBytesUnvalidated) {
  NetworkSettings saved = FilledWith(0);
  saved.dhcp = 5;
  saved.address[0] = 250;
  ASSERT_EQ(manager.SaveNetworkSettings(&saved), 0);
  NetworkSettings loaded = FilledWith(0xEE);
  EXPECT_EQ(manager.LoadNetworkSettings(&loaded), 0);
  EXPECT_EQ(BytesOf(loaded), BytesOf(saved));
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), BytesOf(saved));
}

TEST_F(NetworkStore, ResetWritesTheDefaultsOverAStoredRecord) {
  WriteBoardFile("/flash/nolva_system", kStaticBytes);
  NetworkSettings settings = FilledWith(0xEE);
  EXPECT_EQ(manager.ResetNetworkSettings(&settings), 0);
  EXPECT_EQ(BytesOf(settings), kDefaultBytes);
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), kDefaultBytes);
}

TEST_F(NetworkStore, MissingFileOnReadOnlyFlashFailsWithTheDefaultsInTheRecord) {
  SetFault("flash-readonly");
  NetworkSettings settings = FilledWith(0xEE);
  EXPECT_EQ(manager.LoadNetworkSettings(&settings), -1);
  EXPECT_EQ(BytesOf(settings), kDefaultBytes);
  EXPECT_FALSE(BoardFileExists("/flash/nolva_system"));
}

TEST_F(NetworkStore, ConstructingAManagerTouchesNoFile) {
  { DeviceManager another; }
  EXPECT_TRUE(LogLines().empty());
}

// A save that fails at any step must leave the stored record whole.
class FailedNetworkSave : public NetworkStore, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedNetworkSave, KeepsTheOldFileAndLeavesNoTemporaryFile) {
  WriteBoardFile("/flash/nolva_system", kStaticBytes);
  SetFault(GetParam());
  NetworkSettings settings = FilledWith(0x11);
  EXPECT_EQ(manager.SaveNetworkSettings(&settings), -1);
  EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), kStaticBytes);
  EXPECT_EQ(FlashFileNames(), std::vector<std::string>{"nolva_system"});
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedNetworkSave,
                         ::testing::Values("flash-full", "flash-readonly", "flash-fsync-fails",
                                           "flash-rename-fails"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

}  // namespace
}  // namespace nolva
