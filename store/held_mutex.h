#pragma once

#include <pthread.h>

namespace nolva {

class DeviceManager;

// The manager's mutex knows its owner: a thread that asks for it while
// holding it (an operation that locks before its gate, whose password check
// locks too) is stopped at once with a message instead of hanging the device
// for ever.
void InitOwnerCheckedMutex(pthread_mutex_t& mutex);
void LockOwnerChecked(pthread_mutex_t& mutex);

// Proof that the manager's mutex is held. The primitives that read or replace
// a flash file take one, so none of them can be called without the lock, and
// only the manager can make one (DeviceManager::Hold).
class HeldMutex {
 public:
  ~HeldMutex() { pthread_mutex_unlock(&mutex_); }
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;
  HeldMutex(HeldMutex&&) = delete;
  HeldMutex& operator=(HeldMutex&&) = delete;

 private:
  friend class DeviceManager;
  explicit HeldMutex(pthread_mutex_t& mutex) : mutex_(mutex) { LockOwnerChecked(mutex_); }

  pthread_mutex_t& mutex_;
};

}  // namespace nolva
