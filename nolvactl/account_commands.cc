#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

using nolva::StatusCode;

constexpr std::size_t kLongestName = 16;      // the most the account layer stores
constexpr std::int32_t kListCapacity = 8192;  // 256 names of 16 bytes and their newlines

// A name the user file can hold as one "name:digest" line.
std::string CheckName(const std::string& name) {
  if (name.empty()) return "the account name is empty";
  if (name.size() > kLongestName) return "the account name is longer than 16 bytes";
  for (char c : name) {
    if (c == ':') return "the account name holds a ':'";
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "the account name holds a control character";
  }
  return "";
}

const OptionSpec kNewPasswordFile = {"new-password-file", "FILE",
                                     "read the new password from the first line of FILE"};

const char kNewPasswordDetails[] =
    "The new password comes from --new-password-file FILE, else from the\n"
    "environment variable NOLVA_NEW_PASSWORD, else it is asked for twice without\n"
    "echo on a terminal. At most 32 bytes.\n";

// Checks the account name, then fetches the caller's password and the
// account's new one, in the order a prompt asks for them.
std::string Prepare(const Invocation& call, bool newPassword, Caller* caller, Caller* account) {
  const std::string& name = call.operands[0];
  std::string problem = CheckName(name);
  if (problem.empty()) problem = PrepareCaller(call, caller);
  Secret password;
  if (problem.empty() && newPassword) problem = NewPassword(call, name, &password);
  if (problem.empty()) account->Set(name, password.Text());
  return problem;
}

int RunPasswd(Invocation& call) {
  Caller caller;
  Caller account;
  const std::string problem = Prepare(call, true, &caller, &account);
  if (!problem.empty()) return BadInput(call, problem);
  const StatusCode status = call.manager->ChangePassword(caller.Name(), caller.Password(),
                                                         account.Name(), account.Password());
  if (status != nolva::STATUS_OK) return Fail(call, status);
  return Succeed(call, "password changed for " + call.operands[0] + "\n",
                 JsonObject().Add("account", call.operands[0]));
}

int RunAdd(Invocation& call) {
  Caller caller;
  Caller account;
  const std::string problem = Prepare(call, true, &caller, &account);
  if (!problem.empty()) return BadInput(call, problem);
  const StatusCode status =
      call.manager->AddUser(caller.Name(), caller.Password(), account.Name(), account.Password());
  if (status != nolva::STATUS_OK) return Fail(call, status);
  return Succeed(call, "account " + call.operands[0] + " added\n",
                 JsonObject().Add("account", call.operands[0]));
}

int RunDelete(Invocation& call) {
  // Without "admin" the device takes no management call until a factory reset,
  // and that needs "admin" too.
  if (call.operands[0] == "admin" && !call.Has("force"))
    return BadInput(call, "deleting admin locks everyone out of the device; add --force");
  Caller caller;
  Caller account;
  const std::string problem = Prepare(call, false, &caller, &account);
  if (!problem.empty()) return BadInput(call, problem);
  const StatusCode status =
      call.manager->DeleteUser(caller.Name(), caller.Password(), account.Name());
  if (status != nolva::STATUS_OK) return Fail(call, status);
  return Succeed(call, "account " + call.operands[0] + " deleted\n",
                 JsonObject().Add("account", call.operands[0]));
}

int RunList(Invocation& call) {
  Caller caller;
  const std::string problem = PrepareCaller(call, &caller);
  if (!problem.empty()) return BadInput(call, problem);
  std::u16string list(kListCapacity, u'\0');
  const StatusCode status =
      call.manager->ListUsers(caller.Name(), caller.Password(), &list[0], kListCapacity);
  if (status != nolva::STATUS_OK) return Fail(call, status);
  const std::string text = Narrow(list.c_str());
  std::string names = "[";
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    names += (start == 0 ? "" : ",") + JsonString(text.substr(start, end - start));
  return Succeed(call, Printable(text), JsonObject().AddRaw("users", names + "]"));
}

}  // namespace

const std::vector<Command> kAccountCommands = {
    {"passwd",
     "ACCOUNT",
     "set the password of ACCOUNT (admin: any account; others: their own)",
     {kNewPasswordFile},
     true,
     RunPasswd,
     kNewPasswordDetails},
    {"user add",
     "NAME",
     "add the account NAME",
     {kNewPasswordFile},
     true,
     RunAdd,
     kNewPasswordDetails},
    {"user del",
     "NAME",
     "delete the account NAME",
     {{"force", nullptr, "also when NAME is admin"}},
     true,
     RunDelete,
     ""},
    {"user list", "", "list the accounts", {}, true, RunList, ""},
};

}  // namespace nolvactl
