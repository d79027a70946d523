#include "tests/support/board_test.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace nolva::test {

const char* BoardProbe() {
  return NOLVA_BOARD_PROBE_PATH;
}

board::BoardOptions TestBoardOptions() {
  board::BoardOptions options;
  options.mtdSize = 256u << 10;
  options.mtdEraseSize = 4u << 10;
  return options;
}

void BoardTest::SetUp() {
  board::CreateBoard(Board(), Options());
}

std::string BoardTest::Board() const {
  const char* dir = std::getenv("NOLVA_BOARD");
  return dir != nullptr ? dir : "";
}

void BoardTest::WriteBoardFile(const std::string& devicePath, const std::string& bytes) const {
  board::WriteFile(board::HostPath(Board(), devicePath), bytes);
}

std::string BoardTest::ReadBoardFile(const std::string& devicePath) const {
  return board::ReadFile(board::HostPath(Board(), devicePath));
}

bool BoardTest::BoardFileExists(const std::string& devicePath) const {
  return board::FileExists(board::HostPath(Board(), devicePath));
}

void BoardTest::SetFault(const std::string& name, const std::string& value) const {
  board::SetFault(Board(), name, value);
}

void BoardTest::ClearFault(const std::string& name) const {
  board::ClearFault(Board(), name);
}

std::vector<std::string> BoardTest::LogLines() const {
  return board::LogLines(Board());
}

std::vector<std::string> BoardTest::FlashFileNames() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Board() + "/flash")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ProgramResult BoardTest::RunProgram(const std::string& path, const std::vector<std::string>& args,
                                    const std::vector<std::string>& extraEnv) const {
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  return board::RunOnBoard(Board(), {argv, NOLVA_BOARD_PRELOAD_PATH, extraEnv}, true);
}

}  // namespace nolva::test
