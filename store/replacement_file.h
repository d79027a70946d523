#pragma once

#include <cstddef>
#include <cstdint>

#include "store/handles.h"

namespace nolva {

// Replaces a flash file without ever leaving it short or empty: the new
// contents go to a temporary file beside it, which is synced and renamed over
// the old one only when complete. A power cut leaves either file whole.
// The temporary name extends the target's, so a leftover is still a
// "nolva_" file that a factory reset removes.
class ReplacementFile {
 public:
  explicit ReplacementFile(const char* path);
  ~ReplacementFile();  // drops the temporary file unless committed
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Appends bytes; after the first failure every later call fails too.
  bool Write(const void* data, std::size_t size);

  // Syncs, renames over the target and syncs the directory: 0, or -1 with
  // the target untouched (or, should only the directory sync fail, replaced
  // but not known to be durable).
  std::int32_t Commit();

 private:
  char path_[64];
  char temporaryPath_[96];
  FileDescriptor fd_;
  bool created_ = false;
  bool failed_ = false;
  bool committed_ = false;
};

}  // namespace nolva
