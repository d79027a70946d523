#include "store/held_mutex.h"

#include <cstdio>
#include <cstdlib>

namespace nolva {

void InitOwnerCheckedMutex(pthread_mutex_t& mutex) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutex_init(&mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void LockOwnerChecked(pthread_mutex_t& mutex) {
  if (pthread_mutex_lock(&mutex) == 0) return;
  fputs("nolva: the device manager's mutex was asked for by a thread that holds it\n", stderr);
  abort();
}

}  // namespace nolva
