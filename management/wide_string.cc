#include "management/wide_string.h"

#include <cstring>

namespace nolva {

bool Narrow(char* out, std::size_t size, const char16_t* in) {
  if (size == 0) return false;
  out[0] = '\0';
  if (!in) return false;
  std::size_t length = 0;
  for (; in[length] != 0; ++length) {
    if (length + 1 == size) {
      out[length] = '\0';
      return false;
    }
    out[length] = static_cast<char>(in[length] & 0xFF);
  }
  out[length] = '\0';
  return true;
}

void Widen(char16_t* out, const char* text) {
  // Measured first: a loop of known length widens many bytes at a time.
  const std::size_t length = strlen(text);
  for (std::size_t i = 0; i < length; ++i)
    out[i] = static_cast<unsigned char>(text[i]);
  out[length] = 0;
}

}  // namespace nolva
