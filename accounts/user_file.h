#pragma once

#include <cstdint>

#include "store/user_table.h"

namespace nolva {

class DeviceManager;

inline constexpr int kMaxNameLength = 16;
inline constexpr int kMaxPasswordLength = 32;

// Both expect the caller to hold the manager's mutex, so that a change can
// load, edit and save the table as one step.
//
// Read: 0; -1 when the file cannot be read whole, or is missing and the
// default could not be saved.
std::int32_t ReadUserFile(DeviceManager& manager, UserTable* table);
std::int32_t WriteUserFile(const UserTable* table);

// The factory table: "admin" with the password "kevla".
void FillDefaultUsers(DeviceManager& manager, UserTable* table);

}  // namespace nolva
