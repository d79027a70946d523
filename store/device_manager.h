#pragma once

#include <pthread.h>

#include <cstdint>

#include "store/device_facts.h"
#include "store/settings_records.h"
#include "store/status_codes.h"
#include "store/user_table.h"

namespace nolva {

class HeldMutex;

// What the account primitives answer; the numbers are the device's own.
enum AccountResult : std::int32_t {
  kAccountDone = 0,
  // Every refusal without a number of its own: an argument missing or
  // unusable, a wrong password, a full table, a failed save.
  kAccountRefused = -1,
  kAccountTooLong = -2,
  kAccountUnreadable = -3,
  kAccountNotFound = -4,
  kAccountExists = -4,  // AppendUser's -4
};

// What ListUserNames answers.
enum NameListResult : std::int32_t {
  kNameListDone = 0,
  kNameListNoRoom = -1,
  kNameListUnreadable = -2,
};

// What WriteFirmwareImage answers; the numbers are the device's own.
enum FirmwareWriteResult : std::int32_t {
  kFirmwareWritten = 0,
  // No partition selected, the partition not usable, or a write failed.
  kFirmwareWriteFailed = -1,
  kFirmwareEraseRefused = -2,
};

// The one object of the system: its mutex serialises every access to the
// device's flash files. Every primitive and operation is a member; each group
// below names the file that defines it.
class DeviceManager {
 public:
  // store/device_manager.cc
  DeviceManager();
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;
  DeviceManager(DeviceManager&&) = delete;
  DeviceManager& operator=(DeviceManager&&) = delete;

  // Settings store, store/settings_files.cc: 0 on success, -1 on failure.
  std::int32_t LoadNetworkSettings(NetworkSettings* settings);
  std::int32_t SaveNetworkSettings(const NetworkSettings* settings);
  std::int32_t ResetNetworkSettings(NetworkSettings* settings);
  std::int32_t LoadServiceSettings(ServiceSettings* settings);
  std::int32_t SaveServiceSettings(const ServiceSettings* settings);
  std::int32_t ResetServiceSettings(ServiceSettings* settings);
  std::int32_t LoadOcpSettings(OcpSettings* settings);
  std::int32_t SaveOcpSettings(const OcpSettings* settings);
  std::int32_t ResetOcpSettings(OcpSettings* settings);
  // Fills serviceSettings and ocpSettings; the result is the OCP load's.
  std::int32_t LoadSettings();

  // Password digest, accounts/password_digest.cc.
  void MakePasswordDigest(char* out, const char* password);

  // User file as a table, accounts/user_file.cc: 0 on success, -1 on failure.
  std::int32_t LoadUsers(UserTable* table);
  std::int32_t SaveUsers(const UserTable* table);
  std::int32_t ResetUsers(UserTable* table);

  // Account primitives, accounts/account_primitives.cc: an AccountResult;
  // ListUserNames a NameListResult.
  std::int32_t VerifyUser(const char* name, const char* password);
  std::int32_t SetUserPassword(const char* name, const char* newPassword);
  std::int32_t RemoveUser(const char* name);
  std::int32_t AppendUser(const char* name, const char* password);
  std::int32_t ListUserNames(char* text, std::int32_t size);

  // Firmware primitives, management/firmware_update.cc: WriteFirmwareImage
  // a FirmwareWriteResult; CompareFirmwareImage 0 when the partition holds
  // the image, else minus the offset of the first differing byte (-1 at
  // offset 0) or -1 when the partition cannot be read.
  std::int32_t WriteFirmwareImage(const std::uint8_t* image, std::int32_t length);
  std::int32_t CompareFirmwareImage(const std::uint8_t* image, std::int32_t length);

  // Reboot primitive, management/reboot.cc.
  void ScheduleReboot(std::int32_t seconds);

  // Management operations: the caller's user name and password come first.
  // management/credentials.cc
  StatusCode Login(const char16_t* userName, const char16_t* password);
  // management/device_info.cc
  StatusCode GetMacAddress(const char16_t* userName, const char16_t* password, char16_t* macText);
  StatusCode GetFirmwareVersions(const char16_t* userName, const char16_t* password,
                                 char16_t* osVersion, char16_t* fsVersion);
  // management/usb_ports.cc
  StatusCode GetUsbPorts(const char16_t* userName, const char16_t* password, char16_t* portText,
                         std::int32_t capacity);
  // management/firmware_update.cc
  StatusCode UpdateFirmware(const char16_t* userName, const char16_t* password,
                            const std::uint8_t* image, std::int32_t length);
  // management/reboot.cc
  StatusCode FactoryReset(const char16_t* userName, const char16_t* password);
  StatusCode Reboot(const char16_t* userName, const char16_t* password);
  // management/account_operations.cc
  StatusCode ChangePassword(const char16_t* userName, const char16_t* password,
                            const char16_t* accountName, const char16_t* newPassword);
  StatusCode DeleteUser(const char16_t* userName, const char16_t* password,
                        const char16_t* accountName);
  StatusCode AddUser(const char16_t* userName, const char16_t* password,
                     const char16_t* accountName, const char16_t* newPassword);
  StatusCode ListUsers(const char16_t* userName, const char16_t* password, char16_t* nameList,
                       std::int32_t capacity);
  // management/settings_operations.cc. The two service records are refused
  // (STATUS_REFUSED) when two enabled services would share a port.
  StatusCode SetNetworkSettings(const char16_t* userName, const char16_t* password,
                                const NetworkSettings* settings);
  StatusCode GetNetworkSettings(const char16_t* userName, const char16_t* password,
                                NetworkSettings* settings);
  StatusCode SetServiceSettings(const char16_t* userName, const char16_t* password,
                                const ServiceSettings* settings);
  StatusCode GetServiceSettings(const char16_t* userName, const char16_t* password,
                                ServiceSettings* settings);
  StatusCode SetOcpSettings(const char16_t* userName, const char16_t* password,
                            const OcpSettings* settings);
  StatusCode GetOcpSettings(const char16_t* userName, const char16_t* password,
                            OcpSettings* settings);

 private:
  // store/device_manager.cc: the lock, as the proof the store primitives
  // take. The gate takes it too, so an operation calls Hold after its gate.
  HeldMutex Hold();

  pthread_mutex_t mutex;

 public:
  // Filled by LoadSettings.
  ServiceSettings serviceSettings;
  OcpSettings ocpSettings;
};

// USB device list, management/usb_device_list.cc: the USB port text of the
// hub on bus 1, whole lines only, NUL-terminated within `capacity` bytes. 0,
// or -1 when the list cannot be read or the capacity holds not even the NUL.
std::int32_t ReadUsbPorts(char* text, std::int32_t capacity);

}  // namespace nolva
