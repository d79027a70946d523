// nolva-board: make a simulated board, run a program on it, and show what
// reached the platform.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "board/control/board_control.h"
#include "board/tool/board_summary.h"

namespace fs = std::filesystem;
using namespace nolva::board;

namespace {

constexpr std::size_t kConfigSize = 414;
constexpr int kUsage = 2;

const char kHelp[] =
    "usage: nolva-board COMMAND ...\n"
    "  new DIR [--no-gpio] [--no-eth0] [--mac MAC] [--config-mac MAC]\n"
    "          [--mtd-size BYTES] [--mtd-erase-size BYTES] [--usb FILE]\n"
    "                      make DIR a fresh board (DIR must be empty or a board);\n"
    "                      BYTES may end in K or M (defaults 8M and 64K)\n"
    "  run DIR -- PROGRAM [ARGS...]\n"
    "                      run PROGRAM on the board, then show what reached it\n"
    "  show DIR            show everything the board's log holds\n"
    "  usb DIR FILE        replace the board's USB device list with FILE's text\n"
    "  fault DIR NAME [VALUE]   switch a fault on (flash-readonly, flash-full [BYTES],\n"
    "                      flash-fsync-fails, flash-rename-fails, interfaces-readonly,\n"
    "                      tmp-readonly, mtd-erase-fails, mtd-getinfo-fails,\n"
    "                      mtd-erasesize-zero, mtd-write-fails, mtd-short-writes BYTES,\n"
    "                      mtd-write-stalls, mtd-read-flips OFFSET)\n"
    "  clear-fault DIR NAME\n"
    "  demo [DIR]          boot nolva-boot on a fresh board with MAC 0a:1b:2c:3d:4e:5f,\n"
    "                      then update its firmware and reset it to the factory state\n";

// Two devices on the hub for the demo: a flash disk on port 1, a GPS receiver on 3.
const char kDemoUsbDevices[] =
    "T:  Bus=01 Lev=02 Prnt=02 Port=01 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
    "P:  Vendor=0951 ProdID=1666 Rev= 1.00\n"
    "S:  Manufacturer=Kingston\n"
    "S:  Product=DataTraveler 3.0\n"
    "\n"
    "T:  Bus=01 Lev=02 Prnt=02 Port=03 Cnt=02 Dev#=  4 Spd=12   MxCh= 0\n"
    "P:  Vendor=1546 ProdID=01a7 Rev= 1.00\n"
    "S:  Product=u-blox 7 - GPS/GNSS Receiver\n";

int Usage(const char* problem) {
  std::cerr << "nolva-board: " << problem << "\n" << kHelp;
  return kUsage;
}

bool ParseMac(const std::string& text, unsigned char mac[6]) {
  unsigned b[6];
  char tail;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4],
                  &b[5], &tail) != 6 ||
      text.size() != 17)
    return false;
  for (int i = 0; i < 6; ++i)
    mac[i] = static_cast<unsigned char>(b[i]);
  return true;
}

// "65536", "64K", "8M"
bool ParseSize(const std::string& text, std::uint32_t* size) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str() || errno != 0 || text[0] == '-') return false;
  unsigned long long scale = 1;
  if (*end == 'K' || *end == 'k') scale = 1ull << 10;
  if (*end == 'M' || *end == 'm') scale = 1ull << 20;
  if (scale != 1) ++end;
  if (*end != '\0' || number > 0xFFFFFFFFull / scale) return false;
  *size = static_cast<std::uint32_t>(number * scale);
  return true;
}

void WriteConfigMac(const std::string& board, const unsigned char mac[6]) {
  std::string block(kConfigSize, '\0');
  block.replace(0, 6, reinterpret_cast<const char*>(mac), 6);
  WriteFile(HostPath(board, "/flash/yurn_system.cfg"), block);
}

std::string PreloadPath() {
  const char* override = std::getenv("NOLVA_BOARD_PRELOAD");
  return override != nullptr && override[0] != '\0' ? override : NOLVA_BOARD_PRELOAD_PATH;
}

int Run(const std::string& board, const std::vector<std::string>& argv) {
  const std::size_t before = LogLines(board).size();
  std::cout.flush();
  const int status = RunOnBoard(board, {argv, PreloadPath(), {}}, false).exitStatus;
  const std::vector<std::string> lines = LogLines(board);
  std::cout << "--- nolva-board " << board << ": " << argv[0] << " exited with " << status << "\n"
            << Summary(board, {lines.begin() + static_cast<long>(before), lines.end()});
  return status;
}

