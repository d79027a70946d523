#include "management/credentials.h"
#include "management/wide_string.h"
#include "store/device_manager.h"

namespace nolva {
namespace {

// Room for the longest list the table can give: every row a name of at most
// 19 bytes and its newline, then the NUL and the last byte, which the list
// never uses.
constexpr std::int32_t kLongestNameList = kMaxUsers * sizeof(UserEntry::name) + 2;

}  // namespace

// An account name or a password to set that is too long for its buffer is refused like
// one the account layer finds too long: by the operation's own code, after
// the gate.

StatusCode DeviceManager::ChangePassword(const char16_t* userName, const char16_t* password,
                                         const char16_t* accountName, const char16_t* newPassword) {
  Credentials caller(userName, password);
  char account[20];
  SecretText secret;
  bool accountFits = Narrow(account, accountName);
  bool secretFits = Narrow(secret.text, newPassword);
  if (!AdmitAdminOrSelf(*this, caller, account)) return STATUS_AUTH_FAILED;
  if (!accountFits || !secretFits || SetUserPassword(account, secret.text) != 0) {
    return STATUS_CHANGE_PASSWORD_FAILED;
  }
  return STATUS_OK;
}

StatusCode DeviceManager::DeleteUser(const char16_t* userName, const char16_t* password,
                                     const char16_t* accountName) {
  Credentials caller(userName, password);
  char account[20];
  bool accountFits = Narrow(account, accountName);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  if (!accountFits || RemoveUser(account) != 0) return STATUS_DELETE_USER_FAILED;
  return STATUS_OK;
}

StatusCode DeviceManager::AddUser(const char16_t* userName, const char16_t* password,
                                  const char16_t* accountName, const char16_t* newPassword) {
  Credentials caller(userName, password);
  char account[20];
  SecretText secret;
  bool accountFits = Narrow(account, accountName);
  bool secretFits = Narrow(secret.text, newPassword);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  if (!accountFits || !secretFits || AppendUser(account, secret.text) != 0) {
    return STATUS_ADD_USER_FAILED;
  }
  return STATUS_OK;
}

StatusCode DeviceManager::ListUsers(const char16_t* userName, const char16_t* password,
                                    char16_t* nameList, std::int32_t capacity) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  if (!nameList) return STATUS_LIST_USERS_FAILED;
  // A larger capacity gives the same list as this one, so the caller's
  // figure never sizes anything on the stack.
  char text[kLongestNameList];
  std::int32_t size = capacity < kLongestNameList ? capacity : kLongestNameList;
  if (ListUserNames(text, size) != 0) return STATUS_LIST_USERS_FAILED;
  Widen(nameList, text);
  return STATUS_OK;
}

}  // namespace nolva
