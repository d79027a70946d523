#include <cstring>

#include "store/device_manager.h"
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

namespace {

// Each record's Load, Save and Reset: a null record is refused; Reset
// stores the defaults it filled in.

std::int32_t Load(const HeldMutex& held, const RecordFile& file, void* record) {
  if (!record) return -1;
  return LoadRecordFile(held, file, record);
}

std::int32_t Save(const HeldMutex& held, const RecordFile& file, const void* record) {
  if (!record) return -1;
  return StoreRecordFile(held, file, record);
}

std::int32_t Reset(const HeldMutex& held, const RecordFile& file, void* record) {
  if (!record) return -1;
  file.fillDefaults(record);
  return StoreRecordFile(held, file, record);
}

}  // namespace

std::int32_t DeviceManager::LoadNetworkSettings(NetworkSettings* settings) {
  return Load(Hold(), kNetworkSettingsFile, settings);
}
std::int32_t DeviceManager::SaveNetworkSettings(const NetworkSettings* settings) {
  return Save(Hold(), kNetworkSettingsFile, settings);
}
std::int32_t DeviceManager::ResetNetworkSettings(NetworkSettings* settings) {
  return Reset(Hold(), kNetworkSettingsFile, settings);
}

std::int32_t DeviceManager::LoadServiceSettings(ServiceSettings* settings) {
  return Load(Hold(), kServiceSettingsFile, settings);
}
std::int32_t DeviceManager::SaveServiceSettings(const ServiceSettings* settings) {
  return Save(Hold(), kServiceSettingsFile, settings);
}
std::int32_t DeviceManager::ResetServiceSettings(ServiceSettings* settings) {
  return Reset(Hold(), kServiceSettingsFile, settings);
}

std::int32_t DeviceManager::LoadOcpSettings(OcpSettings* settings) {
  return Load(Hold(), kOcpSettingsFile, settings);
}
std::int32_t DeviceManager::SaveOcpSettings(const OcpSettings* settings) {
  return Save(Hold(), kOcpSettingsFile, settings);
}
std::int32_t DeviceManager::ResetOcpSettings(OcpSettings* settings) {
  return Reset(Hold(), kOcpSettingsFile, settings);
}

// Both loads under one hold: concurrent calls never write the members at the
// same time, and the pair they show was stored together. QUIRK: the result
// is the OCP load's; a failed service load is not reported.
std::int32_t DeviceManager::LoadSettings() {
  const HeldMutex held = Hold();
  LoadRecordFile(held, kServiceSettingsFile, &serviceSettings);
  return LoadRecordFile(held, kOcpSettingsFile, &ocpSettings);
}

}  // namespace nolva
