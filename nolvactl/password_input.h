// Passwords reach nolvactl from a file, the environment or a terminal
// prompt without echo, never from the command line, where every user of
// the board could read them in the process list.
#pragma once

#include <string>

#include "nolvactl/command.h"
#include "nolvactl/wide_text.h"

namespace nolvactl {

// Holds a password and wipes it when it goes.
class Secret {
 public:
  Secret() { text_.reserve(128); }
  ~Secret();
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  std::string& Text() { return text_; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// The caller's password: --password-file, NOLVA_PASSWORD, or a prompt.
// Returns "" or the problem.
std::string CallerPassword(const Invocation& call, Secret* password);

// A new password for `account`: --new-password-file, NOLVA_NEW_PASSWORD, or
// a prompt asked twice. Returns "" or the problem.
std::string NewPassword(const Invocation& call, const std::string& account, Secret* password);

// Fills `caller` with --user and the caller's password. Returns "" or the problem.
std::string PrepareCaller(const Invocation& call, Caller* caller);

// Asks a yes/no question on the terminal; false when there is none.
bool Confirm(const std::string& question);

}  // namespace nolvactl
