// Passwords reach nolvactl from a file, the environment or a terminal
// prompt without echo, never from the command line, where every user of
// the board could read them in the process list.
#pragma once

#include <string>

#include "front/front.h"
#include "nolvactl/command.h"

namespace nolvactl {

// Who an action acts as, and the account it gives a new password.
struct Credentials {
  nolva::front::Credentials caller;
  nolva::front::Credentials account;
};

// Fills `caller` with --user and the caller's password: from --password-file,
// NOLVA_PASSWORD, or a prompt. Returns "" or the problem.
std::string PrepareCaller(const Invocation& call, nolva::front::Credentials* caller);

// Fills `account` with the first operand and its new password: from
// --new-password-file, NOLVA_NEW_PASSWORD, or a prompt asked twice. Returns ""
// or the problem.
std::string PrepareAccount(const Invocation& call, nolva::front::Credentials* account);

// Asks a yes/no question on the terminal; false when there is none.
bool Confirm(const std::string& question);

}  // namespace nolvactl
