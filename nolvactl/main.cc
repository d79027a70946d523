// nolvactl: the device's management operations from a shell, for the
// people who ship and service the board and for their scripts.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "nolvactl/arguments.h"
#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

using namespace nolvactl;

namespace {

const std::vector<const std::vector<Command>*> kGroups = {
    &kLoginCommands,   &kDeviceCommands,  &kFirmwareCommands,
    &kAccountCommands, &kNetworkCommands, &kServiceCommands,
};

// Bad input is refused before a password is asked for, and both before
// anything is called on the device.
int Execute(Invocation& call) {
  const Command& command = *call.command;
  Credentials who;
  std::string problem = command.check != nullptr ? command.check(call) : "";
  if (problem.empty() && command.needs != Needs::kNothing)
    problem = PrepareCaller(call, &who.caller);
  if (problem.empty() && command.needs == Needs::kNewPassword)
    problem = PrepareAccount(call, &who.account);
  if (!problem.empty()) return BadInput(call, problem);
  return Report(call, command.run(call, who));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::vector<const Command*> commands;
    for (const std::vector<Command>* group : kGroups)
      for (const Command& command : *group)
        commands.push_back(&command);

    ParsedLine line = ParseCommandLine({argv + 1, argv + argc}, commands);
    if (line.outcome == ParsedLine::kHelp) {
      std::fputs(line.text.c_str(), stdout);
      return kExitOk;
    }
    if (line.outcome == ParsedLine::kBadInput) {
      return BadInput(line.call, line.text);
    }
    nolva::DeviceManager manager;
    line.call.manager = &manager;
    return Execute(line.call);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nolvactl: %s\n", e.what());
    return kExitFailed;
  }
}
