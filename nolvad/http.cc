#include "nolvad/http.h"

#include <strings.h>

namespace nolvad {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void Headers::Add(std::string_view name, std::string_view value) {
  std::string lower(name);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  fields_.emplace_back(std::move(lower), std::string(value));
}

const std::string* Headers::Find(std::string_view lowerName) const {
  for (const auto& field : fields_)
    if (field.first == lowerName) return &field.second;
  return nullptr;
}

const std::string* Response::Find(std::string_view name) const {
  for (const auto& header : headers)
    if (header.first.size() == name.size() &&
        strncasecmp(header.first.data(), name.data(), name.size()) == 0)
      return &header.second;
  return nullptr;
}

void AddCommonHeaders(Response* response, bool tls) {
  response->Header("Cache-Control", "no-store");
  response->Header("X-Content-Type-Options", "nosniff");
  response->Header("Referrer-Policy", "no-referrer");
  response->Header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
  if (tls) response->Header("Strict-Transport-Security", "max-age=31536000");
}

bool PercentDecode(std::string_view text, std::string* out) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    decoded.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  *out = std::move(decoded);
  return true;
}

std::string PercentEncode(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                       byte == '~';
    if (plain) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 15]);
    }
  }
  return encoded;
}

bool QueryValue(std::string_view query, std::string_view name, std::string* value) {
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    const std::string_view pair = query.substr(0, end);
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) == name) {
      return PercentDecode(equals == std::string_view::npos ? "" : pair.substr(equals + 1), value);
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace nolvad
