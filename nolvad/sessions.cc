#include "nolvad/sessions.h"

#include <openssl/crypto.h>
#include <string.h>
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>

namespace nolvad {
namespace {

void Random(std::uint8_t* out, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = getrandom(out + got, size - got, 0);
    // Without the kernel's randomness no token can be made safely.
    if (n <= 0) std::abort();
    got += static_cast<std::size_t>(n);
  }
}

std::string Hex(const std::uint8_t bytes[16]) {
  char text[33];
  for (int i = 0; i < 16; ++i)
    std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  return std::string(text, 32);
}

}  // namespace

bool SameBytes(const void* a, const void* b, std::size_t size) {
  return CRYPTO_memcmp(a, b, size) == 0;
}

bool ParseToken(std::string_view hex, std::uint8_t out[16]) {
  if (hex.size() != 32) return false;
  for (int i = 0; i < 16; ++i) {
    unsigned value = 0;
    for (int j = 0; j < 2; ++j) {
      const char c = hex[static_cast<std::size_t>(2 * i + j)];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    out[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

void SessionTable::Wipe(Slot* slot) {
  slot->credentials.Wipe();
  explicit_bzero(slot->token, sizeof slot->token);
  explicit_bzero(slot->csrf, sizeof slot->csrf);
  slot->user.clear();
  slot->live = false;
}

SessionTable::Slot* SessionTable::Find(std::string_view token, Clock::time_point now) {
  std::uint8_t wanted[16];
  if (!ParseToken(token, wanted)) return nullptr;
  Slot* found = nullptr;
  for (Slot& slot : slots_) {
    if (!slot.live) continue;
    if (now - slot.lastUse >= idle_) {
      Wipe(&slot);
      continue;
    }
    if (SameBytes(slot.token, wanted, sizeof wanted)) found = &slot;
  }
  return found;
}

SessionTokens SessionTable::Open(std::string_view user, std::string_view password) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot* chosen = &slots_[0];
  for (Slot& slot : slots_) {
    if (!slot.live) {
      chosen = &slot;
      break;
    }
    if (slot.lastUse < chosen->lastUse) chosen = &slot;
  }
  Wipe(chosen);
  Random(chosen->token, sizeof chosen->token);
  Random(chosen->csrf, sizeof chosen->csrf);
  chosen->user = std::string(user);
  chosen->credentials.Set(user, password);
  chosen->lastUse = Clock::now();
  chosen->live = true;
  return {Hex(chosen->token), Hex(chosen->csrf)};
}

std::optional<SessionView> SessionTable::Use(std::string_view token) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Clock::time_point now = Clock::now();
  Slot* slot = Find(token, now);
  if (!slot) return std::nullopt;
  slot->lastUse = now;
  return SessionView{slot->credentials, slot->user, Hex(slot->csrf)};
}

void SessionTable::End(std::string_view token) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Slot* slot = Find(token, Clock::now())) Wipe(slot);
}

void SessionTable::EndAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Slot& slot : slots_)
    Wipe(&slot);
}

void SessionTable::ChangePassword(std::string_view token, std::string_view password) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Slot* slot = Find(token, Clock::now())) slot->credentials.Set(slot->user, password);
}

}  // namespace nolvad
