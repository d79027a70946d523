#include "nolvad/throttle.h"

namespace nolvad {

Throttle::Entry* Throttle::Find(std::string_view client) {
  for (Entry& entry : entries_)
    if (entry.failures > 0 && entry.client == client) return &entry;
  return nullptr;
}

int Throttle::WaitSeconds(std::string_view client, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* entry = Find(client);
  if (!entry) return 0;
  const auto left = entry->until - now;
  if (left <= Clock::duration::zero()) return 0;
  // Rounded up: a client told 0 must not be refused.
  return static_cast<int>((left + std::chrono::seconds(1) - Clock::duration(1)) /
                          std::chrono::seconds(1));
}

void Throttle::Failed(std::string_view client, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* entry = Find(client);
  if (!entry) {
    // A free entry, else the one whose last failure is oldest.
    entry = &entries_[0];
    for (Entry& candidate : entries_) {
      if (candidate.failures == 0) {
        entry = &candidate;
        break;
      }
      if (candidate.last < entry->last) entry = &candidate;
    }
    entry->client = std::string(client);
    entry->failures = 0;
  }
  entry->failures += 1;
  entry->last = now;
  const int over = entry->failures - kFreeFailures;
  int wait = 0;
  if (over > 0) wait = over > 6 ? kLongestWaitSeconds : 1 << (over - 1);
  if (wait > kLongestWaitSeconds) wait = kLongestWaitSeconds;
  entry->until = now + std::chrono::seconds(wait);
}

void Throttle::Succeeded(std::string_view client) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Entry* entry = Find(client)) *entry = Entry{};
}

}  // namespace nolvad
