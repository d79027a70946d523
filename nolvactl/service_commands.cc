// The service and OCP settings: records of 32-bit words, of which the
// enabled flags and the ports mean something to the device; every other
// word is kept for the management front end and reachable with --set.
#include <cstdint>

#include "front/front.h"
#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

using nolva::OcpSettings;
using nolva::ServiceSettings;
using nolva::StatusCode;
using nolva::front::ParseNumber;
using nolva::front::ParsePort;
using nolva::front::ParseSwitch;

template <typename Record>
using Word = nolva::front::RecordField<Record>;

enum class Kind { kSwitch, kPort, kNumber };

template <typename Record>
struct WordOption {
  OptionSpec flag;
  std::int32_t Record::*member;
  Kind kind;
};

constexpr const auto& kServiceWords = nolva::front::kServiceFields;
constexpr const auto& kOcpWords = nolva::front::kOcpFields;

const OptionSpec kSetWordsOption = {
    "set", "FIELD=N,...", "set any word of the record by its field name (see get --json)"};

const WordOption<ServiceSettings> kServiceOptions[] = {
    {{"primary", "on|off", "enable or disable the primary service"},
     &ServiceSettings::primaryEnabled,
     Kind::kSwitch},
    {{"primary-port", "PORT", "port of the primary service"},
     &ServiceSettings::primaryPort,
     Kind::kPort},
    {{"primary-value", "N", "value word of the primary service"},
     &ServiceSettings::primaryValue,
     Kind::kNumber},
    {{"secondary", "on|off", "enable or disable the secondary service"},
     &ServiceSettings::secondaryEnabled,
     Kind::kSwitch},
    {{"secondary-port", "PORT", "port of the secondary service"},
     &ServiceSettings::secondaryPort,
     Kind::kPort},
    {{"secondary-value", "N", "value word of the secondary service"},
     &ServiceSettings::secondaryValue,
     Kind::kNumber},
};

const WordOption<OcpSettings> kOcpOptions[] = {
    {{"enabled", "on|off", "enable or disable the OCP service"},
     &OcpSettings::ocpEnabled,
     Kind::kSwitch},
    {{"port", "PORT", "port of the OCP service"}, &OcpSettings::ocpPort, Kind::kPort},
    {{"value", "N", "value word of the OCP service"}, &OcpSettings::ocpValue, Kind::kNumber},
};

template <typename Record>
struct Change {
  std::int32_t Record::*member;
  std::int32_t value;
};

std::string ParseWord(Kind kind, const std::string& option, const std::string& text,
                      std::int32_t* value) {
  if (kind == Kind::kSwitch && !ParseSwitch(text, value))
    return "--" + option + ": '" + text + "' is not on or off";
  if (kind == Kind::kPort && !ParsePort(text, value))
    return "--" + option + ": '" + text + "' is not a port (1 to 65535)";
  if (kind == Kind::kNumber && !ParseNumber(text, value))
    return "--" + option + ": '" + text + "' is not a 32-bit number";
  return "";
}

// "name=value,name=value" of --set, by the record's field names.
template <typename Record, std::size_t N>
std::string ParseSetList(const std::string& list, const Word<Record> (&words)[N],
                         std::vector<Change<Record>>* changes) {
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, end - start);
    const std::size_t equals = item.find('=');
    const std::string name = item.substr(0, equals);
    const Word<Record>* word = nullptr;
    for (const Word<Record>& candidate : words)
      if (name == candidate.name) word = &candidate;
    if (equals == std::string::npos) return "--set: '" + item + "' is not FIELD=N";
    if (word == nullptr) return "--set: unknown field '" + name + "'";
    std::int32_t value = 0;
    std::string problem = ParseWord(Kind::kNumber, "set " + name, item.substr(equals + 1), &value);
    if (!problem.empty()) return problem;
    changes->push_back({word->member, value});
    start = end + 1;
  }
  return "";
}

template <typename Record, std::size_t N, std::size_t M>
std::string ReadChanges(const Invocation& call, const WordOption<Record> (&options)[N],
                        const Word<Record> (&words)[M], std::vector<Change<Record>>* changes) {
  if (call.options.empty()) return "nothing to change (see --help)";
  for (const WordOption<Record>& option : options) {
    if (!call.Has(option.flag.name)) continue;
    std::int32_t value = 0;
    std::string problem =
        ParseWord(option.kind, option.flag.name, call.Value(option.flag.name), &value);
    if (!problem.empty()) return problem;
    changes->push_back({option.member, value});
  }
  if (call.Has("set")) return ParseSetList(call.Value("set"), words, changes);
  return "";
}

template <typename Record, std::size_t N>
JsonObject WordsJson(const Record& record, const Word<Record> (&words)[N]) {
  JsonObject json;
  for (const Word<Record>& word : words)
    json.Add(word.name, static_cast<std::int64_t>(record.*word.member));
  return json;
}

std::string ServiceLine(const char* label, std::int32_t enabled, std::int32_t port,
                        std::int32_t value) {
  return std::string(label) + ": " + (enabled != 0 ? "enabled" : "disabled") + ", port " +
         std::to_string(port) + ", value " + std::to_string(value) + "\n";
}

