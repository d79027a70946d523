// Failed sign-ins per client address: the first kFreeFailures in a row cost
// nothing, then each makes the client wait twice as long, up to a minute.
// A bounded table; one address's failures never delay another's.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace nolvad {

inline constexpr int kFreeFailures = 5;
inline constexpr int kLongestWaitSeconds = 60;
inline constexpr int kThrottledAddresses = 64;

class Throttle {
 public:
  using Clock = std::chrono::steady_clock;

  // Whole seconds `client` must still wait before its next attempt; 0 when
  // it may try now.
  int WaitSeconds(std::string_view client, Clock::time_point now = Clock::now());
  void Failed(std::string_view client, Clock::time_point now = Clock::now());
  void Succeeded(std::string_view client);

 private:
  struct Entry {
    std::string client;
    int failures = 0;
    Clock::time_point until;  // no attempt before this
    Clock::time_point last;
  };

  Entry* Find(std::string_view client);

  std::mutex mutex_;
  Entry entries_[kThrottledAddresses];
};

}  // namespace nolvad
