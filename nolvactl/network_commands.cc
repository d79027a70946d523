#include "front/front.h"
#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

using nolva::NetworkSettings;
using nolva::front::AddressText;
using nolva::front::ParseAddress;
using nolva::front::ParseNetmask;

Outcome Show(nolva::StatusCode status, const NetworkSettings& settings) {
  const bool dhcp = settings.dhcp != 0;
  const std::string human = std::string("dhcp: ") + (dhcp ? "on" : "off") +
                            "\naddress: " + AddressText(settings.address) +
                            "\nnetmask: " + AddressText(settings.netmask) +
                            "\ngateway: " + AddressText(settings.gateway) + "\n";
  return {status, human,
          JsonObject()
              .Add("dhcp", dhcp)
              .Add("address", AddressText(settings.address))
              .Add("netmask", AddressText(settings.netmask))
              .Add("gateway", AddressText(settings.gateway))};
}

Outcome RunGet(const Invocation& call, const Credentials& who) {
  NetworkSettings settings{};
  return Show(call.manager->GetNetworkSettings(who.caller.Name(), who.caller.Password(), &settings),
              settings);
}

// The options' changes, checked before anything is called.
struct Changes {
  int dhcp = -1;  // -1: unchanged
  bool address = false, netmask = false, gateway = false;
  std::uint8_t addressBytes[4], netmaskBytes[4], gatewayBytes[4];
};

std::string ReadChanges(const Invocation& call, Changes* changes) {
  if (call.options.empty()) return "nothing to change (see --help)";
  if (call.Has("dhcp") && call.Has("static")) return "--dhcp and --static exclude each other";
  if (call.Has("static") && call.Has("address")) return "--static already gives the address";
  if (call.Has("dhcp")) changes->dhcp = 1;
  const char* addressOption = call.Has("static") ? "static" : "address";
  if (call.Has("static")) changes->dhcp = 0;
  if (call.Has(addressOption)) {
    changes->address = true;
    if (!ParseAddress(call.Value(addressOption), changes->addressBytes))
      return "--" + std::string(addressOption) + ": '" + call.Value(addressOption) +
             "' is not a dotted-quad address";
  }
  if (call.Has("netmask")) {
    changes->netmask = true;
    if (!ParseNetmask(call.Value("netmask"), changes->netmaskBytes))
      return "--netmask: '" + call.Value("netmask") + "' is not a netmask";
  }
  if (call.Has("gateway")) {
    changes->gateway = true;
    if (!ParseAddress(call.Value("gateway"), changes->gatewayBytes))
      return "--gateway: '" + call.Value("gateway") + "' is not a dotted-quad address";
  }
  return "";
}

void Copy(std::uint8_t to[4], const std::uint8_t from[4]) {
  for (int i = 0; i < 4; ++i)
    to[i] = from[i];
}

std::string CheckChanges(Invocation& call) {
  Changes changes;
  return ReadChanges(call, &changes);
}

Outcome RunSet(const Invocation& call, const Credentials& who) {
  Changes changes;
  ReadChanges(call, &changes);  // passed its check
  NetworkSettings settings{};
  const nolva::StatusCode status =
      call.manager->GetNetworkSettings(who.caller.Name(), who.caller.Password(), &settings);
  if (status != nolva::STATUS_OK) return Show(status, settings);
  if (changes.dhcp >= 0) settings.dhcp = changes.dhcp;
  if (changes.address) Copy(settings.address, changes.addressBytes);
  if (changes.netmask) Copy(settings.netmask, changes.netmaskBytes);
  if (changes.gateway) Copy(settings.gateway, changes.gatewayBytes);
  return Show(call.manager->SetNetworkSettings(who.caller.Name(), who.caller.Password(), &settings),
              settings);
}

const std::vector<OptionSpec> kSetOptions = {
    {"dhcp", nullptr, "configure eth0 by DHCP"},
    {"static", "ADDRESS", "use the static ADDRESS (DHCP off)"},
    {"address", "ADDRESS", "change the static address, DHCP as it was"},
    {"netmask", "MASK", "the static netmask, e.g. 255.255.255.0"},
    {"gateway", "ADDRESS", "the static default gateway"},
};

const char kSetDetails[] =
    "Reads the stored configuration, changes what the options give and stores it.\n"
    "It takes effect when the device next boots.\n";

}  // namespace

const std::vector<Command> kNetworkCommands = {
    {"network get", "", "show the stored IP configuration of eth0", kNoOptions, nullptr,
     Needs::kCredentials, RunGet, ""},
    {"network set", "", "change the stored IP configuration of eth0", kSetOptions, CheckChanges,
     Needs::kCredentials, RunSet, kSetDetails},
};

}  // namespace nolvactl
