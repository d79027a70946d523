#include "store/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nolva {
namespace {

// Two managers in one process may save the same file at once.
std::atomic<unsigned> temporaryCounter{0};

bool CopyPath(char (&out)[64], const char* path) {
  int n = snprintf(out, sizeof out, "%s", path);
  return n > 0 && static_cast<std::size_t>(n) < sizeof out;
}

int OpenTemporary(const char* path, char (&temporaryPath)[96]) {
  int n = snprintf(temporaryPath, sizeof temporaryPath, "%s.tmp-%ld-%u", path,
                   static_cast<long>(getpid()), temporaryCounter.fetch_add(1));
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof temporaryPath) return -1;
  return open(temporaryPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int SyncDirectoryOf(const char* path) {
  char directory[64];
  if (!CopyPath(directory, path)) return -1;
  char* slash = strrchr(directory, '/');
  if (!slash) return -1;
  if (slash == directory)
    slash[1] = '\0';
  else
    *slash = '\0';
  FileDescriptor fd(open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsOpen()) return -1;
  return fsync(fd.Get());
}

}  // namespace

ReplacementFile::ReplacementFile(const char* path)
    : fd_(CopyPath(path_, path) ? OpenTemporary(path, temporaryPath_) : -1) {
  created_ = fd_.Get() >= 0;
  failed_ = !fd_.IsOpen();
}

ReplacementFile::~ReplacementFile() {
  if (committed_) return;
  fd_.Close();
  if (created_) unlink(temporaryPath_);
}

bool ReplacementFile::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (!failed_ && size > 0) {
    ssize_t written = write(fd_.Get(), bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failed_ = true;
      break;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return !failed_;
}

std::int32_t ReplacementFile::Commit() {
  if (failed_ || committed_) return -1;
  if (fsync(fd_.Get()) != 0 || fd_.Close() != 0) return -1;
  if (rename(temporaryPath_, path_) != 0) return -1;
  committed_ = true;
  return SyncDirectoryOf(path_) == 0 ? 0 : -1;
}

}  // namespace nolva
