#include "nolvactl/arguments.h"

#include <cctype>
#include <sstream>

namespace nolvactl {
namespace {

const std::vector<OptionSpec> kGlobalOptions = {
    {"user", "NAME", "the account to act as (default: admin)"},
    {"password-file", "FILE", "read the password from the first line of FILE"},
    {"json", nullptr, "print one JSON object instead of text"},
    {"help", nullptr, "show this help"},
};

const char kExitTable[] =
    "exit status:\n"
    "  0  success\n"
    "  1  the operation failed (its status code is shown)\n"
    "  2  bad input: nothing was called on the device\n"
    "  3  credentials refused (0x80000300)\n"
    "  4  settings refused: ports in conflict (0xFFFFFFFF)\n";

const char kPasswordHelp[] =
    "password: from --password-file FILE, else from the environment variable\n"
    "NOLVA_PASSWORD, else asked for without echo when run on a terminal.\n"
    "It is never taken from the command line.\n";

std::vector<std::string> Words(const char* name) {
  std::vector<std::string> words;
  std::istringstream in(name);
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const OptionSpec& option : options)
    if (name == option.name) return &option;
  return nullptr;
}

// The command whose words start args at `at`, the longest match winning.
const Command* MatchCommand(const std::vector<std::string>& args, std::size_t at,
                            const std::vector<const Command*>& commands, std::size_t* length) {
  const Command* best = nullptr;
  *length = 0;
  for (const Command* command : commands) {
    const std::vector<std::string> words = Words(command->name);
    if (args.size() - at < words.size() || words.size() <= *length) continue;
    bool same = true;
    for (std::size_t i = 0; i < words.size(); ++i)
      same = same && args[at + i] == words[i];
    if (same) {
      best = command;
      *length = words.size();
    }
  }
  return best;
}

std::string OptionLines(const std::vector<OptionSpec>& options) {
  std::string text;
  for (const OptionSpec& option : options) {
    std::string left = std::string("  --") + option.name;
    if (option.value != nullptr) left += std::string(" ") + option.value;
    if (left.size() < 28)
      left.resize(28, ' ');
    else
      left += "\n" + std::string(28, ' ');
    text += left + option.help + "\n";
  }
  return text;
}

std::string CommandLines(const std::vector<const Command*>& commands, const std::string& group) {
  std::string text;
  for (const Command* command : commands) {
    if (!group.empty() && Words(command->name)[0] != group) continue;
    std::string left = std::string("  ") + command->name;
    if (command->operands[0] != '\0') left += std::string(" ") + command->operands;
    if (left.size() < 28)
      left.resize(28, ' ');
    else
      left += "\n" + std::string(28, ' ');
    text += left + command->summary + "\n";
  }
  return text;
}

// The problem names the command itself; --json still holds.
ParsedLine BadInput(const Invocation& call, const std::string& problem) {
  ParsedLine line;
  line.outcome = ParsedLine::kBadInput;
  line.call.json = call.json;
  line.text = problem;
  return line;
}

ParsedLine Help(const std::string& text) {
  ParsedLine line;
  line.outcome = ParsedLine::kHelp;
  line.text = text;
  return line;
}

// Takes the option at args[*at] ("--name", "--name=value", "--name value").
// Returns the problem, or "" when it was taken.
std::string TakeOption(const std::vector<std::string>& args, std::size_t* at,
                       const std::vector<OptionSpec>& options, Invocation* call) {
  const std::string& arg = args[*at];
  const std::size_t equals = arg.find('=');
  const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
  const OptionSpec* known = FindOption(options, name);
  if (known == nullptr) known = FindOption(kGlobalOptions, name);
  if (known == nullptr) return "unknown option --" + name;
  std::string value;
  if (known->value == nullptr) {
    if (equals != std::string::npos) return "--" + name + " takes no value";
  } else if (equals != std::string::npos) {
    value = arg.substr(equals + 1);
  } else if (*at + 1 < args.size()) {
    value = args[++*at];
  } else {
    return "--" + name + " needs a value (" + known->value + ")";
  }
  if (name == "json") {
    call->json = true;
  } else if (name == "user") {
    call->user = value;
  } else if (name == "password-file") {
    call->passwordFile = value;
  } else if (!call->options.emplace(name, value).second) {
    return "--" + name + " given twice";
  }
  return "";
}

bool WantsHelp(const std::vector<std::string>& args, std::size_t from) {
  for (std::size_t i = from; i < args.size() && args[i] != "--"; ++i)
    if (args[i] == "--help" || args[i] == "-h") return true;
  return false;
}

}  // namespace

