#include "accounts/user_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/line_reader.h"
#include "store/replacement_file.h"

namespace nolva {
namespace {

constexpr const char* kUserFilePath = "/flash/nolva_user";

// Takes one line as "name:digest". A part that does not fit its field is
// refused rather than cut, so no line can turn into a different account.
bool ParseUserLine(Line line, UserRowText* row) {
  std::size_t length = line.length;
  if (length > 0 && line.text[length - 1] == '\n') --length;
  // A colon past the name's field would make a name too long for it: the
  // colon is looked for within the field alone.
  const std::size_t nameEnd = length < sizeof UserEntry::name ? length : sizeof UserEntry::name;
  const char* colon = static_cast<const char*>(memchr(line.text, ':', nameEnd));
  if (!colon || colon == line.text) return false;
  row->name = line.text;
  row->nameLength = static_cast<std::size_t>(colon - line.text);
  row->digest = colon + 1;
  row->digestLength = length - row->nameLength - 1;
  return row->digestLength < sizeof UserEntry::digest;
}

}  // namespace

void FillDefaultUsers(DeviceManager& manager, UserTable* table) {
  memset(&table->entries[0], 0, sizeof table->entries[0]);
  memcpy(table->entries[0].name, kAdminName, sizeof kAdminName);
  manager.MakePasswordDigest(table->entries[0].digest, "kevla");
  table->count = 1;
}

std::int32_t VisitUserRows(const HeldMutex& held, DeviceManager& manager, UserRowTaker taker,
                           void* take) {
  Stream stream(fopen(kUserFilePath, "r"));
  if (!stream.IsOpen()) {
    // Only a missing file means a factory-fresh device. Any other failure
    // (out of descriptors, an I/O error) must not overwrite the accounts
    // with the factory one.
    if (errno != ENOENT) return -1;
    UserTable defaults;
    FillDefaultUsers(manager, &defaults);
    if (WriteUserFile(held, &defaults) != 0) return -1;
    const UserEntry& admin = defaults.entries[0];
    taker({admin.name, strlen(admin.name), admin.digest, strlen(admin.digest)}, take);
    return 0;
  }
  LineReader reader(stream.Get());
  Line line;
  int lines = 0;
  bool taking = true;
  for (; taking && lines < kMaxUsers && reader.Next(&line); ++lines) {
    UserRowText row;
    if (ParseUserLine(line, &row)) taking = taker(row, take);
  }
  // A read error in the lines not looked at fails the whole file, as it
  // fails a table: a table cut short would lose the rest of the accounts at
  // the next save. Once the file is in hand, no error can come.
  while (!reader.AtEnd() && lines < kMaxUsers && reader.Next(&line))
    ++lines;
  return reader.Failed() ? -1 : 0;
}

std::int32_t ReadUserFile(const HeldMutex& held, DeviceManager& manager, UserTable* table) {
  table->count = 0;
  return VisitUserFile(held, manager, [table](const UserRowText& row) {
    UserEntry& entry = table->entries[table->count++];
    memset(&entry, 0, sizeof entry);
    memcpy(entry.name, row.name, row.nameLength);
    memcpy(entry.digest, row.digest, row.digestLength);
    return true;
  });
}

std::int32_t WriteUserFile(const HeldMutex&, const UserTable* table) {
  ReplacementFile file(kUserFilePath);
  int count = table->count < 0 ? 0 : table->count > kMaxUsers ? kMaxUsers : table->count;
  // Lines are gathered into chunks: a write per account would cost the
  // flash file system one call per line.
  char chunk[4096];
  std::size_t used = 0;
  for (int i = 0; i < count; ++i) {
    const UserEntry& entry = table->entries[i];
    char line[sizeof entry.name + sizeof entry.digest + 2];
    int n = snprintf(line, sizeof line, "%.*s:%.*s\n", static_cast<int>(sizeof entry.name - 1),
                     entry.name, static_cast<int>(sizeof entry.digest - 1), entry.digest);
    if (n < 0) return -1;
    if (used + static_cast<std::size_t>(n) > sizeof chunk) {
      if (!file.Write(chunk, used)) return -1;
      used = 0;
    }
    memcpy(chunk + used, line, static_cast<std::size_t>(n));
    used += static_cast<std::size_t>(n);
  }
  if (used > 0 && !file.Write(chunk, used)) return -1;
  return file.Commit();
}

std::int32_t DeviceManager::LoadUsers(UserTable* table) {
  if (!table) return -1;
  return ReadUserFile(Hold(), *this, table);
}

std::int32_t DeviceManager::SaveUsers(const UserTable* table) {
  if (!table) return -1;
  return WriteUserFile(Hold(), table);
}

std::int32_t DeviceManager::ResetUsers(UserTable* table) {
  if (!table) return -1;
  FillDefaultUsers(*this, table);
  return SaveUsers(table);
}

}  // namespace nolva
