// The signed-in sessions: a fixed table of 16, each holding the credentials
// its requests run with, in memory only. A token is 128 bits from the
// kernel, compared in constant time.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "front/front.h"

namespace nolvad {

inline constexpr int kMaxSessions = 16;

using Clock = std::chrono::steady_clock;

struct SessionTokens {
  std::string token;  // 32 lower-case hex digits
  std::string csrf;
};

// What a request on a session needs of it.
struct SessionView {
  nolva::front::Credentials credentials;
  std::string user;  // Latin-1
  std::string csrf;
};

class SessionTable {
 public:
  explicit SessionTable(std::chrono::seconds idle) : idle_(idle) {}
  ~SessionTable() { EndAll(); }
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  // A new session; when the table is full it pushes out the one used least
  // recently.
  SessionTokens Open(std::string_view user, std::string_view password);
  // The live session of `token`, which counts as used now.
  std::optional<SessionView> Use(std::string_view token);
  void End(std::string_view token);
  void EndAll();
  // A changed password keeps the session of `token` working.
  void ChangePassword(std::string_view token, std::string_view password);
  std::chrono::seconds Idle() const { return idle_; }

 private:
  struct Slot {
    bool live = false;
    std::uint8_t token[16] = {};
    std::uint8_t csrf[16] = {};
    std::string user;
    nolva::front::Credentials credentials;
    Clock::time_point lastUse;
  };

  Slot* Find(std::string_view token, Clock::time_point now);
  static void Wipe(Slot* slot);

  const std::chrono::seconds idle_;
  std::mutex mutex_;
  Slot slots_[kMaxSessions];
};

// Constant-time comparison of two byte strings of the same length.
bool SameBytes(const void* a, const void* b, std::size_t size);
// 32 lower-case hex digits as 16 bytes; false for anything else.
bool ParseToken(std::string_view hex, std::uint8_t out[16]);

}  // namespace nolvad