std::string ExistingBoard(const std::string& dir) {
  std::string board = fs::absolute(dir).lexically_normal().string();
  if (!IsBoard(board)) throw std::invalid_argument(dir + " is not a board (try: nolva-board new)");
  return board;
}

int New(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("new: DIR missing");
  BoardOptions options;
  unsigned char configMac[6];
  bool config = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--no-gpio") {
      options.gpio = false;
    } else if (args[i] == "--no-eth0") {
      options.eth0 = false;
    } else if (args[i] == "--mac" && hasValue && ParseMac(args[i + 1], configMac)) {
      options.mac = args[++i];
    } else if (args[i] == "--config-mac" && hasValue && ParseMac(args[i + 1], configMac)) {
      config = true;
      ++i;
    } else if (args[i] == "--mtd-size" && hasValue && ParseSize(args[i + 1], &options.mtdSize)) {
      ++i;
    } else if (args[i] == "--mtd-erase-size" && hasValue &&
               ParseSize(args[i + 1], &options.mtdEraseSize)) {
      ++i;
    } else if (args[i] == "--usb" && hasValue) {
      options.usbDevices = ReadFile(args[++i]);
    } else {
      return Usage(("new: bad option " + args[i]).c_str());
    }
  }
  const std::string board = fs::absolute(args[0]).lexically_normal().string();
  CreateBoard(board, options);
  if (config) WriteConfigMac(board, configMac);
  std::cout << "board ready: " << board << "\n";
  return 0;
}

int Demo(const std::vector<std::string>& args) {
  const std::string boot = NOLVA_BOOT_PATH;
  if (boot.empty()) {
    std::cerr << "nolva-board: this build has no nolva-boot\n";
    return 1;
  }
  std::string dir;
  if (!args.empty()) {
    dir = args[0];
  } else {
    char temp[] = "/tmp/nolva-demo-XXXXXX";
    if (mkdtemp(temp) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir = std::string(temp) + "/board";
  }
  const std::string board = fs::absolute(dir).lexically_normal().string();
  CreateBoard(board);
  const unsigned char mac[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
  WriteConfigMac(board, mac);
  std::cout << "--- booting " << boot << " on " << board << "\n";
  Run(board, {boot});

  SetUsbDevices(board, std::string(kEmptyHubUsbDevices) + "\n" + kDemoUsbDevices);
  fs::create_directories(HostPath(board, "/flash/ocp"));
  WriteFile(HostPath(board, "/flash/ocp/session"), "left by the OCP service\n");
  std::cout << "\n--- a front end's round on " << board << "\n";
  Run(board, {NOLVA_DEVICE_DEMO_PATH});
  std::cout << "board left at " << board << "\n";
  return 0;
}

int Dispatch(const std::vector<std::string>& args) {
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kHelp;
    return 0;
  }
  if (command == "new") return New(rest);
  if (command == "demo") return Demo(rest);
  if (rest.empty()) return Usage((command + ": DIR missing").c_str());
  if (command == "run") {
    if (rest.size() < 3 || rest[1] != "--") return Usage("run: expected DIR -- PROGRAM [ARGS...]");
    return Run(ExistingBoard(rest[0]), {rest.begin() + 2, rest.end()});
  }
  if (command == "show") {
    const std::string board = ExistingBoard(rest[0]);
    std::cout << Summary(board, LogLines(board));
    return 0;
  }
  if (command == "fault" && (rest.size() == 2 || rest.size() == 3)) {
    SetFault(ExistingBoard(rest[0]), rest[1], rest.size() == 3 ? rest[2] : "");
    return 0;
  }
  if (command == "usb" && rest.size() == 2) {
    SetUsbDevices(ExistingBoard(rest[0]), ReadFile(rest[1]));
    return 0;
  }
  if (command == "clear-fault" && rest.size() == 2) {
    ClearFault(ExistingBoard(rest[0]), rest[1]);
    return 0;
  }
  return Usage(("unknown command or arguments: " + command).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  try {
    return Dispatch({argv + 1, argv + argc});
  } catch (const std::exception& e) {
    std::cerr << "nolva-board: " << e.what() << "\n";
    return kUsage;
  }
}
