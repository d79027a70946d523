// Starting a program on the board natively or, in a cross build, through the
// emulator that runs the build's programs.
#include "board/board_control.h"

// NOLVA_EMULATOR: the emulator's command words as string literals, each
// followed by a comma; empty in native builds.
#ifndef NOLVA_EMULATOR
#define NOLVA_EMULATOR
#endif

namespace nolva::board {
namespace {

const char* const kEmulator[] = {NOLVA_EMULATOR nullptr};

}  // namespace

Launch PreloadedLaunch(const std::vector<std::string>& argv, const std::string& preload) {
  if (kEmulator[0] == nullptr) return {argv, preload};
  Launch launch;
  for (const char* const* word = kEmulator; *word != nullptr; ++word)
    launch.argv.emplace_back(*word);
  launch.argv.insert(launch.argv.end(), {"-E", "LD_PRELOAD=" + preload});
  launch.argv.insert(launch.argv.end(), argv.begin(), argv.end());
  return launch;
}

}  // namespace nolva::board
