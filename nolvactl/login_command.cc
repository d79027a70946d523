#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

int RunLogin(Invocation& call) {
  Caller caller;
  const std::string problem = PrepareCaller(call, &caller);
  if (!problem.empty()) return BadInput(call, problem);
  const nolva::StatusCode status = call.manager->Login(caller.Name(), caller.Password());
  if (status != nolva::STATUS_OK) return Fail(call, status);
  return Succeed(call, "credentials accepted for " + call.user + "\n",
                 JsonObject().Add("user", call.user));
}

}  // namespace

const std::vector<Command> kLoginCommands = {
    {"login", "", "check the credentials, changing nothing", {}, true, RunLogin, ""},
};

}  // namespace nolvactl
