#pragma once

#include <cstdint>

namespace nolva {

inline constexpr int kMaxUsers = 256;

struct UserEntry {
  char name[20];
  char digest[40];
};

struct UserTable {
  std::int32_t count;
  UserEntry entries[kMaxUsers];
};

static_assert(sizeof(UserEntry) == 60, "user row layout");

}  // namespace nolva
