#pragma once

#include <cstdint>

namespace nolva {

using StatusCode = std::int32_t;

constexpr StatusCode Failure(std::uint32_t code) {
  return static_cast<StatusCode>(code);
}

inline constexpr StatusCode STATUS_OK = 0;
inline constexpr StatusCode STATUS_AUTH_FAILED = Failure(0x80000300u);
inline constexpr StatusCode STATUS_FIRMWARE_UPDATE_FAILED = Failure(0x80000304u);
inline constexpr StatusCode STATUS_GET_NETWORK_FAILED = Failure(0x80000305u);
inline constexpr StatusCode STATUS_SET_NETWORK_FAILED = Failure(0x80000306u);
inline constexpr StatusCode STATUS_GET_SERVICE_FAILED = Failure(0x80000307u);
inline constexpr StatusCode STATUS_SET_SERVICE_FAILED = Failure(0x80000308u);
inline constexpr StatusCode STATUS_LIST_USERS_FAILED = Failure(0x80000309u);
inline constexpr StatusCode STATUS_ADD_USER_FAILED = Failure(0x8000030Au);
inline constexpr StatusCode STATUS_DELETE_USER_FAILED = Failure(0x8000030Bu);
inline constexpr StatusCode STATUS_CHANGE_PASSWORD_FAILED = Failure(0x8000030Cu);
inline constexpr StatusCode STATUS_USB_PORTS_FAILED = Failure(0x8000030Du);
inline constexpr StatusCode STATUS_FIRMWARE_VERSION_FAILED = Failure(0x8000030Eu);
inline constexpr StatusCode STATUS_GET_OCP_FAILED = Failure(0x8000030Fu);
inline constexpr StatusCode STATUS_SET_OCP_FAILED = Failure(0x80000310u);
inline constexpr StatusCode STATUS_REFUSED = -1;

// Every status an operation returns, by name and with a text for people.
struct StatusInfo {
  StatusCode code;
  const char* name;
  const char* text;
};

inline constexpr StatusInfo kStatusTable[] = {
    {STATUS_OK, "STATUS_OK", "done"},
    {STATUS_AUTH_FAILED, "STATUS_AUTH_FAILED", "authentication refused"},
    {STATUS_FIRMWARE_UPDATE_FAILED, "STATUS_FIRMWARE_UPDATE_FAILED", "firmware update failed"},
    {STATUS_GET_NETWORK_FAILED, "STATUS_GET_NETWORK_FAILED", "reading the network settings failed"},
    {STATUS_SET_NETWORK_FAILED, "STATUS_SET_NETWORK_FAILED", "storing the network settings failed"},
    {STATUS_GET_SERVICE_FAILED, "STATUS_GET_SERVICE_FAILED", "reading the service settings failed"},
    {STATUS_SET_SERVICE_FAILED, "STATUS_SET_SERVICE_FAILED", "storing the service settings failed"},
    {STATUS_LIST_USERS_FAILED, "STATUS_LIST_USERS_FAILED", "reading the account list failed"},
    {STATUS_ADD_USER_FAILED, "STATUS_ADD_USER_FAILED", "adding the account failed"},
    {STATUS_DELETE_USER_FAILED, "STATUS_DELETE_USER_FAILED", "deleting the account failed"},
    {STATUS_CHANGE_PASSWORD_FAILED, "STATUS_CHANGE_PASSWORD_FAILED",
     "changing the password failed"},
    {STATUS_USB_PORTS_FAILED, "STATUS_USB_PORTS_FAILED", "reading the USB ports failed"},
    {STATUS_FIRMWARE_VERSION_FAILED, "STATUS_FIRMWARE_VERSION_FAILED",
     "reading the firmware versions failed"},
    {STATUS_GET_OCP_FAILED, "STATUS_GET_OCP_FAILED", "reading the OCP settings failed"},
    {STATUS_SET_OCP_FAILED, "STATUS_SET_OCP_FAILED", "storing the OCP settings failed"},
    {STATUS_REFUSED, "STATUS_REFUSED", "settings refused"},
};

// nullptr for a value that is no status of the library
constexpr const StatusInfo* FindStatus(StatusCode code) {
  for (const StatusInfo& info : kStatusTable) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

}  // namespace nolva
