#pragma once

#include <pthread.h>

#include <cstdint>

#include "accounts/user_table.h"
#include "management/status_codes.h"
#include "store/settings_records.h"

namespace nolva {

// The one object of the system: its mutex serialises every access to the
// device's flash files. Every primitive and operation is a member.
class DeviceManager {
 public:
  DeviceManager();
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;
  DeviceManager(DeviceManager&&) = delete;
  DeviceManager& operator=(DeviceManager&&) = delete;

  // Settings store: 0 on success, -1 on failure.
  std::int32_t LoadNetworkSettings(NetworkSettings* settings);
  std::int32_t SaveNetworkSettings(const NetworkSettings* settings);
  std::int32_t ResetNetworkSettings(NetworkSettings* settings);

  // Accounts.
  void MakePasswordDigest(char* out, const char* password);
  std::int32_t LoadUsers(UserTable* table);
  std::int32_t SaveUsers(const UserTable* table);
  std::int32_t ResetUsers(UserTable* table);
  std::int32_t VerifyUser(const char* name, const char* password);

  // Device primitives. Firmware: 0 done, -1 no partition selected, partition
  // not usable or a write failed, -2 erase refused; CompareFirmwareImage
  // gives minus the offset of the first differing byte (-1 at offset 0).
  std::int32_t WriteFirmwareImage(const std::uint8_t* image, std::int32_t length);
  std::int32_t CompareFirmwareImage(const std::uint8_t* image, std::int32_t length);
  void ScheduleReboot(std::int32_t seconds);

  // Management operations: the caller's user name and password come first.
  StatusCode Login(const char16_t* userName, const char16_t* password);
  StatusCode GetMacAddress(const char16_t* userName, const char16_t* password, char16_t* macText);
  StatusCode GetFirmwareVersions(const char16_t* userName, const char16_t* password,
                                 char16_t* osVersion, char16_t* fsVersion);
  StatusCode GetUsbPorts(const char16_t* userName, const char16_t* password, char16_t* portText,
                         std::int32_t capacity);
  StatusCode UpdateFirmware(const char16_t* userName, const char16_t* password,
                            const std::uint8_t* image, std::int32_t length);
  StatusCode FactoryReset(const char16_t* userName, const char16_t* password);
  StatusCode Reboot(const char16_t* userName, const char16_t* password);

 private:
  pthread_mutex_t mutex;

 public:
  ServiceSettings serviceSettings;
  OcpSettings ocpSettings;
};

// The USB port text of the hub on bus 1, whole lines only, NUL-terminated
// within `capacity` bytes. 0, or -1 when the list cannot be read or the
// capacity holds not even the NUL.
std::int32_t ReadUsbPorts(char* text, std::int32_t capacity);

}  // namespace nolva
