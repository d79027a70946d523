#include <cstring>

#include "accounts/user_file.h"
#include "store/device_manager.h"
#include "store/handles.h"

namespace nolva {
namespace {

bool TooLong(const char* text, std::size_t limit) {
  return strnlen(text, limit + 1) > limit;
}

const UserEntry* FindUser(const UserTable& table, const char* name) {
  for (int i = 0; i < table.count; ++i) {
    if (strcmp(table.entries[i].name, name) == 0) return &table.entries[i];
  }
  return nullptr;
}

// Compares every byte of both fields, so the time taken tells nothing about
// how much of a guessed digest was right.
bool SameDigest(const char (&stored)[40], const char (&made)[40]) {
  unsigned char difference = 0;
  bool storedEnded = false;
  bool madeEnded = false;
  for (std::size_t i = 0; i < sizeof stored; ++i) {
    storedEnded = storedEnded || stored[i] == '\0';
    madeEnded = madeEnded || made[i] == '\0';
    char a = storedEnded ? '\0' : stored[i];
    char b = madeEnded ? '\0' : made[i];
    difference |= static_cast<unsigned char>(a ^ b);
  }
  return difference == 0;
}

}  // namespace

std::int32_t DeviceManager::VerifyUser(const char* name, const char* password) {
  if (!name || !password) return -1;
  if (TooLong(name, kMaxNameLength) || TooLong(password, kMaxPasswordLength)) return -2;
  UserTable table;
  if (LoadUsers(&table) != 0) return -3;
  const UserEntry* user = FindUser(table, name);
  if (!user) return -4;
  char digest[40] = {};
  MakePasswordDigest(digest, password);
  return SameDigest(user->digest, digest) ? 0 : -1;
}

}  // namespace nolva
