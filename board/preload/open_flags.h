// open(2) flags and fopen(3) modes as the board's log spells them.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdio>

namespace nolva::board::sim {

inline bool WantsWrite(int flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
}

// "O_WRONLY|O_CREAT|O_EXCL"
inline void FlagsText(int flags, char* out, std::size_t size) {
  struct Flag {
    int bits;
    const char* name;
  };
  static constexpr Flag kFlags[] = {
      {O_CREAT, "O_CREAT"},         {O_EXCL, "O_EXCL"},         {O_TRUNC, "O_TRUNC"},
      {O_APPEND, "O_APPEND"},       {O_NONBLOCK, "O_NONBLOCK"}, {O_SYNC, "O_SYNC"},
      {O_DIRECTORY, "O_DIRECTORY"}, {O_NOFOLLOW, "O_NOFOLLOW"}, {O_CLOEXEC, "O_CLOEXEC"},
      {O_NOCTTY, "O_NOCTTY"},
  };
  static constexpr const char* kAccess[] = {"O_RDONLY", "O_WRONLY", "O_RDWR", "O_ACCMODE"};
  std::size_t len =
      static_cast<std::size_t>(std::snprintf(out, size, "%s", kAccess[flags & O_ACCMODE]));
  for (const Flag& flag : kFlags) {
    if ((flags & flag.bits) != flag.bits || len >= size) continue;
    len += static_cast<std::size_t>(std::snprintf(out + len, size - len, "|%s", flag.name));
  }
}

// The open(2) flags that fopen(3) uses for a mode string.
inline int ModeFlags(const char* mode) {
  int flags = 0;
  switch (mode[0]) {
    case 'w':
      flags = O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case 'a':
      flags = O_WRONLY | O_CREAT | O_APPEND;
      break;
    default:
      flags = O_RDONLY;
      break;
  }
  for (const char* c = mode + 1; *c != '\0' && *c != ','; ++c) {
    if (*c == '+') flags = (flags & ~O_ACCMODE) | O_RDWR;
    if (*c == 'x') flags |= O_EXCL;
    if (*c == 'e') flags |= O_CLOEXEC;
  }
  return flags;
}

}  // namespace nolva::board::sim
