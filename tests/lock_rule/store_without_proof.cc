// A flash file is stored only with the manager's mutex held, and only the
// proof of it will do: a bare mutex in its place does not compile (built
// with -DBREAK_RULE).
#include <pthread.h>

#include "store/record_file.h"
#include "store/settings_records.h"

void Store(const nolva::HeldMutex& held, pthread_mutex_t& mutex,
           const nolva::NetworkSettings& settings) {
#ifdef BREAK_RULE
  (void)held;
  nolva::StoreRecordFile(mutex, nolva::kNetworkSettingsFile, &settings);
#else
  (void)mutex;
  nolva::StoreRecordFile(held, nolva::kNetworkSettingsFile, &settings);
#endif
}
