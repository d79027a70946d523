#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "boot/boot.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::BoardTest;
using test::ProgramResult;

using RawFile = BoardTest;

TEST_F(RawFile, ReadOfAMissingFileFailsAndLeavesTheBufferAlone) {
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ReadRawFile("/flash/yurn_system.cfg", buffer, sizeof buffer), -1);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "xxxxxxxx");
}

TEST_F(RawFile, ReadOfAShortFileSucceedsAndKeepsTheRestOfTheBuffer) {
  WriteBoardFile("/flash/yurn_system.cfg", "abc");
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ReadRawFile("/flash/yurn_system.cfg", buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "abcxxxxx");
}

TEST_F(RawFile, ReadAndWriteRefuseANegativeLength) {
  WriteBoardFile("/flash/raw", "abc");
  char buffer[4] = {};
  EXPECT_EQ(ReadRawFile("/flash/raw", buffer, -1), -1);
  EXPECT_EQ(WriteRawFile("/flash/raw", buffer, -1), -1);
  EXPECT_EQ(ReadBoardFile("/flash/raw"), "abc");
}

TEST_F(RawFile, WriteOverwritesTheHeadAndSetsMode0666) {
  WriteBoardFile("/flash/raw", "0123456789");
  ::chmod(board::HostPath(Board(), "/flash/raw").c_str(), 0600);
  EXPECT_EQ(WriteRawFile("/flash/raw", "abcd", 4), 0);
  EXPECT_EQ(ReadBoardFile("/flash/raw"), "abcd456789");
  struct stat status {};
  ASSERT_EQ(::stat(board::HostPath(Board(), "/flash/raw").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666u);
}

TEST_F(RawFile, WriteCreatesAMissingFile) {
  EXPECT_EQ(WriteRawFile("/flash/raw", "abcd", 4), 0);
  EXPECT_EQ(ReadBoardFile("/flash/raw"), "abcd");
}

TEST_F(RawFile, WriteReportsAFailedWrite) {
  SetFault("flash-full");
  EXPECT_EQ(WriteRawFile("/flash/raw", "abcd", 4), -1);
}

TEST_F(RawFile, WriteReportsAFailedOpen) {
  SetFault("flash-readonly");
  EXPECT_EQ(WriteRawFile("/flash/raw", "abcd", 4), -1);
  EXPECT_FALSE(BoardFileExists("/flash/raw"));
}

}  // namespace
}  // namespace nolva
