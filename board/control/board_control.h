// Preparing and inspecting a simulated board from outside it: tests and the
// nolva-board tool work on the board directory, never on the device paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nolva::board {

// Bus 1 with its root hub and the 4-port hub (device 2), nothing plugged in.
extern const char kEmptyHubUsbDevices[];

struct BoardOptions {
  bool gpio = true;  // dev/gpio present
  bool eth0 = true;  // eth0/hwaddr present
  std::string mac = "00:00:00:00:00:00";
  // /dev/mtd3 and /dev/mtd4: erased NOR partitions of this geometry.
  std::uint32_t mtdSize = 8u << 20;
  std::uint32_t mtdEraseSize = 64u << 10;
  std::string usbDevices = kEmptyHubUsbDevices;  // /proc/bus/usb/devices
};

// Makes `dir` a fresh board, wiping whatever it held. Throws on failure.
void CreateBoard(const std::string& dir, const BoardOptions& options = {});
bool IsBoard(const std::string& dir);

// "/flash/nolva_system" -> dir + "/flash/nolva_system"; throws for paths
// that do not live on the board.
std::string HostPath(const std::string& board, const std::string& devicePath);

// Replaces the board's USB device list, as plugging devices in would.
void SetUsbDevices(const std::string& board, const std::string& text);
// Puts bytes into a partition at `offset` as they are, without erasing or
// programming; throws when they pass the partition's end.
void WritePartition(const std::string& board, const std::string& device, std::uint32_t offset,
                    const std::string& bytes);

void SetFault(const std::string& board, const std::string& name, const std::string& value = "");
void ClearFault(const std::string& board, const std::string& name);

std::string LogText(const std::string& board);
std::vector<std::string> LogLines(const std::string& board);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // throws when missing
bool FileExists(const std::string& path);

// A program to run on a board (board/control/launch.cc).
struct BoardProgram {
  std::vector<std::string> argv;  // searched on PATH like execvp
  std::string preload;            // the board library to preload
  // "NAME=value" entries over the caller's environment; "LD_PRELOAD=..."
  // replaces `preload` ("LD_PRELOAD=" runs the program without it).
  std::vector<std::string> env;
};

struct ProgramResult {
  int exitStatus;   // 128 + signal when killed, -1 when it could not start
  std::string out;  // its standard output when captured
};

// Runs the program with NOLVA_BOARD=board and waits for it. Its standard
// output goes to `out` when `capture`, else it shares the caller's.
ProgramResult RunOnBoard(const std::string& board, const BoardProgram& program, bool capture);

}  // namespace nolva::board
