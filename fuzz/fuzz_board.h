// Fuzz targets run on a simulated board of their own, made once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace nolva::fuzz {

// Makes a fresh board in a temporary directory and makes it the active one.
void StartBoard();

// Empties the board's flash and its log: each input starts on a factory
// fresh device, and a long run does not fill the disk with log lines.
void WipeBoard();

void WriteBoardFile(const char* devicePath, const std::uint8_t* data, std::size_t size);

}  // namespace nolva::fuzz

// A broken promise is a finding: libFuzzer keeps the input that aborted.
#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (false)
