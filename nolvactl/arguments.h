// The command line: global options, the command's words, its options and
// operands. Nothing is called on the device while parsing.
#pragma once

#include <string>
#include <vector>

#include "nolvactl/command.h"

namespace nolvactl {

struct ParsedLine {
  enum Outcome { kRun, kHelp, kBadInput } outcome = kRun;
  Invocation call;
  std::string text;  // the help to show, or the problem
};

ParsedLine ParseCommandLine(const std::vector<std::string>& args,
                            const std::vector<const Command*>& commands);

std::string TopHelp(const std::vector<const Command*>& commands);
std::string CommandHelp(const Command& command);

}  // namespace nolvactl