std::string Human(const ServiceSettings& s) {
  return ServiceLine("primary", s.primaryEnabled, s.primaryPort, s.primaryValue) +
         ServiceLine("secondary", s.secondaryEnabled, s.secondaryPort, s.secondaryValue);
}

std::string Human(const OcpSettings& s) {
  return ServiceLine("ocp", s.ocpEnabled, s.ocpPort, s.ocpValue);
}

// What differs between the two records' commands.
template <typename Record>
struct RecordCommands;

template <>
struct RecordCommands<ServiceSettings> {
  static constexpr auto Get = &nolva::DeviceManager::GetServiceSettings;
  static constexpr auto Set = &nolva::DeviceManager::SetServiceSettings;
  static const auto& Words() { return kServiceWords; }
  static const auto& Options() { return kServiceOptions; }
};

template <>
struct RecordCommands<OcpSettings> {
  static constexpr auto Get = &nolva::DeviceManager::GetOcpSettings;
  static constexpr auto Set = &nolva::DeviceManager::SetOcpSettings;
  static const auto& Words() { return kOcpWords; }
  static const auto& Options() { return kOcpOptions; }
};

template <typename Record>
Outcome Show(StatusCode status, const Record& record) {
  return {status, Human(record), WordsJson(record, RecordCommands<Record>::Words())};
}

template <typename Record>
Outcome RunGet(const Invocation& call, const Credentials& who) {
  Record record{};
  return Show((call.manager->*RecordCommands<Record>::Get)(who.caller.Name(), who.caller.Password(),
                                                           &record),
              record);
}

template <typename Record>
std::string CheckChanges(Invocation& call) {
  using Ops = RecordCommands<Record>;
  std::vector<Change<Record>> changes;
  return ReadChanges(call, Ops::Options(), Ops::Words(), &changes);
}

template <typename Record>
Outcome RunSet(const Invocation& call, const Credentials& who) {
  using Ops = RecordCommands<Record>;
  std::vector<Change<Record>> changes;
  ReadChanges(call, Ops::Options(), Ops::Words(), &changes);  // passed its check
  Record record{};
  StatusCode status = (call.manager->*Ops::Get)(who.caller.Name(), who.caller.Password(), &record);
  if (status != nolva::STATUS_OK) return Show(status, record);
  for (const Change<Record>& change : changes)
    record.*change.member = change.value;
  Outcome outcome =
      Show((call.manager->*Ops::Set)(who.caller.Name(), who.caller.Password(), &record), record);
  if (outcome.status == nolva::STATUS_REFUSED)
    outcome.hint = "two enabled services would share a port, or the other record could not be read";
  return outcome;
}

Outcome RunLoadSettings(const Invocation& call, const Credentials& /*no one*/) {
  nolva::DeviceManager& manager = *call.manager;
  const std::int32_t result = manager.LoadSettings();
  Outcome outcome{nolva::STATUS_OK, Human(manager.serviceSettings) + Human(manager.ocpSettings),
                  JsonObject()
                      .Add("service", WordsJson(manager.serviceSettings, kServiceWords))
                      .Add("ocp", WordsJson(manager.ocpSettings, kOcpWords))};
  if (result != 0) outcome.failure = "loading the settings failed (" + std::to_string(result) + ")";
  return outcome;
}

template <typename Record, std::size_t N>
std::vector<OptionSpec> SetOptions(const WordOption<Record> (&options)[N]) {
  std::vector<OptionSpec> flags;
  for (const WordOption<Record>& option : options)
    flags.push_back(option.flag);
  flags.push_back(kSetWordsOption);
  return flags;
}

const char kSetDetails[] =
    "Reads the stored record, changes what the options give and stores it. The\n"
    "device refuses a record with which two enabled services (primary, secondary,\n"
    "OCP) would share a port (exit status 4).\n";

const char kLoadDetails[] =
    "Loads the service and OCP records into a manager, creating a missing file\n"
    "with its defaults, and shows them. Takes no credentials.\n";

}  // namespace

const std::vector<Command> kServiceCommands = {
    {"service get", "", "show the primary and secondary service settings", kNoOptions, nullptr,
     Needs::kCredentials, RunGet<ServiceSettings>, ""},
    {"service set", "", "change the primary and secondary service settings",
     SetOptions(kServiceOptions), CheckChanges<ServiceSettings>, Needs::kCredentials,
     RunSet<ServiceSettings>, kSetDetails},
    {"ocp get", "", "show the OCP service settings", kNoOptions, nullptr, Needs::kCredentials,
     RunGet<OcpSettings>, ""},
    {"ocp set", "", "change the OCP service settings", SetOptions(kOcpOptions),
     CheckChanges<OcpSettings>, Needs::kCredentials, RunSet<OcpSettings>, kSetDetails},
    {"load-settings", "", "load the service and OCP settings as the device does", kNoOptions,
     nullptr, Needs::kNothing, RunLoadSettings, kLoadDetails},
};

}  // namespace nolvactl
