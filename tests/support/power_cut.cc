#include "tests/support/power_cut.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "board/control/board_control.h"

namespace nolva::test {
namespace {

bool LogsCut(const std::string& logTail) {
  std::istringstream in(logTail);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("power-cut ", 0) == 0 && line.rfind("power-cut lost ", 0) != 0) return true;
  }
  return false;
}

long StepsCounted(const std::string& board) {
  const std::string path = board + "/faults/power-cut.used";
  if (!board::FileExists(path)) return 0;
  return std::strtol(board::ReadFile(path).c_str(), nullptr, 10);
}

}  // namespace

CutRun RunUntilPowerCut(const std::string& board, long steps, const std::function<void()>& body) {
  board::SetFault(board, "power-cut", steps < 0 ? "count" : std::to_string(steps));
  const std::size_t logBefore = board::LogText(board).size();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    std::fflush(nullptr);
    _exit(0);
  }
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  CutRun run{};
  run.killed = pid > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  run.cut = LogsCut(board::LogText(board).substr(logBefore));
  run.steps = StepsCounted(board);
  board::ClearFault(board, "power-cut");
  return run;
}

}  // namespace nolva::test
