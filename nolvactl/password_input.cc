#include "nolvactl/password_input.h"

#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace nolvactl {

namespace {

constexpr std::size_t kLineSize = 256;

termios savedTerminal;

// Holds a password and wipes it when it goes.
class Secret {
 public:
  Secret() { text_.reserve(128); }
  ~Secret() { explicit_bzero(text_.data(), text_.size()); }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  std::string& Text() { return text_; }

 private:
  std::string text_;
};

// Brings the echo back when the prompt is interrupted.
void RestoreAndDie(int signal) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

class EchoOff {
 public:
  EchoOff() {
    ok_ = tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    if (!ok_) return;
    oldInt_ = signal(SIGINT, RestoreAndDie);
    oldTerm_ = signal(SIGTERM, RestoreAndDie);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    if (!ok_) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    signal(SIGINT, oldInt_);
    signal(SIGTERM, oldTerm_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  bool ok_ = false;
  sighandler_t oldInt_ = SIG_DFL;
  sighandler_t oldTerm_ = SIG_DFL;
};

// One line without its line end; false at end of input.
bool ReadLine(std::FILE* in, std::string* out) {
  char line[kLineSize];
  out->clear();
  bool any = false;
  while (std::fgets(line, sizeof line, in) != nullptr) {
    any = true;
    out->append(line);
    if (!out->empty() && out->back() == '\n') break;
  }
  explicit_bzero(line, sizeof line);
  if (!out->empty() && out->back() == '\n') out->pop_back();
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return any;
}

std::string Prompt(const std::string& label, Secret* password) {
  std::fprintf(stderr, "%s", label.c_str());
  std::fflush(stderr);
  bool read = false;
  {
    EchoOff quiet;
    read = ReadLine(stdin, &password->Text());
  }
  std::fputc('\n', stderr);
  return read ? "" : "no password given";
}

std::string FromFile(const std::string& path, Secret* password) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return "cannot read the password file " + path + ": " + strerror(errno);
  ReadLine(file, &password->Text());
  std::fclose(file);
  return "";
}

// The one source a password comes from, in order of preference.
std::string Fetch(const std::string& file, const char* variable, const std::string& label,
                  Secret* password) {
  if (!file.empty()) return FromFile(file, password);
  if (const char* value = std::getenv(variable)) {
    password->Text() = value;
    return "";
  }
  if (isatty(STDIN_FILENO)) return Prompt(label, password);
  return std::string("no password: set ") + variable +
         ", give a password file, or run on a terminal";
}

std::string CallerPassword(const Invocation& call, Secret* password) {
  return Fetch(call.passwordFile, "NOLVA_PASSWORD", "password for " + call.user + ": ", password);
}

std::string NewPassword(const Invocation& call, const std::string& account, Secret* password) {
  const std::string file = call.Has("new-password-file") ? call.Value("new-password-file") : "";
  const bool prompted = file.empty() && std::getenv("NOLVA_NEW_PASSWORD") == nullptr;
  std::string problem =
      Fetch(file, "NOLVA_NEW_PASSWORD", "new password for " + account + ": ", password);
  if (!problem.empty()) return problem;
  if (prompted) {
    Secret again;
    problem = Prompt("new password again: ", &again);
    if (!problem.empty()) return problem;
    if (again.Text() != password->Text()) return "the two new passwords differ";
  }
  if (password->Text().size() > static_cast<std::size_t>(nolva::kMaxPasswordLength))
    return "the new password is longer than " + std::to_string(nolva::kMaxPasswordLength) +
           " bytes";
  if (password->Text().find('\0') != std::string::npos) return "the new password holds a NUL byte";
  return "";
}

}  // namespace

std::string PrepareCaller(const Invocation& call, nolva::front::Credentials* caller) {
  Secret password;
  std::string problem = CallerPassword(call, &password);
  if (problem.empty()) caller->Set(call.user, password.Text());
  return problem;
}

std::string PrepareAccount(const Invocation& call, nolva::front::Credentials* account) {
  const std::string& name = call.operands[0];
  Secret password;
  std::string problem = NewPassword(call, name, &password);
  if (problem.empty()) account->Set(name, password.Text());
  return problem;
}

bool Confirm(const std::string& question) {
  if (!isatty(STDIN_FILENO)) return false;
  std::fprintf(stderr, "%s [yes/no] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  return ReadLine(stdin, &answer) && answer == "yes";
}

}  // namespace nolvactl
