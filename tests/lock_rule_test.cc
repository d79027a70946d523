// The runtime half of the lock rule: a thread that asks for the manager's
// mutex while it holds it is stopped at once, with a message, instead of
// hanging the device. (The compile-time half is in lock_rule/.)
#include <gtest/gtest.h>

#include "store/held_mutex.h"

namespace nolva {
namespace {

TEST(LockRule, AThreadAskingTwiceForTheMutexIsStoppedAtOnce) {
  pthread_mutex_t mutex;
  InitOwnerCheckedMutex(mutex);
  EXPECT_DEATH(
      {
        LockOwnerChecked(mutex);
        LockOwnerChecked(mutex);
      },
      "mutex was asked for by a thread that holds it");
  pthread_mutex_destroy(&mutex);
}

}  // namespace
}  // namespace nolva
