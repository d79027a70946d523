#include "tests/support/descriptors.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>

namespace nolva::test {

std::map<int, std::string> OpenDescriptors() {
  std::map<int, std::string> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  const int own = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd == own) continue;
    char target[512] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    fds[fd] = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?";
  }
  closedir(dir);
  return fds;
}

}  // namespace nolva::test
