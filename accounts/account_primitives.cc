#include <cstring>

#include "accounts/user_file.h"
#include "store/device_manager.h"

namespace nolva {
namespace {

bool TooLong(const char* text, std::size_t limit) {
  return strnlen(text, limit + 1) > limit;
}

// A name the user file can hold and a person can read back: the next load
// must find the same account, so no empty name, no ':' that ends it and no
// control character (a line end among them).
bool StorableName(const char* name) {
  if (name[0] == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (!IsNameByte(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

// QUIRK: the first row of that name wins, as every lookup on the device takes.
int FindUser(const UserTable& table, const char* name) {
  for (int i = 0; i < table.count; ++i) {
    if (strcmp(table.entries[i].name, name) == 0) return i;
  }
  return -1;
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
  if (!name || !password) return kAccountRefused;
  if (TooLong(name, kMaxNameLength) || TooLong(password, kMaxPasswordLength))
    return kAccountTooLong;
  // The first row of that name, read without a table: the gate runs on
  // every call and most files hold "admin" first.
  const std::size_t nameLength = strlen(name);
  char stored[40] = {};
  bool found = false;
  const std::int32_t read = VisitUserFile(Hold(), *this, [&](const UserRowText& row) {
    found = row.nameLength == nameLength && memcmp(row.name, name, nameLength) == 0;
    if (found) memcpy(stored, row.digest, row.digestLength);
    return !found;
  });
  if (read != 0) return kAccountUnreadable;
  if (!found) return kAccountNotFound;
  char digest[40] = {};
  MakePasswordDigest(digest, password);
  return SameDigest(stored, digest) ? kAccountDone : kAccountRefused;
}

// The changes below hold the mutex from load to save, so two changes on one
// manager cannot both succeed while one of them is lost.

std::int32_t DeviceManager::SetUserPassword(const char* name, const char* newPassword) {
  if (!name || !newPassword) return kAccountRefused;
  if (TooLong(name, kMaxNameLength) || TooLong(newPassword, kMaxPasswordLength))
    return kAccountTooLong;
  const HeldMutex held = Hold();
  UserTable table;
  if (ReadUserFile(held, *this, &table) != 0) return kAccountUnreadable;
  int row = FindUser(table, name);
  if (row < 0) return kAccountNotFound;
  MakePasswordDigest(table.entries[row].digest, newPassword);
  return WriteUserFile(held, &table) == 0 ? kAccountDone : kAccountRefused;
}

std::int32_t DeviceManager::RemoveUser(const char* name) {
  if (!name) return kAccountRefused;
  if (TooLong(name, kMaxNameLength)) return kAccountTooLong;
  const HeldMutex held = Hold();
  UserTable table;
  if (ReadUserFile(held, *this, &table) != 0) return kAccountUnreadable;
  int row = FindUser(table, name);
  if (row < 0) return kAccountNotFound;
  // The remaining accounts keep their order.
  memmove(&table.entries[row], &table.entries[row + 1],
          sizeof(UserEntry) * static_cast<std::size_t>(table.count - row - 1));
  --table.count;
  return WriteUserFile(held, &table) == 0 ? kAccountDone : kAccountRefused;
}

// An unstorable name and a full table are refused like a failed save.
std::int32_t DeviceManager::AppendUser(const char* name, const char* password) {
  if (!name || !password) return kAccountRefused;
  if (TooLong(name, kMaxNameLength) || TooLong(password, kMaxPasswordLength))
    return kAccountTooLong;
  if (!StorableName(name)) return kAccountRefused;
  const HeldMutex held = Hold();
  UserTable table;
  if (ReadUserFile(held, *this, &table) != 0) return kAccountUnreadable;
  if (FindUser(table, name) >= 0) return kAccountExists;
  if (table.count >= kMaxUsers) return kAccountRefused;
  UserEntry& user = table.entries[table.count];
  memset(&user, 0, sizeof user);
  memcpy(user.name, name, strlen(name));
  MakePasswordDigest(user.digest, password);
  ++table.count;
  return WriteUserFile(held, &table) == 0 ? kAccountDone : kAccountRefused;
}

std::int32_t DeviceManager::ListUserNames(char* text, std::int32_t size) {
  if (!text || size <= 0) return kNameListNoRoom;
  // Built apart and copied whole, so that a failed read leaves the buffer
  // as it was. Whole names only; QUIRK: the buffer's last byte stays unused.
  const std::size_t room = static_cast<std::size_t>(size);
  char list[kMaxUsers * sizeof(UserEntry::name) + 1];
  std::size_t length = 0;
  const std::int32_t read = VisitUserFile(Hold(), *this, [&](const UserRowText& row) {
    // QUIRK: later rows are not tried once one does not fit, even shorter ones.
    if (length + row.nameLength + 2 >= room) return false;
    memcpy(list + length, row.name, row.nameLength);
    length += row.nameLength;
    list[length++] = '\n';
    return true;
  });
  if (read != 0) return kNameListUnreadable;
  memcpy(text, list, length);
  text[length] = '\0';
  return kNameListDone;
}

}  // namespace nolva
