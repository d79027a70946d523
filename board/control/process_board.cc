#include "board/control/process_board.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

extern "C" int nolva_board_active(void);

namespace nolva::board {
namespace {

namespace fs = std::filesystem;

std::string root;
std::string boardDir;

void RemoveBoard() {
  std::error_code error;
  fs::remove_all(root, error);
}

// In memory when the machine offers it: the board's syncs then cost nothing,
// and the process spends its time in the device's code, not waiting on a disk.
std::string TemporaryParent() {
  std::error_code error;
  return fs::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

}  // namespace

void StartBoard(const BoardOptions& options) {
  std::string dir = TemporaryParent() + "/nolva-board-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  root = dir;
  boardDir = root + "/board";
  CreateBoard(boardDir, options);
  setenv("NOLVA_BOARD", boardDir.c_str(), 1);
  if (nolva_board_active() != 1) {
    std::fprintf(stderr, "nolva: the simulated board is not active\n");
    std::abort();
  }
  std::atexit(RemoveBoard);
}

const std::string& BoardDirectory() {
  return boardDir;
}

void WipeBoard() {
  for (const fs::directory_entry& entry : fs::directory_iterator(boardDir + "/flash"))
    fs::remove_all(entry.path());
  ClearLog();
}

void ClearLog() {
  fs::resize_file(boardDir + "/log", 0);
}

void WriteBoardFile(const char* devicePath, const std::uint8_t* data, std::size_t size) {
  WriteFile(HostPath(boardDir, devicePath), std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace nolva::board
