// Running code on a thread with a stack of a given size, and measuring how
// much of it the code used.
#pragma once

#include <cstddef>
#include <functional>

namespace nolva::test {

// True when the build runs under a sanitizer, whose frames are far larger
// than the device's: stack bounds are measured on plain builds only.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// Runs `body` on a new thread whose stack holds `size` bytes, below which a
// guard page stops an overflow: an overflow ends the process. Returns the
// deepest use of the stack, in bytes.
std::size_t RunOnStack(std::size_t size, const std::function<void()>& body);

}  // namespace nolva::test
