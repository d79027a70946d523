#include "bench/cases.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mtd/mtd-user.h>  // after sys/ioctl.h: its request codes need _IOR/_IOW

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/floors.h"
#include "board/control/board_control.h"
#include "board/control/process_board.h"
#include "operation_table/operations.h"

namespace nolva::bench {
namespace {

using operation_table::Call;
using operation_table::kOperations;

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
  for (const operation_table::Operation& operation : kOperations) {
    if (std::strcmp(operation.name, name) != 0) continue;
    // The arguments are made once: a fresh Call clears 32 KiB of text
    // buffers, which would be timed as the operation's own work.
    return [&operation](DeviceManager& manager) {
      static Call call;
      operation.run(manager, call);
    };
  }
  std::abort();
}

void Gate() {
  ReadWhole(kUserFile);
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

// The board's hub with a device on each of its ports 0 to 19, each as the
// kernel lists a mass storage device.
void TwentyUsbDevices() {
  Accounts(1);
  std::string list = board::kEmptyHubUsbDevices;
  for (int port = 0; port < 20; ++port) {
    char device[640];
    std::snprintf(device, sizeof device,
                  "\n"
                  "T:  Bus=01 Lev=02 Prnt=02 Port=%02d Cnt=%02d Dev#=%3d Spd=480  MxCh= 0\n"
                  "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n"
                  "P:  Vendor=0951 ProdID=1666 Rev= 1.00\n"
                  "S:  Manufacturer=Kingston\n"
                  "S:  Product=DataTraveler 3.0 #%d\n"
                  "S:  SerialNumber=60A44C413A5DF1B0%04d\n"
                  "C:* #Ifs= 1 Cfg#= 1 Atr=80 MxPwr=300mA\n"
                  "I:* If#= 0 Alt= 0 #EPs= 2 Cls=08(stor.) Sub=06 Prot=50 Driver=usb-storage\n"
                  "E:  Ad=81(I) Atr=02(Bulk) MxPS= 512 Ivl=0ms\n"
                  "E:  Ad=02(O) Atr=02(Bulk) MxPS= 512 Ivl=0ms\n",
                  port, port + 1, port + 3, port, port);
    list += device;
  }
  Put(kUsbList, list);
}
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

// Erases the blocks the image fills on the OS partition, in one request or
// a request per block, through a descriptor opened for synchronous writes.
int EraseForImage(bool blockByBlock) {
  const int fd = open("/dev/mtd3", O_RDWR | O_SYNC | O_CLOEXEC);
  mtd_info_user info = {};
  ioctl(fd, MEMGETINFO, &info);
  const std::uint32_t blocks = (kFirmwareSize + info.erasesize - 1) / info.erasesize;
  const std::uint32_t step = blockByBlock ? info.erasesize : blocks * info.erasesize;
  for (std::uint32_t start = 0; start < blocks * info.erasesize; start += step) {
    erase_info_user erase = {start, step};
    ioctl(fd, MEMERASE, &erase);
  }
  return fd;
}

// Writes the image from the partition's first byte, `writePiece` bytes a
// call, then reads it back through a new descriptor `readPiece` bytes at a
// time and compares.
void WriteAndReadBack(int fd, std::size_t writePiece, std::size_t readPiece) {
  const std::vector<std::uint8_t>& image = FirmwareImage();
  for (std::size_t done = 0; done < image.size();) {
    const std::size_t count = image.size() - done < writePiece ? image.size() - done : writePiece;
    const ssize_t n = write(fd, image.data() + done, count);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  fd = open("/dev/mtd3", O_RDONLY | O_CLOEXEC);
  static std::uint8_t block[16 * 1024];
  for (std::size_t done = 0; done < image.size();) {
    const std::size_t count = image.size() - done < readPiece ? image.size() - done : readPiece;
    if (read(fd, block, count) != static_cast<ssize_t>(count)) break;
    benchmark::DoNotOptimize(std::memcmp(block, image.data() + done, count));
    done += count;
  }
  close(fd);
}

// What any update must do: the whole erase in one request, the image in one
// write, then read back in the 4 KiB blocks the device verifies in.
void EraseWriteAndReadBack() {
  WriteAndReadBack(EraseForImage(false), kFirmwareSize, 4096);
}

// The steps of flashcp, the usual command-line copy onto an MTD partition:
// an erase request per block, then writes and read-back comparisons of
// 10 KiB each (the image taken from memory, not from a file).
void FlashcpSteps() {
  WriteAndReadBack(EraseForImage(true), 10 * 1024, 10 * 1024);
}

constexpr char kNetworkFile[] = "/flash/nolva_system";
constexpr char kServiceFile[] = "/flash/nolva_service";
constexpr char kOcpFile[] = "/flash/nolva_ocp";

// The boot program as the board starts it, its trace and messages thrown away.
void Boot() {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LD_PRELOAD", NOLVA_BOARD_PRELOAD_PATH, 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
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
           ReadWhole(kUserFile);
           if (call == 0) Digest();
           const std::string file(17 * 40, 'x');
           SaveBytes("/flash/nolva_user.floor", file.data(), file.size());
         }
       }},
      {"ListUsers, 16 accounts", [] { Accounts(16); }, Operation("ListUsers"),
       [] {
         Gate();
         ReadWhole(kUserFile);
       }},
      {"ListUsers, 256 accounts", [] { Accounts(256); }, Operation("ListUsers"),
       [] {
         Gate();
         ReadWhole(kUserFile);
       }},
      {"GetUsbPorts, 20 devices", TwentyUsbDevices, Operation("GetUsbPorts"),
       [] {
         Gate();
         ReadWhole(kUsbList);
       }},
      {"UpdateFirmware, 8 MiB", [] { Accounts(1); }, UpdateFirmware,
       [] {
         Gate();
         EraseWriteAndReadBack();
       }},
      // Against a tool rather than a floor: the update must not be slower.
      {"UpdateFirmware, 8 MiB, vs flashcp", [] { Accounts(1); }, UpdateFirmware,
       [] {
         Gate();
         FlashcpSteps();
       },
       1.0},
      {"boot program, end to end", [] {}, [](DeviceManager&) { Boot(); }, {}, 0, true},
  };
}

}  // namespace nolva::bench
