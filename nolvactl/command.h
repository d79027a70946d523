// What every nolvactl command is made of: its name, its options, its help
// and the function that runs it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "store/device_manager.h"

namespace nolvactl {

// Exit statuses, documented in `nolvactl --help` and the README.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,       // the operation reported its own failure
  kExitBadInput = 2,     // refused before any operation was called
  kExitAuthRefused = 3,  // the credentials were refused
  kExitRefused = 4,      // the settings were refused (port conflict)
};

struct OptionSpec {
  const char* name;   // without the leading "--"
  const char* value;  // placeholder of its value; nullptr for a flag
  const char* help;
};

struct Invocation;
using RunFunction = int (*)(Invocation& call);

struct Command {
  const char* name;      // "user add"
  const char* operands;  // "NAME", or "" when it takes none
  const char* summary;
  std::vector<OptionSpec> options;
  bool gated;  // takes the caller's credentials
  RunFunction run;
  const char* details;  // further help text, or ""
};

// A parsed command line, and the manager the command works on.
struct Invocation {
  const Command* command = nullptr;
  nolva::DeviceManager* manager = nullptr;
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // flags map to ""
  bool json = false;
  std::string user = "admin";
  std::string passwordFile;

  bool Has(const char* name) const { return options.count(name) != 0; }
  const std::string& Value(const char* name) const { return options.at(name); }
};

// The command groups, each defined in its own file.
extern const std::vector<Command> kLoginCommands;
extern const std::vector<Command> kDeviceCommands;
extern const std::vector<Command> kFirmwareCommands;
extern const std::vector<Command> kAccountCommands;
extern const std::vector<Command> kNetworkCommands;
extern const std::vector<Command> kServiceCommands;

}  // namespace nolvactl
