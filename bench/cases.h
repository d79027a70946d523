// What is measured: one row per operation (or per setting of one), with the
// floor it is held against.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "store/device_manager.h"

namespace nolva::bench {

struct Case {
  std::string name;
  std::function<void()> arrange;                // the flash before the runs
  std::function<void(DeviceManager&)> measure;  // one call
  std::function<void()> floor;                  // empty: no floor
  double goal = 1.5;                            // time over floor, at most
  bool ownProcess = false;                      // runs a program: timed by the clock
};

std::vector<Case> Cases();

}  // namespace nolva::bench
