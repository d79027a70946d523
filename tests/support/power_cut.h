// Running a piece of code on the board until the power is cut.
#pragma once

#include <functional>
#include <string>

namespace nolva::test {

struct CutRun {
  bool cut;     // the board cut the power during the run
  bool killed;  // the forked process died by it (a program it ran may have died instead)
  long steps;   // flash steps that happened
};

// Forks; the child runs `body` with the power cut after `steps` flash steps
// and exits. With steps < 0 the steps are only counted. The fault is cleared
// afterwards.
CutRun RunUntilPowerCut(const std::string& board, long steps, const std::function<void()>& body);

}  // namespace nolva::test
