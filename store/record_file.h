#pragma once

#include <cstddef>
#include <cstdint>

#include "store/held_mutex.h"

namespace nolva {

// A settings record kept as one flash file holding exactly its bytes.
struct RecordFile {
  const char* path;
  std::size_t size;
  void (*fillDefaults)(void* record);
};

extern const RecordFile kNetworkSettingsFile;
extern const RecordFile kServiceSettingsFile;
extern const RecordFile kOcpSettingsFile;

// Load: 0 when the whole record was read; -1 when the file is short or
// unreadable (the bytes read stand in the record). A missing file is
// replaced by the defaults, and the result is the store's; a file that exists
// but cannot be opened gives -1 and is left alone.
std::int32_t LoadRecordFile(const HeldMutex& held, const RecordFile& file, void* record);
std::int32_t StoreRecordFile(const HeldMutex& held, const RecordFile& file, const void* record);

}  // namespace nolva
