#pragma once

#include <cstddef>
#include <cstdint>

#include "store/device_facts.h"
#include "store/user_table.h"

namespace nolva {

class DeviceManager;

// Both expect the caller to hold the manager's mutex, so that a change can
// load, edit and save the table as one step.
//
// Read: 0; -1 when the file cannot be read whole, or is missing and the
// default could not be saved.
std::int32_t ReadUserFile(DeviceManager& manager, UserTable* table);
std::int32_t WriteUserFile(const UserTable* table);

// One row as the user file holds it: name and digest as read, not
// NUL-terminated, each short enough for its field of a UserEntry.
struct UserRowText {
  const char* name;
  std::size_t nameLength;
  const char* digest;
  std::size_t digestLength;
};

// Hands the rows of the user file to `take`, in file order and exactly as
// ReadUserFile would put them in its table, until `take` returns false: for
// a caller that looks at rows one at a time and needs no table. A missing
// file is first created with the factory account, as by ReadUserFile. Also
// expects the caller to hold the mutex. 0, or -1 as ReadUserFile.
using UserRowTaker = bool (*)(const UserRowText& row, void* context);
std::int32_t VisitUserFile(DeviceManager& manager, UserRowTaker take, void* context);

// The factory table: "admin" with the password "kevla".
void FillDefaultUsers(DeviceManager& manager, UserTable* table);

}  // namespace nolva
