// The floors: the platform work an operation cannot avoid, done in a bare
// loop, with the same calls the device's code makes (through the board's
// libc, like the operations themselves). An operation's time over its floor
// is what the device's own code adds.
#pragma once

#include <cstddef>

namespace nolva::bench {

// Opens a file, reads it whole with a single read and closes it: the least
// that taking in the user file or the USB device list can cost.
void ReadWhole(const char* path);

// Reads a record's bytes through stdio, as a settings load does.
void ReadRecord(const char* path, std::size_t size);

// The one digest the gate makes: MD5 over a 128-byte salted buffer.
void Digest();

// Replaces a file as every save on the device must: a temporary file
// written, synced and renamed over it, then the directory synced.
void SaveBytes(const char* path, const void* data, std::size_t size);

}  // namespace nolva::bench
