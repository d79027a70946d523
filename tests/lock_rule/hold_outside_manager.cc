// Only the manager makes the proof that its mutex is held: anyone else's
// attempt does not compile (built with -DBREAK_RULE).
#include <pthread.h>

#include "accounts/user_file.h"

std::int32_t Read(const nolva::HeldMutex& held, nolva::DeviceManager& manager,
                  pthread_mutex_t& mutex, nolva::UserTable* table) {
#ifdef BREAK_RULE
  (void)held;
  const nolva::HeldMutex forged(mutex);
  return nolva::ReadUserFile(forged, manager, table);
#else
  (void)mutex;
  return nolva::ReadUserFile(held, manager, table);
#endif
}
