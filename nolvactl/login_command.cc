#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

Outcome RunLogin(const Invocation& call, const Credentials& who) {
  return {call.manager->Login(who.caller.Name(), who.caller.Password()),
          "credentials accepted for " + call.user + "\n", JsonObject().Add("user", call.user)};
}

}  // namespace

const std::vector<Command> kLoginCommands = {
    {"login", "", "check the credentials, changing nothing", kNoOptions, nullptr,
     Needs::kCredentials, RunLogin, ""},
};

}  // namespace nolvactl
