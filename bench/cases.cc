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

// The gate, then what a settings operation cannot avoid on its record.
std::function<void()> GetFloor(const char* path, std::size_t size) {
  return [=] {
    Gate();
    ReadRecord(path, size);
  };
}

// A store with a conflict check reads the other record first.
std::function<void()> SetFloor(const char* path, std::size_t size, const char* other = nullptr,
                               std::size_t otherSize = 0) {
  return [=] {
    Gate();
    if (other != nullptr) ReadRecord(other, otherSize);
    const char bytes[64] = {};
    SaveBytes(path, bytes, size);
  };
}

std::function<void(DeviceManager&)> Both(const char* first, const char* second) {
  return [a = Operation(first), b = Operation(second)](DeviceManager& manager) {
    a(manager);
    b(manager);
  };
}

// Settings files in place, as on a device that has run once.
void StoredSettings() {
  Accounts(1);
  DeviceManager manager;
  manager.LoadSettings();
  NetworkSettings network;
  manager.LoadNetworkSettings(&network);
}

constexpr char kNetworkFile[] = "/flash/nolva_system";
constexpr char kServiceFile[] = "/flash/nolva_service";
constexpr char kOcpFile[] = "/flash/nolva_ocp";

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
      {"GetNetworkSettings", StoredSettings, Operation("GetNetworkSettings"),
       GetFloor(kNetworkFile, sizeof(NetworkSettings))},
      {"SetNetworkSettings", StoredSettings, Operation("SetNetworkSettings"),
       SetFloor(kNetworkFile, sizeof(NetworkSettings))},
      {"GetServiceSettings", StoredSettings, Operation("GetServiceSettings"),
       GetFloor(kServiceFile, sizeof(ServiceSettings))},
      {"SetServiceSettings", StoredSettings, Operation("SetServiceSettings"),
       SetFloor(kServiceFile, sizeof(ServiceSettings), kOcpFile, sizeof(OcpSettings))},
      {"GetOcpSettings", StoredSettings, Operation("GetOcpSettings"),
       GetFloor(kOcpFile, sizeof(OcpSettings))},
      {"SetOcpSettings", StoredSettings, Operation("SetOcpSettings"),
       SetFloor(kOcpFile, sizeof(OcpSettings), kServiceFile, sizeof(ServiceSettings))},
      // Each call: the gate's read and digest, the primitive's read, and for
      // the addition the new password's digest, then the whole file saved.
      {"AddUser + DeleteUser, 16 accounts", [] { Accounts(16); }, Both("AddUser", "DeleteUser"),
       [] {
         for (int call = 0; call < 2; ++call) {
           Gate();
           ReadLines(kUserFile);
           if (call == 0) Digest();
           const std::string file(17 * 40, 'x');
           SaveBytes("/flash/nolva_user.floor", file.data(), file.size());
         }
       }},
      {"ListUsers, 16 accounts", [] { Accounts(16); }, Operation("ListUsers"),
       [] {
         Gate();
         ReadLines(kUserFile);
       }},
      {"boot program, end to end", [] {}, [](DeviceManager&) { Boot(); }, {}, 0, true},
  };
}

}  // namespace nolva::bench
