// Test helper run on a preloaded board: each argument pair is one action.
//   write PATH TEXT   fopen(PATH, "w") and write TEXT
//   exit N            exit with status N
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "exit") == 0) return std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "write") == 0 && i + 2 < argc) {
      FILE* file = std::fopen(argv[i + 1], "w");
      if (file == nullptr) return 3;
      std::fputs(argv[i + 2], file);
      if (std::fclose(file) != 0) return 4;
      ++i;
      continue;
    }
    return 2;
  }
  return 0;
}
