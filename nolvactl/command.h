// What every nolvactl command is made of: its name, its options, its help,
// what it needs before it runs and the action that calls the device.
#pragma once

#include <cstddef>
#include <cstdint>
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

inline const std::vector<OptionSpec> kNoOptions = {};

struct Invocation;
struct Credentials;  // password_input.h
struct Outcome;      // output.h

// Refuses bad input before anything is called: returns the problem, or "".
// It may keep what it read in the invocation for the action.
using Check = std::string (*)(Invocation& call);
// Calls the device and tells what came of it.
using Action = Outcome (*)(const Invocation& call, const Credentials& who);

enum class Needs {
  kNothing,
  kCredentials,  // the caller's name and password
  kNewPassword,  // those, then a new password for the account operand
};

// Every command runs the same way: check, credentials, action.
struct Command {
  const char* name;      // "user add"
  const char* operands;  // "NAME", or "" when it takes none
  const char* summary;
  std::vector<OptionSpec> options;
  Check check;  // nullptr: the command line says all there is to check
  Needs needs;
  Action run;
  const char* details;  // further help text, or ""
};

// A parsed command line, and the manager the command works on.
struct Invocation {
  const Command* command = nullptr;
  nolva::DeviceManager* manager = nullptr;
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // flags map to ""
  bool json = false;
  std::string user = nolva::kAdminName;
  std::string passwordFile;
  std::vector<std::uint8_t> image;  // update-firmware: the file, as its check read it

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
