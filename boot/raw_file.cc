#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "boot/boot.h"
#include "store/handles.h"

namespace nolva {

std::int32_t ReadRawFile(const char* path, void* buffer, std::int32_t length) {
  if (length < 0) return -1;
  FileDescriptor fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.IsOpen()) return -1;
  lseek(fd.Get(), 0, SEEK_SET);
  // A short file leaves the rest of the buffer as it was.
  ssize_t ignored = read(fd.Get(), buffer, static_cast<std::size_t>(length));
  (void)ignored;
  return 1;
}

std::int32_t WriteRawFile(const char* path, const void* data, std::int32_t length) {
  if (length < 0) return -1;
  bool written = false;
  {
    FileDescriptor fd(open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.IsOpen() && lseek(fd.Get(), 0, SEEK_SET) == 0) {
      written = write(fd.Get(), data, static_cast<std::size_t>(length)) == length;
    }
    if (fd.Close() != 0) written = false;
  }
  if (chmod(path, 0666) != 0) return -1;
  return written ? 0 : -1;
}

}  // namespace nolva
