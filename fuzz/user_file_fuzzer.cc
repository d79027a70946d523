// The user file as the account primitives load it. Whatever the flash holds:
// no field is filled past its end, every account loaded survives a save and
// a reload unchanged, and the primitives keep their word on it.
#include <cstring>
#include <string>
#include <vector>

#include "accounts/user_file.h"
#include "board/control/process_board.h"
#include "fuzz/fuzz_check.h"
#include "store/device_manager.h"

namespace {

using nolva::DeviceManager;
using nolva::UserEntry;
using nolva::UserTable;

bool Terminated(const char* field, std::size_t size) {
  return std::memchr(field, '\0', size) != nullptr;
}

void CheckTable(const UserTable& table) {
  FUZZ_CHECK(table.count >= 0 && table.count <= nolva::kMaxUsers);
  for (int i = 0; i < table.count; ++i) {
    const UserEntry& entry = table.entries[i];
    FUZZ_CHECK(Terminated(entry.name, sizeof entry.name));
    FUZZ_CHECK(Terminated(entry.digest, sizeof entry.digest));
    FUZZ_CHECK(entry.name[0] != '\0');
    FUZZ_CHECK(std::strchr(entry.name, ':') == nullptr);
  }
}

bool SameAccounts(const UserTable& a, const UserTable& b) {
  if (a.count != b.count) return false;
  for (int i = 0; i < a.count; ++i) {
    if (std::strcmp(a.entries[i].name, b.entries[i].name) != 0) return false;
    if (std::strcmp(a.entries[i].digest, b.entries[i].digest) != 0) return false;
  }
  return true;
}

int Find(const UserTable& table, const char* name) {
  for (int i = 0; i < table.count; ++i)
    if (std::strcmp(table.entries[i].name, name) == 0) return i;
  return -1;
}

UserTable loaded;
UserTable reloaded;

// The list is whole names of the table's first rows, each with a newline,
// and leaves the buffer's last byte alone.
void CheckList(DeviceManager& manager, std::int32_t size) {
  std::vector<char> text(static_cast<std::size_t>(size), '\x7F');
  FUZZ_CHECK(manager.ListUserNames(text.data(), size) == 0);
  const std::size_t length = strnlen(text.data(), text.size());
  FUZZ_CHECK(length < text.size());
  if (size >= 2) FUZZ_CHECK(length <= static_cast<std::size_t>(size) - 2);
  std::string expected;
  for (int i = 0; i < loaded.count; ++i) {
    const std::string line = std::string(loaded.entries[i].name) + "\n";
    if (expected.size() + line.size() + 1 >= static_cast<std::size_t>(size)) break;
    expected += line;
  }
  FUZZ_CHECK(std::string(text.data(), length) == expected);
}

void CheckAppend(DeviceManager& manager) {
  const std::int32_t result = manager.AppendUser("fuzz", "pw");
  if (Find(loaded, "fuzz") >= 0) {
    FUZZ_CHECK(result == -4);
    return;
  }
  if (loaded.count >= nolva::kMaxUsers) {
    FUZZ_CHECK(result != 0);
    return;
  }
  FUZZ_CHECK(result == 0);
  FUZZ_CHECK(manager.LoadUsers(&reloaded) == 0);
  FUZZ_CHECK(reloaded.count == loaded.count + 1);
  FUZZ_CHECK(std::strcmp(reloaded.entries[loaded.count].name, "fuzz") == 0);
  FUZZ_CHECK(manager.VerifyUser("fuzz", "pw") == 0);
}

void CheckPasswordChange(DeviceManager& manager) {
  if (loaded.count == 0) return;
  const char* name = loaded.entries[0].name;
  if (std::strlen(name) > nolva::kMaxNameLength) {
    FUZZ_CHECK(manager.SetUserPassword(name, "new") == -2);
    return;
  }
  FUZZ_CHECK(manager.SetUserPassword(name, "new") == 0);
  FUZZ_CHECK(manager.VerifyUser(name, "new") == 0);
}

void CheckRemoval(DeviceManager& manager) {
  if (loaded.count == 0) return;
  const char* name = loaded.entries[0].name;
  if (std::strlen(name) > nolva::kMaxNameLength) return;
  FUZZ_CHECK(manager.RemoveUser(name) == 0);
  FUZZ_CHECK(manager.LoadUsers(&reloaded) == 0);
  FUZZ_CHECK(reloaded.count == loaded.count - 1);
  for (int i = 0; i < reloaded.count; ++i)
    FUZZ_CHECK(std::strcmp(reloaded.entries[i].name, loaded.entries[i + 1].name) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nolva::board::StartBoard();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nolva::board::WipeBoard();
  nolva::board::WriteBoardFile("/flash/nolva_user", data, size);
  DeviceManager manager;

  FUZZ_CHECK(manager.LoadUsers(&loaded) == 0);
  CheckTable(loaded);
  FUZZ_CHECK(manager.SaveUsers(&loaded) == 0);
  FUZZ_CHECK(manager.LoadUsers(&reloaded) == 0);
  FUZZ_CHECK(SameAccounts(loaded, reloaded));

  const std::int32_t verified = manager.VerifyUser("admin", "kevla");
  FUZZ_CHECK(verified == 0 || verified == -1 || verified == -4);
  for (std::int32_t size : {1, 2, 11, 12, 64, 6000})
    CheckList(manager, size);

  // Each change starts again from the file as loaded.
  CheckAppend(manager);
  FUZZ_CHECK(manager.SaveUsers(&loaded) == 0);
  CheckPasswordChange(manager);
  FUZZ_CHECK(manager.SaveUsers(&loaded) == 0);
  CheckRemoval(manager);
  return 0;
}
