#pragma once

#include <cstddef>

namespace nolva {

// Keeps the low byte of each 16-bit unit up to the first zero unit. Returns
// false, with nothing written past the buffer, when the string does not fit
// (or is missing); the call must then be refused.
bool Narrow(char* out, std::size_t size, const char16_t* in);

template <std::size_t N>
bool Narrow(char (&out)[N], const char16_t* in) {
  return Narrow(out, N, in);
}

// Zero-extends each byte of the text into a unit and ends with a zero unit.
void Widen(char16_t* out, const char* text);

}  // namespace nolva