std::string TopHelp(const std::vector<const Command*>& commands) {
  return "usage: nolvactl [--user NAME] [--password-file FILE] [--json] COMMAND [ARGS...]\n"
         "\n"
         "Calls the device's management operations on this board, one command per\n"
         "operation. `nolvactl COMMAND --help` explains a command and its options.\n"
         "\n"
         "commands:\n" +
         CommandLines(commands, "") + "\noptions of every command:\n" +
         OptionLines(kGlobalOptions) + "\n" + kPasswordHelp + "\n" + kExitTable;
}

std::string CommandHelp(const Command& command) {
  std::string text = std::string("usage: nolvactl ") + command.name;
  if (!command.options.empty()) text += " [OPTIONS]";
  if (command.operands[0] != '\0') text += std::string(" ") + command.operands;
  std::string summary = command.summary;
  summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
  text += "\n\n" + summary + ".\n";
  if (command.details[0] != '\0') text += std::string("\n") + command.details;
  if (!command.options.empty()) text += "\noptions:\n" + OptionLines(command.options);
  text += "\noptions of every command:\n";
  for (const OptionSpec& option : kGlobalOptions) {
    const bool credential =
        std::string(option.name) == "user" || std::string(option.name) == "password-file";
    if (command.needs != Needs::kNothing || !credential) text += OptionLines({option});
  }
  if (command.needs != Needs::kNothing) text += std::string("\n") + kPasswordHelp;
  return text + "\n" + kExitTable;
}

ParsedLine ParseCommandLine(const std::vector<std::string>& args,
                            const std::vector<const Command*>& commands) {
  Invocation call;
  std::size_t at = 0;
  for (; at < args.size() && args[at].size() > 1 && args[at][0] == '-'; ++at) {
    if (args[at] == "--help" || args[at] == "-h") return Help(TopHelp(commands));
    if (args[at].compare(0, 2, "--") != 0) return BadInput(call, "unknown option " + args[at]);
    const std::string problem = TakeOption(args, &at, {}, &call);
    if (!problem.empty()) return BadInput(call, problem);
  }
  if (at == args.size()) return BadInput(call, "no command given (see nolvactl --help)");
  if (args[at] == "help") return Help(TopHelp(commands));

  std::size_t length = 0;
  const Command* command = MatchCommand(args, at, commands, &length);
  if (command == nullptr) {
    const std::string group = CommandLines(commands, args[at]);
    if (group.empty())
      return BadInput(call, "unknown command " + args[at] + " (see nolvactl --help)");
    if (WantsHelp(args, at + 1)) return Help("usage:\n" + group);
    return BadInput(call, args[at] + ": which one?\n" + group);
  }
  if (WantsHelp(args, at + length)) return Help(CommandHelp(*command));

  call.command = command;
  bool operandsOnly = false;
  for (at += length; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (!operandsOnly && arg == "--") {
      operandsOnly = true;
    } else if (!operandsOnly && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const std::string problem = TakeOption(args, &at, command->options, &call);
      if (!problem.empty()) return BadInput(call, std::string(command->name) + ": " + problem);
    } else if (!operandsOnly && arg.size() > 1 && arg[0] == '-') {
      return BadInput(call, std::string(command->name) + ": unknown option " + arg);
    } else {
      call.operands.push_back(arg);
    }
  }
  const std::size_t wanted = Words(command->operands).size();
  if (call.operands.size() < wanted)
    return BadInput(call, std::string(command->name) + ": " + command->operands + " missing");
  if (call.operands.size() > wanted)
    return BadInput(call,
                    std::string(command->name) + ": unexpected argument " + call.operands[wanted]);
  ParsedLine line;
  line.call = call;
  return line;
}

}  // namespace nolvactl
