#include "store/device_manager.h"

#include <cstdio>
#include <cstdlib>

#include "store/held_mutex.h"

namespace nolva {

DeviceManager::DeviceManager() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutex_init(&mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

DeviceManager::~DeviceManager() {
  pthread_mutex_destroy(&mutex);
}

HeldMutex DeviceManager::Hold() {
  return HeldMutex(mutex);
}

HeldMutex::HeldMutex(pthread_mutex_t& mutex) : mutex_(mutex) {
  if (pthread_mutex_lock(&mutex_) == 0) return;
  fputs("nolva: the device manager's mutex was asked for by a thread that holds it\n", stderr);
  abort();
}

}  // namespace nolva
