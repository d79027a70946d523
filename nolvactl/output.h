// What nolvactl prints: text for people, one JSON object with --json, and
// status codes by name and value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "nolvactl/command.h"
#include "store/status_codes.h"

namespace nolvactl {

// "authentication refused (0x80000300)"
std::string StatusText(nolva::StatusCode status);
const char* StatusName(nolva::StatusCode status);

// A JSON object built field by field. Texts are bytes, each the character of
// its value, as the device's texts are; they go out as JSON's \u escapes.
class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value);
  JsonObject& Add(const std::string& key, std::int64_t value);
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& Add(const std::string& key, const JsonObject& value);
  JsonObject& Add(const std::string& key, const std::vector<JsonObject>& values);
  JsonObject& Add(const std::string& key, const std::vector<std::string>& texts);
  JsonObject& AddNull(const std::string& key);
  std::string Text() const;

 private:
  nlohmann::ordered_json value_ = nlohmann::ordered_json::object();
};

// What an action came to: the status of the last operation it called, and
// what to show when that is STATUS_OK.
struct Outcome {
  Outcome(nolva::StatusCode status, std::string human, JsonObject json)
      : status(status), human(std::move(human)), json(std::move(json)) {}

  nolva::StatusCode status;
  std::string human;    // printed as it stands
  JsonObject json;      // the result with --json, "ok": true in front
  std::string hint;     // follows the status when it is not STATUS_OK
  std::string failure;  // a failure that has no status code (a store result)
};

// Prints the outcome and returns the exit status.
int Report(const Invocation& call, const Outcome& outcome);

// Reports input refused before any operation was called; returns 2.
int BadInput(const Invocation& call, const std::string& problem);

// Control characters in device texts would drive the terminal: all but the
// line feed show as '?'.
std::string Printable(const std::string& text);

}  // namespace nolvactl
