#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/record_file.h"

namespace nolva {
namespace {

// DHCP on; the static fallback is 192.168.0.223/24 via 192.168.0.1.
constexpr NetworkSettings kDefaultNetworkSettings = {
    1, {192, 168, 0, 223}, {255, 255, 255, 0}, {192, 168, 0, 1}};

void FillNetworkDefaults(void* record) {
  memcpy(record, &kDefaultNetworkSettings, sizeof kDefaultNetworkSettings);
}

}  // namespace

const RecordFile kNetworkSettingsFile = {"/flash/nolva_system", sizeof(NetworkSettings),
                                         FillNetworkDefaults};

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

}  // namespace nolva
