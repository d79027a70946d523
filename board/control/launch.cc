// Starting a program on a board: natively with the board library preloaded
// or, in a cross build, through the emulator that runs the build's programs.
// The nolva-board tool and the test support both start programs here.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "board/control/board_control.h"

extern "C" char** environ;

// NOLVA_EMULATOR: the emulator's command words as string literals, each
// followed by a comma; empty in native builds.
#ifndef NOLVA_EMULATOR
#define NOLVA_EMULATOR
#endif

namespace nolva::board {
namespace {

const char* const kEmulator[] = {NOLVA_EMULATOR nullptr};
constexpr char kPreloadEntry[] = "LD_PRELOAD=";

// Replaces or adds NAME=value in an environment list.
void PutEnv(std::vector<std::string>* env, const std::string& entry) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  for (std::string& existing : *env) {
    if (existing.compare(0, name.size(), name) == 0) {
      existing = entry;
      return;
    }
  }
  env->push_back(entry);
}

// Cross builds hand the library to the emulated program with -E: the host's
// loader must never see a target library.
std::vector<std::string> Command(const std::vector<std::string>& argv, std::string* preload) {
  if (kEmulator[0] == nullptr) return argv;
  std::vector<std::string> command(kEmulator, kEmulator + std::size(kEmulator) - 1);
  command.insert(command.end(), {"-E", kPreloadEntry + *preload});
  command.insert(command.end(), argv.begin(), argv.end());
  preload->clear();
  return command;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words)
    pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

struct Pipe {
  int fds[2] = {-1, -1};
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
};

void ReadAll(int fd, std::string* out) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    out->append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

ProgramResult RunOnBoard(const std::string& board, const BoardProgram& program, bool capture) {
  std::string preload = program.preload;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    env.emplace_back(*e);
  PutEnv(&env, "NOLVA_BOARD=" + board);
  for (const std::string& entry : program.env) {
    if (entry.rfind(kPreloadEntry, 0) == 0)
      preload = entry.substr(sizeof kPreloadEntry - 1);
    else
      PutEnv(&env, entry);
  }
  std::vector<std::string> command = Command(program.argv, &preload);
  PutEnv(&env, kPreloadEntry + preload);
  const std::vector<char*> argv = Pointers(command);
  const std::vector<char*> envp = Pointers(env);

  ProgramResult result{-1, ""};
  Pipe out;
  if (capture && pipe2(out.fds, O_CLOEXEC) != 0) return result;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    if (capture) dup2(out.fds[1], 1);
    execvpe(argv[0], argv.data(), envp.data());
    std::fprintf(stderr, "nolva-board: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  // Ctrl-C or a SIGTERM to the process group is the program's to handle:
  // the board waits for it and still reports what reached the platform.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction oldInt = {};
  struct sigaction oldTerm = {};
  sigaction(SIGINT, &ignore, &oldInt);
  sigaction(SIGTERM, &ignore, &oldTerm);
  if (capture) {
    close(out.fds[1]);
    out.fds[1] = -1;
    ReadAll(out.fds[0], &result.out);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  result.exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  return result;
}

}  // namespace nolva::board
