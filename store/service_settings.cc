#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/record_file.h"

namespace nolva {
namespace {

// Primary service on 9100, secondary on 11110, both enabled.
constexpr ServiceSettings kDefaultServiceSettings = {
    1, 1, 1, 9100, 300000, 1, 0, 1, 11110, 300000, 1,
};

void FillServiceDefaults(void* record) {
  memcpy(record, &kDefaultServiceSettings, sizeof kDefaultServiceSettings);
}

}  // namespace

const RecordFile kServiceSettingsFile = {"/flash/nolva_service", sizeof(ServiceSettings),
                                         FillServiceDefaults};

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

}  // namespace nolva
