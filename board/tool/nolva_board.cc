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

using Args = std::vector<std::string>;

constexpr std::size_t kConfigSize = 414;
constexpr int kUsage = 2;

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

std::string Help();

int Usage(const std::string& problem) {
  std::cerr << "nolva-board: " << problem << "\n" << Help();
  return kUsage;
}

bool ParseMac(const std::string& text, unsigned char mac[6]) {
  unsigned b[6];
  char tail;
  // NOLINTNEXTLINE(cert-err34-c): two hex digits a byte cannot overflow
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

std::string Absolute(const std::string& dir) {
  return fs::absolute(dir).lexically_normal().string();
}

std::string ExistingBoard(const std::string& dir) {
  std::string board = Absolute(dir);
  if (!IsBoard(board)) throw std::invalid_argument(dir + " is not a board (try: nolva-board new)");
  return board;
}

std::string PreloadPath() {
  const char* override = std::getenv("NOLVA_BOARD_PRELOAD");
  return override != nullptr && override[0] != '\0' ? override : NOLVA_BOARD_PRELOAD_PATH;
}

// Runs the program, then tells what of it reached the platform.
int RunAndShow(const std::string& board, const Args& argv) {
  const std::size_t before = LogLines(board).size();
  std::cout.flush();
  const int status = RunOnBoard(board, {argv, PreloadPath(), {}}, false).exitStatus;
  const std::vector<std::string> lines = LogLines(board);
  std::cout << "--- nolva-board " << board << ": " << argv[0] << " exited with " << status << "\n"
            << Summary(board, {lines.begin() + static_cast<long>(before), lines.end()});
  return status;
}

// ---- the commands --------------------------------------------------------------

// Each option's value is checked as it is read; --mac and --config-mac both
// parse into one address, as they always have.
int New(const Args& args) {
  BoardOptions options;
  bool config = false;  // --config-mac given
  unsigned char configMac[6];
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& name = args[i];
    const bool flag = name == "--no-gpio" || name == "--no-eth0";
    if (!flag && i + 1 == args.size()) return Usage("new: bad option " + name);
    const std::string value = flag ? "" : args[++i];
    bool ok = true;
    if (name == "--no-gpio") {
      options.gpio = false;
    } else if (name == "--no-eth0") {
      options.eth0 = false;
    } else if (name == "--mac") {
      ok = ParseMac(value, configMac);
      options.mac = value;
    } else if (name == "--config-mac") {
      ok = ParseMac(value, configMac);
      config = true;
    } else if (name == "--mtd-size") {
      ok = ParseSize(value, &options.mtdSize);
    } else if (name == "--mtd-erase-size") {
      ok = ParseSize(value, &options.mtdEraseSize);
    } else if (name == "--usb") {
      options.usbDevices = ReadFile(value);
    } else {
      ok = false;
    }
    if (!ok) return Usage("new: bad option " + name);
  }
  const std::string board = Absolute(args[0]);
  CreateBoard(board, options);
  if (config) WriteConfigMac(board, configMac);
  std::cout << "board ready: " << board << "\n";
  return 0;
}

int Run(const Args& args) {
  return RunAndShow(ExistingBoard(args[0]), {args.begin() + 2, args.end()});
}

int Show(const Args& args) {
  const std::string board = ExistingBoard(args[0]);
  std::cout << Summary(board, LogLines(board));
  return 0;
}

int Usb(const Args& args) {
  SetUsbDevices(ExistingBoard(args[0]), ReadFile(args[1]));
  return 0;
}

int Fault(const Args& args) {
  SetFault(ExistingBoard(args[0]), args[1], args.size() == 3 ? args[2] : "");
  return 0;
}

int ClearFaultCommand(const Args& args) {
  ClearFault(ExistingBoard(args[0]), args[1]);
  return 0;
}

