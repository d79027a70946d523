#include <cstdio>
#include <string>
#include <vector>

#include "front/front.h"

#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

using nolva::StatusCode;
using nolva::front::Narrow;

constexpr std::int32_t kUsbCapacity = 4096;
const std::string kRebootDelay = std::to_string(nolva::kRebootDelaySeconds);

Outcome RunMac(const Invocation& call, const Credentials& who) {
  char16_t mac[nolva::kMacTextUnits] = {};
  const StatusCode status =
      call.manager->GetMacAddress(who.caller.Name(), who.caller.Password(), mac);
  const std::string text = Narrow(mac);
  return {status, "mac: " + text + "\n", JsonObject().Add("mac", text)};
}

// An erased partition reads as 0xFF bytes, not as a version.
std::string VersionText(const std::string& text) {
  if (nolva::front::IsErased(text)) return "none (erased)";
  return Printable(text);
}

Outcome RunVersions(const Invocation& call, const Credentials& who) {
  char16_t os[nolva::kVersionTextUnits] = {};
  char16_t fs[nolva::kVersionTextUnits] = {};
  const StatusCode status =
      call.manager->GetFirmwareVersions(who.caller.Name(), who.caller.Password(), os, fs);
  const std::string osText = Narrow(os);
  const std::string fsText = Narrow(fs);
  return {status, "os: " + VersionText(osText) + "\nfs: " + VersionText(fsText) + "\n",
          JsonObject().Add("os", osText).Add("fs", fsText)};
}

// "PORT 1:  Flash Disk\n" lines into "port 1: Flash Disk" and JSON rows.
Outcome ShowPorts(StatusCode status, const std::string& text) {
  std::string human;
  std::vector<JsonObject> rows;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    int port = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "PORT %d:  %n", &port, &used) != 1 || used == 0) continue;
    const std::string product = line.substr(static_cast<std::size_t>(used));
    human += "port " + std::to_string(port) + ": " +
             (product.empty() ? "empty" : Printable(product)) + "\n";
    JsonObject row;
    row.Add("port", static_cast<std::int64_t>(port));
    if (product.empty())
      row.AddNull("product");
    else
      row.Add("product", product);
    rows.push_back(row);
  }
  return {status, human, JsonObject().Add("ports", rows)};
}

Outcome RunUsb(const Invocation& call, const Credentials& who) {
  std::u16string text(kUsbCapacity, u'\0');
  const StatusCode status =
      call.manager->GetUsbPorts(who.caller.Name(), who.caller.Password(), &text[0], kUsbCapacity);
  return ShowPorts(status, Narrow(text.c_str()));
}

JsonObject Restart() {
  return JsonObject().Add("rebootIn", static_cast<std::int64_t>(nolva::kRebootDelaySeconds));
}

Outcome RunReboot(const Invocation& call, const Credentials& who) {
  return {call.manager->Reboot(who.caller.Name(), who.caller.Password()),
          "reboot scheduled: the device restarts in " + kRebootDelay + " seconds\n", Restart()};
}

std::string CheckConfirmed(Invocation& call) {
  if (call.Has("yes") || Confirm("Delete every account and setting of the device and restart it?"))
    return "";
  return "not confirmed: add --yes to reset without a question";
}

Outcome RunFactoryReset(const Invocation& call, const Credentials& who) {
  return {call.manager->FactoryReset(who.caller.Name(), who.caller.Password()),
          "factory reset: accounts and settings deleted; the device restarts in " + kRebootDelay +
              " seconds\n",
          Restart()};
}

const std::string kRebootSummary = "restart the device in " + kRebootDelay + " seconds";

const std::vector<OptionSpec> kYesOption = {{"yes", nullptr, "do not ask for confirmation"}};

const char kFactoryResetDetails[] =
    "Deletes the stored accounts and settings and restarts the device, which then\n"
    "comes up with the factory configuration and the factory admin password.\n"
    "Asks for confirmation on a terminal unless --yes is given.\n";

}  // namespace

const std::vector<Command> kDeviceCommands = {
    {"mac", "", "show the hardware address of eth0", kNoOptions, nullptr, Needs::kCredentials,
     RunMac, ""},
    {"versions", "", "show the versions of the OS and FS images in flash", kNoOptions, nullptr,
     Needs::kCredentials, RunVersions, ""},
    {"usb", "", "show what is plugged into each port of the USB hub", kNoOptions, nullptr,
     Needs::kCredentials, RunUsb, ""},
    {"reboot", "", kRebootSummary.c_str(), kNoOptions, nullptr, Needs::kCredentials, RunReboot, ""},
    {"factory-reset", "", "delete all accounts and settings, then restart", kYesOption,
     CheckConfirmed, Needs::kCredentials, RunFactoryReset, kFactoryResetDetails},
};

}  // namespace nolvactl
