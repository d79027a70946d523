#include "store/device_manager.h"

#include "store/held_mutex.h"

namespace nolva {

DeviceManager::DeviceManager() {
  InitOwnerCheckedMutex(mutex);
}

DeviceManager::~DeviceManager() {
  pthread_mutex_destroy(&mutex);
}

HeldMutex DeviceManager::Hold() {
  return HeldMutex(mutex);
}

}  // namespace nolva
