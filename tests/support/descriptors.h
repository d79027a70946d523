// The process's open descriptors, for tests that nothing is left open.
#pragma once

#include <map>
#include <string>

namespace nolva::test {

// Descriptor number -> what it is open on ("/tmp/x/board/flash/a", "socket:[...]").
std::map<int, std::string> OpenDescriptors();

}  // namespace nolva::test
