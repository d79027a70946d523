// A request and its answer as the service sees them: plain values, no
// sockets, so that tests and the fuzz target call the service directly.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nolvad {

// Header names are kept in lower case; a lookup takes a lower-case name.
class Headers {
 public:
  void Add(std::string_view name, std::string_view value);
  const std::string* Find(std::string_view lowerName) const;
  const std::vector<std::pair<std::string, std::string>>& All() const { return fields_; }

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

struct Request {
  std::string method;
  std::string path;   // percent-encoded, without the query
  std::string query;  // percent-encoded, without the '?'
  Headers headers;
  std::string body;
  std::string client;  // the peer's address, "127.0.0.1"
  bool tls = false;
};

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent
  std::string body;

  Response& Header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  const std::string* Find(std::string_view name) const;
};

// What every answer carries: no caching, no sniffing, no referrer, no other
// origin's content or frame; over TLS, HSTS.
void AddCommonHeaders(Response* response, bool tls);

// "%41b" -> "Ab"; false for a '%' without two hex digits.
bool PercentDecode(std::string_view text, std::string* out);
std::string PercentEncode(std::string_view bytes);
// The value of `name` in a query string, percent-decoded; false when absent.
bool QueryValue(std::string_view query, std::string_view name, std::string* value);

}  // namespace nolvad
