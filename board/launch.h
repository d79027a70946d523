// Starting a program with the board library preloaded, natively or, in a
// cross build, through the emulator that runs the build's programs.
#pragma once

#include <string>
#include <vector>

namespace nolva::board {

struct Launch {
  std::vector<std::string> argv;  // what to execute
  std::string ldPreload;          // LD_PRELOAD for the process executed
};

// Native builds execute argv with LD_PRELOAD=preload. Cross builds execute
// the emulator (qemu-user), which hands the library to the emulated program
// with -E: the host's loader must never see a target library.
Launch PreloadedLaunch(const std::vector<std::string>& argv, const std::string& preload);

}  // namespace nolva::board
