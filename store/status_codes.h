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

}  // namespace nolva
