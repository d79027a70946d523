// Test fixture: each test starts on a fresh simulated board.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/control/board_control.h"

namespace nolva::test {

using board::ProgramResult;

// A program for tests of the preloaded board: PROBE PATH TEXT says "main",
// then writes TEXT to PATH.
const char* BoardProbe();

// A board as tests make it: partitions of 256 KiB in 4 KiB erase blocks, so
// that making a board per test stays cheap.
board::BoardOptions TestBoardOptions();

class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  virtual board::BoardOptions Options() const { return TestBoardOptions(); }

  std::string Board() const;
  void WriteBoardFile(const std::string& devicePath, const std::string& bytes) const;
  std::string ReadBoardFile(const std::string& devicePath) const;
  bool BoardFileExists(const std::string& devicePath) const;
  void SetFault(const std::string& name, const std::string& value = "") const;
  void ClearFault(const std::string& name) const;
  std::vector<std::string> LogLines() const;
  // Names of the files in the board's /flash, sorted.
  std::vector<std::string> FlashFileNames() const;

  // Runs a program (no shell) on this board with the board library
  // preloaded and captures its standard output; extraEnv entries are
  // "NAME=value" and win over the defaults ("LD_PRELOAD=": no board library).
  ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args = {},
                           const std::vector<std::string>& extraEnv = {}) const;
};

}  // namespace nolva::test
