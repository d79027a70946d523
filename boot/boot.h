#pragma once

#include <cstdint>

// The board configuration block: bytes 0 to 5 are eth0's MAC address.
extern unsigned char CFG[414];

namespace nolva {

// 1 when the file was opened (however much it held), -1 otherwise.
// QUIRK: success is 1, not 0; the boot sequence's callers expect it.
std::int32_t ReadRawFile(const char* path, void* buffer, std::int32_t length);

// 0 when the data was written and the mode set to 0666, -1 otherwise.
std::int32_t WriteRawFile(const char* path, const void* data, std::int32_t length);

// Hands the GPIO driver the board's fixed port configuration.
void InitGpio();

// The boot sequence: MAC address, IP configuration, interfaces file,
// network scripts, GPIO port. Always 0.
int BringUpNetwork();

}  // namespace nolva
