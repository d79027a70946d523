// The facts of the device that a front end checks against before it calls an
// operation. Each is defined here once and used by the library itself.
#pragma once

#include <cstdint>
#include <cstring>

namespace nolva {

// Accounts: the longest name and password the user file holds.
inline constexpr std::int32_t kMaxNameLength = 16;
inline constexpr std::int32_t kMaxPasswordLength = 32;
// The one account that may manage the device.
inline constexpr char kAdminName[] = "admin";

// A byte a stored name may hold: not the ':' that ends it in the user file,
// and no control character (a line end among them) that no one can read back.
constexpr bool IsNameByte(unsigned char byte) {
  return byte != ':' && byte >= 0x20 && byte != 0x7F;
}

// Text results, in 16-bit units with the terminating zero unit.
inline constexpr std::int32_t kMacTextUnits = 18;      // "00:1A:2B:3C:4D:5E"
inline constexpr std::int32_t kVersionTextUnits = 33;  // an image's name field

// Reboot and FactoryReset restart the device this long after they return.
inline constexpr std::int32_t kRebootDelaySeconds = 5;

// Firmware image layout: the name field at bytes 32-63, whose first 8 bytes
// select the partition. An image must hold the whole field.
inline constexpr std::int32_t kImageNameOffset = 32;
inline constexpr std::int32_t kImageNameSize = 32;
inline constexpr std::int32_t kImageSelectorSize = 8;
inline constexpr std::int32_t kShortestImage = kImageNameOffset + kImageNameSize;

struct FirmwareRoute {
  const char* selector;  // the name field's first 8 bytes
  const char* device;    // the flash partition
  const char* name;      // short name: "os", "fs"
  const char* label;     // for people: "operating-system"
};

inline constexpr FirmwareRoute kFirmwareRoutes[] = {
    {"nolva-os", "/dev/mtd3", "os", "operating-system"},
    {"nolva-fs", "/dev/mtd4", "fs", "file-system"},
};
inline constexpr const FirmwareRoute& kOsImage = kFirmwareRoutes[0];
inline constexpr const FirmwareRoute& kFsImage = kFirmwareRoutes[1];

static_assert(kVersionTextUnits == kImageNameSize + 1, "a version text is a whole name field");

// The partition an image's name field selects; nullptr for an image too
// short to hold the whole field, or whose field selects none.
inline const FirmwareRoute* FirmwareRouteOf(const std::uint8_t* image, std::int64_t length) {
  if (!image || length < kShortestImage) return nullptr;
  for (const FirmwareRoute& route : kFirmwareRoutes) {
    if (std::memcmp(image + kImageNameOffset, route.selector, kImageSelectorSize) == 0)
      return &route;
  }
  return nullptr;
}

}  // namespace nolva
