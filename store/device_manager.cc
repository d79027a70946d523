#include "store/device_manager.h"

namespace nolva {

DeviceManager::DeviceManager() {
  pthread_mutex_init(&mutex, nullptr);
}

DeviceManager::~DeviceManager() {
  pthread_mutex_destroy(&mutex);
}

}  // namespace nolva
