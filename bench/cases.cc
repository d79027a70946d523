#include "bench/cases.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/floors.h"
#include "board/process_board.h"
#include "tests/support/operations.h"

namespace nolva::bench {
namespace {

using test::Call;
using test::kOperations;

constexpr char kUserFile[] = "/flash/nolva_user";

void Put(const char* devicePath, const std::string& bytes) {
  board::WriteBoardFile(devicePath, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        bytes.size());
}

// "admin" with its factory password first, then further accounts.
void Accounts(int count) {
  DeviceManager manager;
  char digest[40];
  manager.MakePasswordDigest(digest, "kevla");
  std::string file = std::string("admin:") + digest + "\n";
  for (int i = 1; i < count; ++i) {
    manager.MakePasswordDigest(digest, ("password" + std::to_string(i)).c_str());
    file += "user" + std::to_string(i) + ":" + digest + "\n";
  }
  Put(kUserFile, file);
}

// One call of the named operation, with the arguments of a fresh Call.
std::function<void(DeviceManager&)> Operation(const char* name) {
  for (const test::Operation& operation : kOperations) {
    if (std::strcmp(operation.name, name) != 0) continue;
    return [&operation](DeviceManager& manager) {
      static Call call;
      call = Call();
      operation.run(manager, call);
    };
  }
  std::abort();
}

void Gate() {
  ReadLines(kUserFile);
  Digest();
}

// The boot program as the board starts it, its trace thrown away.
void Boot() {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LD_PRELOAD", NOLVA_BOARD_PRELOAD_PATH, 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(NOLVA_BOOT_PATH, NOLVA_BOOT_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

std::vector<Case> Cases() {
  return {
      {"Login, 1 account", [] { Accounts(1); }, Operation("Login"), Gate},
      {"Login, 256 accounts", [] { Accounts(256); }, Operation("Login"), Gate},
      {"boot program, end to end", [] {}, [](DeviceManager&) { Boot(); }, {}, 0, true},
  };
}

}  // namespace nolva::bench
