#include "bench/cases.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

constexpr char kUsbList[] = "/proc/bus/usb/devices";
constexpr std::size_t kFirmwareSize = 8u << 20;

// An 8 MiB OS image; the bench board's partitions hold 16 MiB.
const std::vector<std::uint8_t>& FirmwareImage() {
  static const std::vector<std::uint8_t> image = [] {
    std::vector<std::uint8_t> bytes(kFirmwareSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
    std::memcpy(bytes.data() + 32, "nolva-os 8MiB", 14);
    return bytes;
  }();
  return image;
}

void UpdateFirmware(DeviceManager& manager) {
  const std::vector<std::uint8_t>& image = FirmwareImage();
  manager.UpdateFirmware(u"admin", u"kevla", image.data(), static_cast<std::int32_t>(image.size()));
}

// The same bytes written to the same partition as the update writes them
// (synchronous writes of 128 erase blocks), then read back in 4 KiB blocks
// and compared: what any update must do, without the erase.
void WriteAndReadBack() {
  const std::vector<std::uint8_t>& image = FirmwareImage();
  int fd = open("/dev/mtd3", O_RDWR | O_SYNC | O_CLOEXEC);
  for (std::size_t done = 0; done < image.size();) {
    const ssize_t n = write(fd, image.data() + done, image.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  fd = open("/dev/mtd3", O_RDONLY | O_CLOEXEC);
  std::uint8_t block[4096];
  for (std::size_t done = 0; done < image.size(); done += sizeof block) {
    if (read(fd, block, sizeof block) != static_cast<ssize_t>(sizeof block)) break;
    benchmark::DoNotOptimize(std::memcmp(block, image.data() + done, sizeof block));
  }
  close(fd);
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
      {"GetUsbPorts", [] { Accounts(1); }, Operation("GetUsbPorts"),
       [] {
         Gate();
         ReadLines(kUsbList);
       }},
      {"UpdateFirmware, 8 MiB", [] { Accounts(1); }, UpdateFirmware,
       [] {
         Gate();
         WriteAndReadBack();
       }},
      {"boot program, end to end", [] {}, [](DeviceManager&) { Boot(); }, {}, 0, true},
  };
}

}  // namespace nolva::bench