int Demo(const Args& args) {
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
  const std::string board = Absolute(dir);
  CreateBoard(board);
  const unsigned char mac[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
  WriteConfigMac(board, mac);
  std::cout << "--- booting " << boot << " on " << board << "\n";
  RunAndShow(board, {boot});

  SetUsbDevices(board, std::string(kEmptyHubUsbDevices) + "\n" + kDemoUsbDevices);
  fs::create_directories(HostPath(board, "/flash/ocp"));
  WriteFile(HostPath(board, "/flash/ocp/session"), "left by the OCP service\n");
  std::cout << "\n--- a front end's round on " << board << "\n";
  RunAndShow(board, {NOLVA_DEVICE_DEMO_PATH});
  std::cout << "board left at " << board << "\n";
  return 0;
}

struct Command {
  const char* name;
  const char* usage;  // its lines of the help
  bool needsDir;      // the first operand is the board's directory
  // Whether the operands fit the command (nullptr: any do), and the problem
  // shown when they do not (nullptr: an unknown command or arguments).
  bool (*fits)(const Args& args);
  const char* misfit;
  int (*run)(const Args& args);
};

const Command kCommands[] = {
    {"new",
     "  new DIR [--no-gpio] [--no-eth0] [--mac MAC] [--config-mac MAC]\n"
     "          [--mtd-size BYTES] [--mtd-erase-size BYTES] [--usb FILE]\n"
     "                      make DIR a fresh board (DIR must be empty or a board);\n"
     "                      BYTES may end in K or M (defaults 8M and 64K)\n",
     true, nullptr, nullptr, New},
    {"run",
     "  run DIR -- PROGRAM [ARGS...]\n"
     "                      run PROGRAM on the board, then show what reached it\n",
     true, [](const Args& a) { return a.size() >= 3 && a[1] == "--"; },
     "run: expected DIR -- PROGRAM [ARGS...]", Run},
    {"show", "  show DIR            show everything the board's log holds\n", true, nullptr,
     nullptr, Show},
    {"usb", "  usb DIR FILE        replace the board's USB device list with FILE's text\n", true,
     [](const Args& a) { return a.size() == 2; }, nullptr, Usb},
    {"fault",
     "  fault DIR NAME [VALUE]   switch a fault on (flash-readonly, flash-full [BYTES],\n"
     "                      flash-fsync-fails, flash-rename-fails, interfaces-readonly,\n"
     "                      tmp-readonly, mtd-erase-fails, mtd-getinfo-fails,\n"
     "                      mtd-erasesize-zero, mtd-write-fails, mtd-short-writes BYTES,\n"
     "                      mtd-write-stalls, mtd-read-flips OFFSET)\n",
     true, [](const Args& a) { return a.size() == 2 || a.size() == 3; }, nullptr, Fault},
    {"clear-fault", "  clear-fault DIR NAME\n", true, [](const Args& a) { return a.size() == 2; },
     nullptr, ClearFaultCommand},
    {"demo",
     "  demo [DIR]          boot nolva-boot on a fresh board with MAC 0a:1b:2c:3d:4e:5f,\n"
     "                      then update its firmware and reset it to the factory state\n",
     false, nullptr, nullptr, Demo},
};

std::string Help() {
  std::string text = "usage: nolva-board COMMAND ...\n";
  for (const Command& command : kCommands)
    text += command.usage;
  return text;
}

int Dispatch(const std::string& name, const Args& args) {
  if (name == "--help" || name == "-h" || name == "help") {
    std::cout << Help();
    return 0;
  }
  const Command* command = nullptr;
  for (const Command& row : kCommands)
    if (name == row.name) command = &row;
  if ((command == nullptr || command->needsDir) && args.empty())
    return Usage(name + ": DIR missing");
  if (command != nullptr && (command->fits == nullptr || command->fits(args)))
    return command->run(args);
  if (command != nullptr && command->misfit != nullptr) return Usage(command->misfit);
  return Usage("unknown command or arguments: " + name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  try {
    return Dispatch(argv[1], {argv + 2, argv + argc});
  } catch (const std::exception& e) {
    std::cerr << "nolva-board: " << e.what() << "\n";
    return kUsage;
  }
}
