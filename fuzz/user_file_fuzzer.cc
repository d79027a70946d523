// The user file as the account primitives load it. Whatever the flash holds:
// no field is filled past its end, every account loaded survives a save and
// a reload unchanged, and the primitives keep their word on it.
#include <cstring>

#include "board/process_board.h"
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

UserTable loaded;
UserTable reloaded;

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
  return 0;
}
