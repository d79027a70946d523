#include "board/control/board_control.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "board/board_paths.h"

namespace fs = std::filesystem;

namespace nolva::board {
const char kEmptyHubUsbDevices[] =
    "T:  Bus=01 Lev=00 Prnt=00 Port=00 Cnt=00 Dev#=  1 Spd=480  MxCh= 1\n"
    "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=01 MxPS=64 #Cfgs=  1\n"
    "P:  Vendor=1d6b ProdID=0002 Rev= 4.14\n"
    "S:  Manufacturer=Linux 4.14 ehci_hcd\n"
    "S:  Product=EHCI Host Controller\n"
    "C:* #Ifs= 1 Cfg#= 1 Atr=e0 MxPwr=  0mA\n"
    "I:* If#= 0 Alt= 0 #EPs= 1 Cls=09(hub  ) Sub=00 Prot=00 Driver=hub\n"
    "\n"
    "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=480  MxCh= 4\n"
    "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=02 MxPS=64 #Cfgs=  1\n"
    "P:  Vendor=05e3 ProdID=0608 Rev=85.37\n"
    "S:  Product=USB2.0 Hub\n"
    "C:* #Ifs= 1 Cfg#= 1 Atr=e0 MxPwr=100mA\n"
    "I:* If#= 0 Alt= 1 #EPs= 1 Cls=09(hub  ) Sub=00 Prot=02 Driver=hub\n";

void CreateBoard(const std::string& dir, const BoardOptions& options) {
  char normal[kPathMax];
  const std::string absolute = fs::absolute(dir).string();
  if (!NormalisePath(absolute.c_str(), normal, sizeof normal) || normal == std::string("/") ||
      FindMappedPath(normal) != nullptr)
    throw std::invalid_argument("cannot make a board at " + dir);
  const fs::path root(normal);
  fs::create_directories(root);
  // Only an old board or an empty directory is wiped: a mistyped DIR must
  // not cost anyone their files.
  if (!IsBoard(normal) && !fs::is_empty(root))
    throw std::invalid_argument(dir + " is neither empty nor a board");
  for (const fs::directory_entry& entry : fs::directory_iterator(root))
    fs::remove_all(entry.path());
  // The skeleton every board has; optional parts follow from BoardOptions.
  for (const char* file : {kMarkerName, "log"})
    WriteFile((root / file).string(), "");
  for (const char* dir : {"flash", "etc/network", "tmp", "dev", "faults", "proc/bus/usb"})
    fs::create_directories(root / dir);
  if (options.gpio) WriteFile((root / "dev/gpio").string(), "");
  if (options.eth0) {
    fs::create_directories(root / "eth0");
    WriteFile((root / "eth0/hwaddr").string(), options.mac + "\n");
  }
  if (options.mtdEraseSize == 0 || options.mtdSize == 0 ||
      options.mtdSize % options.mtdEraseSize != 0)
    throw std::invalid_argument("MTD size must be a non-zero multiple of the erase size");
  WriteFile((root / "mtd-geometry").string(),
            std::to_string(options.mtdSize) + " " + std::to_string(options.mtdEraseSize) + "\n");
  const std::string erased(options.mtdSize, '\xFF');
  for (const char* partition : {"dev/mtd3", "dev/mtd4"})
    WriteFile((root / partition).string(), erased);
  SetUsbDevices(normal, options.usbDevices);
}

bool IsBoard(const std::string& dir) {
  return FileExists(dir + "/" + kMarkerName);
}

std::string HostPath(const std::string& board, const std::string& devicePath) {
  char device[kPathMax];
  if (!NormalisePath(devicePath.c_str(), device, sizeof device) ||
      FindMappedPath(device) == nullptr)
    throw std::invalid_argument("not a board path: " + devicePath);
  return board + device;
}

void SetUsbDevices(const std::string& board, const std::string& text) {
  WriteFile(HostPath(board, "/proc/bus/usb/devices"), text);
}

void WritePartition(const std::string& board, const std::string& device, std::uint32_t offset,
                    const std::string& bytes) {
  const std::string path = HostPath(board, device);
  std::fstream partition(path, std::ios::binary | std::ios::in | std::ios::out);
  const std::uintmax_t size = fs::file_size(path);
  if (!partition || offset > size || bytes.size() > size - offset)
    throw std::invalid_argument("cannot put " + std::to_string(bytes.size()) + " bytes at " +
                                std::to_string(offset) + " of " + device);
  partition.seekp(offset);
  partition.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  partition.close();
  if (!partition) throw std::runtime_error("cannot write " + path);
}

void SetFault(const std::string& board, const std::string& name, const std::string& value) {
  const std::string path = board + "/faults/" + name;
  fs::remove(path + ".used");  // a byte budget starts afresh
  WriteFile(path, value);
}

void ClearFault(const std::string& board, const std::string& name) {
  const std::string path = board + "/faults/" + name;
  fs::remove(path);
  fs::remove(path + ".used");
}

std::string LogText(const std::string& board) {
  return ReadFile(board + "/log");
}

std::vector<std::string> LogLines(const std::string& board) {
  std::vector<std::string> lines;
  std::istringstream in(LogText(board));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

}  // namespace nolva::board
