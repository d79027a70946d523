#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "store/device_facts.h"
#include "store/held_mutex.h"
#include "store/user_table.h"

namespace nolva {

class DeviceManager;

// The lock held through a load, an edit and a save makes a change one step.
//
// Read: 0; -1 when the file cannot be read whole, or is missing and the
// default could not be saved.
std::int32_t ReadUserFile(const HeldMutex& held, DeviceManager& manager, UserTable* table);
std::int32_t WriteUserFile(const HeldMutex& held, const UserTable* table);

// One row as the user file holds it: name and digest as read, not
// NUL-terminated, each short enough for its field of a UserEntry.
struct UserRowText {
  const char* name;
  std::size_t nameLength;
  const char* digest;
  std::size_t digestLength;
};

// The untyped visit VisitUserFile is made of.
using UserRowTaker = bool (*)(const UserRowText& row, void* take);
std::int32_t VisitUserRows(const HeldMutex& held, DeviceManager& manager, UserRowTaker taker,
                           void* take);

// Hands the rows of the user file to `take` (bool(const UserRowText&)), in
// file order and exactly as ReadUserFile would put them in its table, until
// `take` returns false: for a caller that looks at rows one at a time and
// needs no table. A missing file is first created with the factory account,
// as by ReadUserFile. 0, or -1 as ReadUserFile.
template <typename Take>
std::int32_t VisitUserFile(const HeldMutex& held, DeviceManager& manager, Take&& take) {
  using Callable = std::remove_reference_t<Take>;
  return VisitUserRows(
      held, manager,
      [](const UserRowText& row, void* callable) {
        return (*static_cast<Callable*>(callable))(row);
      },
      const_cast<void*>(static_cast<const void*>(&take)));
}

// The factory table: "admin" with the password "kevla".
void FillDefaultUsers(DeviceManager& manager, UserTable* table);

}  // namespace nolva
