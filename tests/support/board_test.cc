#include "tests/support/board_test.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern "C" char** environ;

namespace nolva::test {
namespace {

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

struct Pipe {
  int fds[2] = {-1, -1};
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
};

}  // namespace

const char* PreloadLibrary() {
  return NOLVA_BOARD_PRELOAD_PATH;
}
const char* BoardTool() {
  return NOLVA_BOARD_TOOL_PATH;
}
const char* BoardProbe() {
  return NOLVA_BOARD_PROBE_PATH;
}

board::BoardOptions TestBoardOptions() {
  board::BoardOptions options;
  options.mtdSize = 256u << 10;
  options.mtdEraseSize = 4u << 10;
  return options;
}

void BoardTest::SetUp() {
  board::CreateBoard(Board(), Options());
}

std::string BoardTest::Board() const {
  const char* dir = std::getenv("NOLVA_BOARD");
  return dir != nullptr ? dir : "";
}

void BoardTest::WriteBoardFile(const std::string& devicePath, const std::string& bytes) const {
  board::WriteFile(board::HostPath(Board(), devicePath), bytes);
}

std::string BoardTest::ReadBoardFile(const std::string& devicePath) const {
  return board::ReadFile(board::HostPath(Board(), devicePath));
}

bool BoardTest::BoardFileExists(const std::string& devicePath) const {
  return board::FileExists(board::HostPath(Board(), devicePath));
}

void BoardTest::SetFault(const std::string& name, const std::string& value) const {
  board::SetFault(Board(), name, value);
}

void BoardTest::ClearFault(const std::string& name) const {
  board::ClearFault(Board(), name);
}

std::vector<std::string> BoardTest::LogLines() const {
  return board::LogLines(Board());
}

std::vector<std::string> BoardTest::FlashFileNames() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Board() + "/flash")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ProgramResult BoardTest::RunProgram(const std::string& path, const std::vector<std::string>& args,
                                    const std::vector<std::string>& extraEnv) const {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    env.emplace_back(*e);
  PutEnv(&env, "NOLVA_BOARD=" + Board());
  const std::string preloadEntry = "LD_PRELOAD=";
  std::string preload = PreloadLibrary();
  for (const std::string& entry : extraEnv) {
    if (entry.compare(0, preloadEntry.size(), preloadEntry) == 0)
      preload = entry.substr(preloadEntry.size());
    else
      PutEnv(&env, entry);
  }

  std::vector<std::string> program{path};
  program.insert(program.end(), args.begin(), args.end());
  board::Launch launch = board::PreloadedLaunch(program, preload);
  PutEnv(&env, preloadEntry + launch.ldPreload);
  std::vector<char*> argv;
  for (std::string& a : launch.argv)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  Pipe out;
  if (pipe2(out.fds, O_CLOEXEC) != 0) return {-1, ""};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return {-1, ""};
  if (pid == 0) {
    dup2(out.fds[1], 1);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out.fds[1]);
  out.fds[1] = -1;
  ProgramResult result{-1, ""};
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(out.fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  return result;
}

}  // namespace nolva::test
