#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/record_file.h"

namespace nolva {
namespace {

// DHCP on; the static fallback is 192.168.0.223/24 via 192.168.0.1.
constexpr NetworkSettings kDefaultNetworkSettings = {
    1, {192, 168, 0, 223}, {255, 255, 255, 0}, {192, 168, 0, 1}};

// Primary service on 9100, secondary on 11110, both enabled.
constexpr ServiceSettings kDefaultServiceSettings = {
    1, 1, 1, 9100, 300000, 1, 0, 1, 11110, 300000, 1,
};

// OCP service enabled on port 23.
constexpr OcpSettings kDefaultOcpSettings = {1, 1, 0, 0, 1, 23, 300000};

void FillNetworkDefaults(void* record) {
  memcpy(record, &kDefaultNetworkSettings, sizeof kDefaultNetworkSettings);
}

void FillServiceDefaults(void* record) {
  memcpy(record, &kDefaultServiceSettings, sizeof kDefaultServiceSettings);
}

void FillOcpDefaults(void* record) {
  memcpy(record, &kDefaultOcpSettings, sizeof kDefaultOcpSettings);
}

}  // namespace

const RecordFile kNetworkSettingsFile = {"/flash/nolva_system", sizeof(NetworkSettings),
                                         FillNetworkDefaults};
const RecordFile kServiceSettingsFile = {"/flash/nolva_service", sizeof(ServiceSettings),
                                         FillServiceDefaults};
const RecordFile kOcpSettingsFile = {"/flash/nolva_ocp", sizeof(OcpSettings), FillOcpDefaults};

// Each record's Load, Save and Reset: a null record is refused before the
// mutex is taken; Reset stores the defaults it filled in.

std::int32_t DeviceManager::LoadNetworkSettings(NetworkSettings* settings) {
  if (!settings) return -1;
  HeldMutex held(mutex);
  return LoadRecordFile(kNetworkSettingsFile, settings);
}

std::int32_t DeviceManager::SaveNetworkSettings(const NetworkSettings* settings) {
  if (!settings) return -1;
  HeldMutex held(mutex);
  return StoreRecordFile(kNetworkSettingsFile, settings);
}

std::int32_t DeviceManager::ResetNetworkSettings(NetworkSettings* settings) {
  if (!settings) return -1;
  FillNetworkDefaults(settings);
  return SaveNetworkSettings(settings);
}

std::int32_t DeviceManager::LoadServiceSettings(ServiceSettings* settings) {
  if (!settings) return -1;
  HeldMutex held(mutex);
  return LoadRecordFile(kServiceSettingsFile, settings);
}

std::int32_t DeviceManager::SaveServiceSettings(const ServiceSettings* settings) {
  if (!settings) return -1;
  HeldMutex held(mutex);
  return StoreRecordFile(kServiceSettingsFile, settings);
}

std::int32_t DeviceManager::ResetServiceSettings(ServiceSettings* settings) {
  if (!settings) return -1;
  FillServiceDefaults(settings);
  return SaveServiceSettings(settings);
}

std::int32_t DeviceManager::LoadOcpSettings(OcpSettings* settings) {
  if (!settings) return -1;
  HeldMutex held(mutex);
  return LoadRecordFile(kOcpSettingsFile, settings);
}

std::int32_t DeviceManager::SaveOcpSettings(const OcpSettings* settings) {
  if (!settings) return -1;
  HeldMutex held(mutex);
  return StoreRecordFile(kOcpSettingsFile, settings);
}

std::int32_t DeviceManager::ResetOcpSettings(OcpSettings* settings) {
  if (!settings) return -1;
  FillOcpDefaults(settings);
  return SaveOcpSettings(settings);
}

// Both loads under one hold: concurrent calls never write the members at the
// same time, and the pair they show was stored together.
std::int32_t DeviceManager::LoadSettings() {
  HeldMutex held(mutex);
  LoadRecordFile(kServiceSettingsFile, &serviceSettings);
  return LoadRecordFile(kOcpSettingsFile, &ocpSettings);
}

}  // namespace nolva
