// The access log: one line per request on standard output. Lines are
// gathered and written together at most every kFlushInterval, so that a busy
// service makes one write for many requests instead of one each.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace nolvad {

class AccessLog {
 public:
  static constexpr std::chrono::milliseconds kFlushInterval{200};
  static constexpr std::size_t kMostPending = 16 * 1024;

  AccessLog();
  ~AccessLog();  // writes what is pending
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  // Time, client, method, path, status, milliseconds. The path is logged
  // without its query, and no control character reaches the log.
  void Request(const std::string& client, const std::string& method, const std::string& path,
               int status, std::chrono::steady_clock::duration took);
  // Writes what is pending now.
  void Flush();

 private:
  void WriteLocked();
  void Flusher();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  bool stopping_ = false;
  std::thread flusher_;
};

}  // namespace nolvad
