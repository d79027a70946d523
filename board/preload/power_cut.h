// The power cut: $BOARD/faults/power-cut holding N lets N steps reach the
// board's flash; the next step never happens. The process dies on the spot,
// as the CPU would: no error return, no destructor, no clean-up. What the
// flash still holds is what a power cut leaves: every file whose writes were
// not yet synced loses them (it is left empty), everything synced stays.
//
// Without a number in the file the steps are only counted. The count, and the
// files with unsynced writes, live in faults/power-cut.used, shared by every
// process on the board.
#pragma once

#include "board/board_paths.h"

namespace nolva::board::sim {

// One step that reaches the flash: opening for writing, a write, a sync, a
// close, a rename, a removal, a change of mode or a new directory.
enum class FlashStep : unsigned char { Open, Write, Sync, Close, Rename, Remove, Chmod, Mkdir };

// Called before the step; returns only when the step may happen. Steps in
// other areas than the flash are not counted.
void PowerStep(Area area, FlashStep step, const char* device, const char* to = nullptr);

}  // namespace nolva::board::sim
