// A simulated board for a whole process (a fuzz target, a benchmark), made
// once when it starts and removed when it exits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "board/control/board_control.h"

namespace nolva::board {

// Makes a fresh board in a temporary directory and makes it the active one.
void StartBoard(const BoardOptions& options = {});
const std::string& BoardDirectory();

// Empties the board's flash and its log: the next call finds a factory fresh
// device, and a long run does not fill the disk with log lines.
void WipeBoard();
// Empties only the log.
void ClearLog();

void WriteBoardFile(const char* devicePath, const std::uint8_t* data, std::size_t size);

}  // namespace nolva::board
