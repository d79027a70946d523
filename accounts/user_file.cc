#include "accounts/user_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/replacement_file.h"

namespace nolva {
namespace {

constexpr const char* kUserFilePath = "/flash/nolva_user";

// Takes one line (or one 255-byte piece of a longer one) as "name:digest".
// A part that does not fit its field is refused rather than cut, so no line
// can turn into a different account name.
bool ParseUserLine(char* line, UserEntry* entry) {
  char* colon = strchr(line, ':');
  if (!colon || colon == line) return false;
  std::size_t length = strlen(line);
  if (line[length - 1] == '\n') line[--length] = '\0';
  *colon = '\0';
  const char* digest = colon + 1;
  if (strlen(line) >= sizeof entry->name || strlen(digest) >= sizeof entry->digest) return false;
  memset(entry, 0, sizeof *entry);
  memcpy(entry->name, line, strlen(line));
  memcpy(entry->digest, digest, strlen(digest));
  return true;
}

}  // namespace

void FillDefaultUsers(DeviceManager& manager, UserTable* table) {
  memset(&table->entries[0], 0, sizeof table->entries[0]);
  memcpy(table->entries[0].name, "admin", sizeof "admin");
  manager.MakePasswordDigest(table->entries[0].digest, "kevla");
  table->count = 1;
}

std::int32_t ReadUserFile(DeviceManager& manager, UserTable* table) {
  Stream stream(fopen(kUserFilePath, "r"));
  if (!stream.IsOpen()) {
    // Only a missing file means a factory-fresh device. Any other failure
    // (out of descriptors, an I/O error) must not overwrite the accounts
    // with the factory one.
    if (errno != ENOENT) return -1;
    FillDefaultUsers(manager, table);
    return WriteUserFile(table);
  }
  table->count = 0;
  char line[256];
  for (int lines = 0; lines < kMaxUsers && fgets(line, sizeof line, stream.Get()); ++lines) {
    if (ParseUserLine(line, &table->entries[table->count])) ++table->count;
  }
  // A table cut short by a read error would lose the rest of the accounts at
  // the next save.
  return ferror(stream.Get()) ? -1 : 0;
}

std::int32_t WriteUserFile(const UserTable* table) {
  ReplacementFile file(kUserFilePath);
  int count = table->count < 0 ? 0 : table->count > kMaxUsers ? kMaxUsers : table->count;
  for (int i = 0; i < count; ++i) {
    const UserEntry& entry = table->entries[i];
    char line[sizeof entry.name + sizeof entry.digest + 2];
    int n = snprintf(line, sizeof line, "%.*s:%.*s\n", static_cast<int>(sizeof entry.name - 1),
                     entry.name, static_cast<int>(sizeof entry.digest - 1), entry.digest);
    if (n < 0 || !file.Write(line, static_cast<std::size_t>(n))) return -1;
  }
  return file.Commit();
}

std::int32_t DeviceManager::LoadUsers(UserTable* table) {
  if (!table) return -1;
  HeldMutex held(mutex);
  return ReadUserFile(*this, table);
}

std::int32_t DeviceManager::SaveUsers(const UserTable* table) {
  if (!table) return -1;
  HeldMutex held(mutex);
  return WriteUserFile(table);
}

std::int32_t DeviceManager::ResetUsers(UserTable* table) {
  if (!table) return -1;
  FillDefaultUsers(*this, table);
  return SaveUsers(table);
}

}  // namespace nolva
