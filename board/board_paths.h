// Which absolute device paths live inside a simulated board, shared by the
// interposer (libc entries) and the control API (tests, the tool).
#pragma once

#include <cstddef>
#include <cstring>

namespace nolva::board {

inline constexpr char kBoardEnv[] = "NOLVA_BOARD";
inline constexpr char kMarkerName[] = ".nolva-board";
inline constexpr std::size_t kPathMax = 4096;

enum class Area : unsigned char { Flash, Network, Tmp, Gpio, Mtd, UsbList };

// A device path maps to the same relative path under the board directory.
struct MappedPath {
  const char* device;
  bool subtree;  // also everything below it
  Area area;
};

inline constexpr MappedPath kMappedPaths[] = {
    {"/flash", true, Area::Flash},
    {"/etc/network", true, Area::Network},
    {"/tmp/.nolva_reboot", false, Area::Tmp},
    {"/dev/gpio", false, Area::Gpio},
    {"/dev/mtd3", false, Area::Mtd},
    {"/dev/mtd4", false, Area::Mtd},
    {"/proc/bus/usb/devices", false, Area::UsbList},
};

// Lexical clean-up of an absolute path ("//flash/./x", "/tmp/../flash/x"
// -> "/flash/x") so that no spelling slips past the table to the host.
// Returns false for relative paths and for paths that do not fit.
inline bool NormalisePath(const char* in, char* out, std::size_t size) {
  if (in == nullptr || in[0] != '/' || size < 2) return false;
  std::size_t len = 0;
  const char* p = in;
  while (*p != '\0') {
    while (*p == '/')
      ++p;
    const char* end = p;
    while (*end != '\0' && *end != '/')
      ++end;
    const std::size_t n = static_cast<std::size_t>(end - p);
    if (n == 0 || (n == 1 && p[0] == '.')) {
      p = end;
      continue;
    }
    if (n == 2 && p[0] == '.' && p[1] == '.') {
      while (len > 0 && out[len - 1] != '/')
        --len;
      if (len > 0) --len;
      p = end;
      continue;
    }
    if (len + 1 + n + 1 > size) return false;
    out[len++] = '/';
    std::memcpy(out + len, p, n);
    len += n;
    p = end;
  }
  if (len == 0) out[len++] = '/';
  out[len] = '\0';
  return true;
}

// The row covering a normalised absolute path, or nullptr for host paths.
inline const MappedPath* FindMappedPath(const char* path) {
  for (const MappedPath& row : kMappedPaths) {
    const std::size_t n = std::strlen(row.device);
    if (std::strncmp(path, row.device, n) != 0) continue;
    if (path[n] == '\0' || (row.subtree && path[n] == '/')) return &row;
  }
  return nullptr;
}

}  // namespace nolva::board
