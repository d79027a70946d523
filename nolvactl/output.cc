#include "nolvactl/output.h"

#include <cstdio>

#include "front/front.h"

namespace nolvactl {
namespace {

const nolva::StatusInfo kUnknownStatus = {0, "unknown", "unknown status"};

const nolva::StatusInfo& InfoOf(nolva::StatusCode status) {
  const nolva::StatusInfo* info = nolva::FindStatus(status);
  return info != nullptr ? *info : kUnknownStatus;
}

int ExitStatusOf(nolva::StatusCode status) {
  if (status == nolva::STATUS_OK) return kExitOk;
  if (status == nolva::STATUS_AUTH_FAILED) return kExitAuthRefused;
  if (status == nolva::STATUS_REFUSED) return kExitRefused;
  return kExitFailed;
}

std::string Hex(nolva::StatusCode status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

void PrintJson(const JsonObject& json) {
  std::printf("%s\n", json.Text().c_str());
  std::fflush(stdout);
}

int Succeed(const Invocation& call, const std::string& human, const JsonObject& json) {
  if (call.json) {
    PrintJson(JsonObject().Add("ok", true).Add("result", json));
  } else {
    std::fputs(human.c_str(), stdout);
    std::fflush(stdout);
  }
  return kExitOk;
}

int Fail(const Invocation& call, nolva::StatusCode status, const std::string& hint) {
  const nolva::StatusInfo& info = InfoOf(status);
  std::fprintf(stderr, "nolvactl: %s: %s%s%s\n", call.command->name, StatusText(status).c_str(),
               hint.empty() ? "" : ": ", hint.c_str());
  if (call.json) {
    PrintJson(JsonObject()
                  .Add("ok", false)
                  .Add("status", info.name)
                  .Add("code", Hex(status))
                  .Add("message", info.text));
  }
  return ExitStatusOf(status);
}

int FailText(const Invocation& call, const std::string& problem) {
  std::fprintf(stderr, "nolvactl: %s: %s\n", call.command->name, problem.c_str());
  if (call.json) {
    PrintJson(JsonObject().Add("ok", false).Add("status", "failed").Add("message", problem));
  }
  return kExitFailed;
}

}  // namespace

std::string StatusText(nolva::StatusCode status) {
  return std::string(InfoOf(status).text) + " (" + Hex(status) + ")";
}

const char* StatusName(nolva::StatusCode status) {
  return InfoOf(status).name;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
  value_[key] = nolva::front::Latin1ToUtf8(value);
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const char* value) {
  return Add(key, std::string(value));
}

JsonObject& JsonObject::Add(const std::string& key, std::int64_t value) {
  value_[key] = value;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, bool value) {
  value_[key] = value;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const JsonObject& value) {
  value_[key] = value.value_;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::vector<JsonObject>& values) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const JsonObject& value : values)
    array.push_back(value.value_);
  value_[key] = std::move(array);
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::vector<std::string>& texts) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const std::string& text : texts)
    array.push_back(nolva::front::Latin1ToUtf8(text));
  value_[key] = std::move(array);
  return *this;
}

JsonObject& JsonObject::AddNull(const std::string& key) {
  value_[key] = nullptr;
  return *this;
}

// ASCII only: every other character as its \u escape, as before.
std::string JsonObject::Text() const {
  return value_.dump(-1, ' ', true);
}

int Report(const Invocation& call, const Outcome& outcome) {
  if (!outcome.failure.empty()) return FailText(call, outcome.failure);
  if (outcome.status != nolva::STATUS_OK) return Fail(call, outcome.status, outcome.hint);
  return Succeed(call, outcome.human, outcome.json);
}

int BadInput(const Invocation& call, const std::string& problem) {
  const std::string where = call.command != nullptr ? std::string(call.command->name) + ": " : "";
  std::fprintf(stderr, "nolvactl: %s%s\n", where.c_str(), problem.c_str());
  if (call.json) {
    PrintJson(JsonObject().Add("ok", false).Add("status", "bad-input").Add("message", problem));
  }
  return kExitBadInput;
}

std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F) c = '?';
  return out;
}

}  // namespace nolvactl
