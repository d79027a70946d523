#include <cstring>

#include "store/device_manager.h"
#include "store/handles.h"
#include "store/record_file.h"

namespace nolva {
namespace {

// OCP service enabled on port 23.
constexpr OcpSettings kDefaultOcpSettings = {1, 1, 0, 0, 1, 23, 300000};

void FillOcpDefaults(void* record) {
  memcpy(record, &kDefaultOcpSettings, sizeof kDefaultOcpSettings);
}

}  // namespace

const RecordFile kOcpSettingsFile = {"/flash/nolva_ocp", sizeof(OcpSettings), FillOcpDefaults};

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

}  // namespace nolva
