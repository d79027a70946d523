#include "nolvad/access_log.h"

#include <cstdio>
#include <ctime>

namespace nolvad {
namespace {

// What reaches the log of a client's text: never a control character.
std::string Loggable(const std::string& text) {
  std::string shown;
  for (char c : text)
    shown.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  return shown;
}

}  // namespace

AccessLog::AccessLog() : flusher_([this] { Flusher(); }) {}

AccessLog::~AccessLog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  flusher_.join();
  Flush();
}

void AccessLog::Request(const std::string& client, const std::string& method,
                        const std::string& path, int status,
                        std::chrono::steady_clock::duration took) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
  const std::string line = std::string(when) + " " + client + " " + Loggable(method) + " " +
                           Loggable(path) + " " + std::to_string(status) + " " +
                           std::to_string(ms) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ += line;
  if (pending_.size() >= kMostPending) WriteLocked();
}

void AccessLog::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked();
}

void AccessLog::WriteLocked() {
  if (pending_.empty()) return;
  std::fwrite(pending_.data(), 1, pending_.size(), stdout);
  std::fflush(stdout);
  pending_.clear();
}

void AccessLog::Flusher() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kFlushInterval);
    WriteLocked();
  }
}

}  // namespace nolvad
