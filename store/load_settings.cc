#include "store/device_manager.h"
#include "store/handles.h"
#include "store/record_file.h"

namespace nolva {

// Both loads under one hold: concurrent calls never write the members at the
// same time, and the pair they show was stored together.
std::int32_t DeviceManager::LoadSettings() {
  HeldMutex held(mutex);
  LoadRecordFile(kServiceSettingsFile, &serviceSettings);
  return LoadRecordFile(kOcpSettingsFile, &ocpSettings);
}

}  // namespace nolva
