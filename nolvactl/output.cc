#include "nolvactl/output.h"

#include <cstdio>

namespace nolvactl {
namespace {

struct StatusRow {
  nolva::StatusCode code;
  int exitStatus;
  const char* name;
  const char* text;
};

const StatusRow kStatusRows[] = {
    {nolva::STATUS_OK, kExitOk, "STATUS_OK", "done"},
    {nolva::STATUS_AUTH_FAILED, kExitAuthRefused, "STATUS_AUTH_FAILED", "authentication refused"},
    {nolva::STATUS_FIRMWARE_UPDATE_FAILED, kExitFailed, "STATUS_FIRMWARE_UPDATE_FAILED",
     "firmware update failed"},
    {nolva::STATUS_GET_NETWORK_FAILED, kExitFailed, "STATUS_GET_NETWORK_FAILED",
     "reading the network settings failed"},
    {nolva::STATUS_SET_NETWORK_FAILED, kExitFailed, "STATUS_SET_NETWORK_FAILED",
     "storing the network settings failed"},
    {nolva::STATUS_GET_SERVICE_FAILED, kExitFailed, "STATUS_GET_SERVICE_FAILED",
     "reading the service settings failed"},
    {nolva::STATUS_SET_SERVICE_FAILED, kExitFailed, "STATUS_SET_SERVICE_FAILED",
     "storing the service settings failed"},
    {nolva::STATUS_LIST_USERS_FAILED, kExitFailed, "STATUS_LIST_USERS_FAILED",
     "reading the account list failed"},
    {nolva::STATUS_ADD_USER_FAILED, kExitFailed, "STATUS_ADD_USER_FAILED",
     "adding the account failed"},
    {nolva::STATUS_DELETE_USER_FAILED, kExitFailed, "STATUS_DELETE_USER_FAILED",
     "deleting the account failed"},
    {nolva::STATUS_CHANGE_PASSWORD_FAILED, kExitFailed, "STATUS_CHANGE_PASSWORD_FAILED",
     "changing the password failed"},
    {nolva::STATUS_USB_PORTS_FAILED, kExitFailed, "STATUS_USB_PORTS_FAILED",
     "reading the USB ports failed"},
    {nolva::STATUS_FIRMWARE_VERSION_FAILED, kExitFailed, "STATUS_FIRMWARE_VERSION_FAILED",
     "reading the firmware versions failed"},
    {nolva::STATUS_GET_OCP_FAILED, kExitFailed, "STATUS_GET_OCP_FAILED",
     "reading the OCP settings failed"},
    {nolva::STATUS_SET_OCP_FAILED, kExitFailed, "STATUS_SET_OCP_FAILED",
     "storing the OCP settings failed"},
    {nolva::STATUS_REFUSED, kExitRefused, "STATUS_REFUSED", "settings refused"},
};

const StatusRow kUnknownStatus = {0, kExitFailed, "unknown", "unknown status"};

const StatusRow& RowOf(nolva::StatusCode status) {
  for (const StatusRow& row : kStatusRows)
    if (row.code == status) return row;
  return kUnknownStatus;
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
    PrintJson(JsonObject().Add("ok", true).AddRaw("result", json.Text()));
  } else {
    std::fputs(human.c_str(), stdout);
    std::fflush(stdout);
  }
  return kExitOk;
}

int Fail(const Invocation& call, nolva::StatusCode status, const std::string& hint) {
  const StatusRow& row = RowOf(status);
  std::fprintf(stderr, "nolvactl: %s: %s%s%s\n", call.command->name, StatusText(status).c_str(),
               hint.empty() ? "" : ": ", hint.c_str());
  if (call.json) {
    PrintJson(JsonObject()
                  .Add("ok", false)
                  .Add("status", row.name)
                  .Add("code", Hex(status))
                  .Add("message", row.text));
  }
  return row.exitStatus;
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
  return std::string(RowOf(status).text) + " (" + Hex(status) + ")";
}

const char* StatusName(nolva::StatusCode status) {
  return RowOf(status).name;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte >= 0x7F) {
      // Device texts are bytes, not UTF-8: each byte is the code point it
      // stands for at the library's interface.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
  if (!fields_.empty()) fields_ += ",";
  fields_ += JsonString(key) + ":" + json;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
  return AddRaw(key, JsonString(value));
}

JsonObject& JsonObject::Add(const std::string& key, const char* value) {
  return AddRaw(key, JsonString(value));
}

JsonObject& JsonObject::Add(const std::string& key, std::int64_t value) {
  return AddRaw(key, std::to_string(value));
}

JsonObject& JsonObject::Add(const std::string& key, bool value) {
  return AddRaw(key, value ? "true" : "false");
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
