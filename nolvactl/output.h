// What nolvactl prints: text for people, one JSON object with --json, and
// status codes by name and value.
#pragma once

#include <cstdint>
#include <string>

#include "nolvactl/command.h"
#include "store/status_codes.h"

namespace nolvactl {

// "authentication refused (0x80000300)"
std::string StatusText(nolva::StatusCode status);
const char* StatusName(nolva::StatusCode status);

// A JSON object built field by field; strings are escaped byte by byte.
class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value);
  JsonObject& Add(const std::string& key, std::int64_t value);
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& AddRaw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + fields_ + "}"; }

 private:
  std::string fields_;
};

std::string JsonString(const std::string& text);

// Prints the result of a command that worked: `human` as it stands, or the
// object with "ok": true in front.
int Succeed(const Invocation& call, const std::string& human, const JsonObject& json);

// Reports a status other than STATUS_OK and returns its exit status.
int Fail(const Invocation& call, nolva::StatusCode status, const std::string& hint = "");

// Reports a failure that has no status code (a store result); returns 1.
int FailText(const Invocation& call, const std::string& problem);

// Reports input refused before any operation was called; returns 2.
int BadInput(const Invocation& call, const std::string& problem);

// Control characters in device texts would drive the terminal: all but the
// line feed show as '?'.
std::string Printable(const std::string& text);

}  // namespace nolvactl
