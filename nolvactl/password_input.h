// Passwords reach nolvactl from a file, the environment or a terminal
// prompt without echo, never from the command line, where every user of
// the board could read them in the process list.
#pragma once

#include <string>

#include "nolvactl/command.h"
#include "nolvactl/wide_text.h"

namespace nolvactl {

// Who an action acts as, and the account it gives a new password.
struct Credentials {
  Caller caller;
  Caller account;
};

// Fills `caller` with --user and the caller's password: from --password-file,
// NOLVA_PASSWORD, or a prompt. Returns "" or the problem.
std::string PrepareCaller(const Invocation& call, Caller* caller);

// Fills `account` with the first operand and its new password: from
// --new-password-file, NOLVA_NEW_PASSWORD, or a prompt asked twice. Returns ""
// or the problem.
std::string PrepareAccount(const Invocation& call, Caller* account);

// Asks a yes/no question on the terminal; false when there is none.
bool Confirm(const std::string& question);

}  // namespace nolvactl
