#include <string>
#include <vector>

#include "front/front.h"
#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

using nolva::StatusCode;

constexpr std::int32_t kListCapacity = 8192;  // 256 names of 16 bytes and their newlines

// A name the device can hold, or what is wrong with it.
std::string CheckName(const std::string& name) {
  if (nolva::front::IsValidName(name)) return "";
  if (name.empty()) return "the account name is empty";
  if (name.size() > static_cast<std::size_t>(nolva::kMaxNameLength))
    return "the account name is longer than " + std::to_string(nolva::kMaxNameLength) + " bytes";
  if (name.find(':') != std::string::npos) return "the account name holds a ':'";
  return "the account name holds a control character";
}

const std::vector<OptionSpec> kNewPasswordFile = {
    {"new-password-file", "FILE", "read the new password from the first line of FILE"}};
const std::vector<OptionSpec> kForceOption = {{"force", nullptr, "also when NAME is admin"}};

const std::string kNewPasswordDetails =
    "The new password comes from --new-password-file FILE, else from the\n"
    "environment variable NOLVA_NEW_PASSWORD, else it is asked for twice without\n"
    "echo on a terminal. At most " +
    std::to_string(nolva::kMaxPasswordLength) + " bytes.\n";

std::string CheckAccount(Invocation& call) {
  return CheckName(call.operands[0]);
}

// Without "admin" the device takes no management call until a factory reset,
// and that needs "admin" too.
std::string CheckDeletion(Invocation& call) {
  if (call.operands[0] == "admin" && !call.Has("force"))
    return "deleting admin locks everyone out of the device; add --force";
  return CheckName(call.operands[0]);
}

JsonObject Account(const Invocation& call) {
  return JsonObject().Add("account", call.operands[0]);
}

Outcome RunPasswd(const Invocation& call, const Credentials& who) {
  return {call.manager->ChangePassword(who.caller.Name(), who.caller.Password(), who.account.Name(),
                                       who.account.Password()),
          "password changed for " + call.operands[0] + "\n", Account(call)};
}

Outcome RunAdd(const Invocation& call, const Credentials& who) {
  return {call.manager->AddUser(who.caller.Name(), who.caller.Password(), who.account.Name(),
                                who.account.Password()),
          "account " + call.operands[0] + " added\n", Account(call)};
}

Outcome RunDelete(const Invocation& call, const Credentials& who) {
  return {call.manager->DeleteUser(who.caller.Name(), who.caller.Password(),
                                   nolva::front::Wide(call.operands[0]).c_str()),
          "account " + call.operands[0] + " deleted\n", Account(call)};
}

Outcome RunList(const Invocation& call, const Credentials& who) {
  std::u16string list(kListCapacity, u'\0');
  const StatusCode status =
      call.manager->ListUsers(who.caller.Name(), who.caller.Password(), &list[0], kListCapacity);
  const std::string text = nolva::front::Narrow(list.c_str());
  std::vector<std::string> names;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    names.push_back(text.substr(start, end - start));
  return {status, Printable(text), JsonObject().Add("users", names)};
}

}  // namespace

const std::vector<Command> kAccountCommands = {
    {"passwd", "ACCOUNT", "set the password of ACCOUNT (admin: any account; others: their own)",
     kNewPasswordFile, CheckAccount, Needs::kNewPassword, RunPasswd, kNewPasswordDetails.c_str()},
    {"user add", "NAME", "add the account NAME", kNewPasswordFile, CheckAccount,
     Needs::kNewPassword, RunAdd, kNewPasswordDetails.c_str()},
    {"user del", "NAME", "delete the account NAME", kForceOption, CheckDeletion,
     Needs::kCredentials, RunDelete, ""},
    {"user list", "", "list the accounts", kNoOptions, nullptr, Needs::kCredentials, RunList, ""},
};

}  // namespace nolvactl
