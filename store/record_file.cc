#include "store/record_file.h"

#include <cerrno>
#include <cstdio>

#include "store/handles.h"
#include "store/replacement_file.h"

namespace nolva {

std::int32_t LoadRecordFile(const HeldMutex& held, const RecordFile& file, void* record) {
  Stream stream(fopen(file.path, "rb"));
  if (!stream.IsOpen()) {
    // Only a missing file means factory-fresh. Any other failure (out of
    // descriptors, an I/O error) must not replace the stored settings.
    if (errno != ENOENT) return -1;
    file.fillDefaults(record);
    return StoreRecordFile(held, file, record);
  }
  std::size_t read = fread(record, 1, file.size, stream.Get());
  return read == file.size ? 0 : -1;
}

std::int32_t StoreRecordFile(const HeldMutex&, const RecordFile& file, const void* record) {
  ReplacementFile replacement(file.path);
  if (!replacement.Write(record, file.size)) return -1;
  return replacement.Commit();
}

}  // namespace nolva
