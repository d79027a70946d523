// Test entry: every test runs on a simulated board under a fresh temporary
// directory, and no test runs at all unless the board is active.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "board/control/board_control.h"
#include "tests/support/board_test.h"

extern "C" int nolva_board_active(void);

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  char root[] = "/tmp/nolva-tests-XXXXXX";
  if (mkdtemp(root) == nullptr) {
    std::perror("nolva tests: mkdtemp");
    return 1;
  }
  const std::string board = std::string(root) + "/board";
  nolva::board::CreateBoard(board, nolva::test::TestBoardOptions());
  setenv("NOLVA_BOARD", board.c_str(), 1);
  if (nolva_board_active() != 1) {
    std::fprintf(stderr, "nolva tests: the simulated board is not active; not running any test\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  if (result == 0) {
    std::error_code error;
    std::filesystem::remove_all(root, error);
  } else {
    std::fprintf(stderr, "nolva tests: board left at %s\n", board.c_str());
  }
  return result;
}
