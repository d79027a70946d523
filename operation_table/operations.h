// Every management operation behind one signature, so that the proofs
// (resource bounds, stress, fuzzing, benchmarks) run each of them: a new
// operation is one row of kOperations.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>

#include "store/device_manager.h"

namespace nolva::operation_table {

inline constexpr std::int32_t kTextUnits = 8192;
inline constexpr std::int32_t kSmallImageSize = 5000;

// An OS image of a few kilobytes: its name field selects /dev/mtd3.
inline const std::uint8_t* SmallImage() {
  static const auto image = [] {
    std::array<std::uint8_t, kSmallImageSize> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i % 251);
    const char name[] = "nolva-os 9.9.9";
    std::memcpy(bytes.data() + 32, name, sizeof name);
    return bytes;
  }();
  return image.data();
}

// The arguments after the caller's credentials, for any operation: inputs
// are read from here and outputs land here.
struct Call {
  const char16_t* user = u"admin";
  const char16_t* password = u"kevla";
  const char16_t* account = u"bob";
  const char16_t* newPassword = u"bobpass";
  NetworkSettings network = {0, {10, 0, 0, 5}, {255, 0, 0, 0}, {10, 0, 0, 1}};
  ServiceSettings service = {1, 1, 1, 9100, 300000, 1, 0, 1, 11110, 300000, 1};
  OcpSettings ocp = {1, 1, 0, 0, 1, 23, 300000};
  const std::uint8_t* image = SmallImage();
  std::int32_t length = kSmallImageSize;
  std::int32_t capacity = kTextUnits;
  char16_t text[kTextUnits] = {};
  char16_t text2[kTextUnits] = {};
};

struct Operation {
  const char* name;
  StatusCode (*run)(DeviceManager& manager, Call& call);
};

inline void PrintTo(const Operation& operation, std::ostream* out) {
  *out << operation.name;
}

inline constexpr Operation kOperations[] = {
    {"Login", [](DeviceManager& m, Call& c) { return m.Login(c.user, c.password); }},
    {"GetMacAddress",
     [](DeviceManager& m, Call& c) { return m.GetMacAddress(c.user, c.password, c.text); }},
    {"GetFirmwareVersions",
     [](DeviceManager& m, Call& c) {
       return m.GetFirmwareVersions(c.user, c.password, c.text, c.text2);
     }},
    {"GetUsbPorts", [](DeviceManager& m,
                       Call& c) { return m.GetUsbPorts(c.user, c.password, c.text, c.capacity); }},
    {"UpdateFirmware",
     [](DeviceManager& m, Call& c) {
       return m.UpdateFirmware(c.user, c.password, c.image, c.length);
     }},
    {"FactoryReset", [](DeviceManager& m, Call& c) { return m.FactoryReset(c.user, c.password); }},
    {"Reboot", [](DeviceManager& m, Call& c) { return m.Reboot(c.user, c.password); }},
    {"ChangePassword",
     [](DeviceManager& m, Call& c) {
       return m.ChangePassword(c.user, c.password, c.account, c.newPassword);
     }},
    {"DeleteUser",
     [](DeviceManager& m, Call& c) { return m.DeleteUser(c.user, c.password, c.account); }},
    {"AddUser", [](DeviceManager& m,
                   Call& c) { return m.AddUser(c.user, c.password, c.account, c.newPassword); }},
    {"ListUsers",
     [](DeviceManager& m, Call& c) { return m.ListUsers(c.user, c.password, c.text, c.capacity); }},
    {"SetNetworkSettings",
     [](DeviceManager& m, Call& c) {
       return m.SetNetworkSettings(c.user, c.password, &c.network);
     }},
    {"GetNetworkSettings",
     [](DeviceManager& m, Call& c) {
       return m.GetNetworkSettings(c.user, c.password, &c.network);
     }},
    {"SetServiceSettings",
     [](DeviceManager& m, Call& c) {
       return m.SetServiceSettings(c.user, c.password, &c.service);
     }},
    {"GetServiceSettings",
     [](DeviceManager& m, Call& c) {
       return m.GetServiceSettings(c.user, c.password, &c.service);
     }},
    {"SetOcpSettings",
     [](DeviceManager& m, Call& c) { return m.SetOcpSettings(c.user, c.password, &c.ocp); }},
    {"GetOcpSettings",
     [](DeviceManager& m, Call& c) { return m.GetOcpSettings(c.user, c.password, &c.ocp); }},
};

}  // namespace nolva::operation_table
