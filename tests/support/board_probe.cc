// Test helper run on a preloaded board: board_probe PATH TEXT says "main" on
// standard output, then writes TEXT to PATH with stdio.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::puts("main");
  std::fflush(stdout);
  FILE* file = std::fopen(argv[1], "w");
  if (file == nullptr) return 3;
  std::fputs(argv[2], file);
  return std::fclose(file) == 0 ? 0 : 4;
}
