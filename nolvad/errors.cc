#include "nolvad/errors.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace nolvad {
namespace {

constexpr ErrorRow kErrors[] = {
    {Error::kBadRequest, 400, "bad-request"},
    {Error::kAuthFailed, 401, "auth-failed"},
    {Error::kConfirmPassword, 401, "confirm-password"},
    {Error::kCsrf, 403, "csrf"},
    {Error::kOrigin, 403, "origin"},
    {Error::kNotFound, 404, "not-found"},
    {Error::kNoSuchUser, 404, "no-such-user"},
    {Error::kMethodNotAllowed, 405, "method-not-allowed"},
    {Error::kPortConflict, 409, "port-conflict"},
    {Error::kUserExists, 409, "user-exists"},
    {Error::kUserTableFull, 409, "user-table-full"},
    {Error::kAdminNeedsForce, 409, "admin-needs-force"},
    {Error::kBusy, 409, "busy"},
    {Error::kLengthRequired, 411, "length-required"},
    {Error::kPreconditionFailed, 412, "precondition-failed"},
    {Error::kTooLarge, 413, "too-large"},
    {Error::kUnsupportedMediaType, 415, "unsupported-media-type"},
    {Error::kUnknownImage, 422, "unknown-image"},
    {Error::kThrottled, 429, "throttled"},
    {Error::kOperationFailed, 500, "operation-failed"},
};

Response Answer(Error error, nlohmann::json body) {
  const ErrorRow& row = RowOf(error);
  body["error"] = row.word;
  Response response{row.status, {}, JsonText(body)};
  response.Header("Content-Type", "application/json");
  if (row.status == 401) response.Header("WWW-Authenticate", "Bearer realm=\"nolva\"");
  return response;
}

}  // namespace

const ErrorRow& RowOf(Error error) {
  for (const ErrorRow& row : kErrors)
    if (row.error == error) return row;
  return kErrors[static_cast<int>(Error::kOperationFailed)];
}

std::string JsonText(const nlohmann::json& body) {
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CodeText(nolva::StatusCode status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

Response Refuse(Error error, const std::string& message) {
  return Answer(error, {{"message", message}});
}

Response Refuse(Error error, const std::string& message, nlohmann::json members) {
  members["message"] = message;
  return Answer(error, std::move(members));
}

Response TooLargeJson() {
  return Refuse(Error::kTooLarge,
                "a JSON body holds at most " + std::to_string(kMaxJsonBody) + " bytes");
}

Response Refuse(Error error, const std::string& message, nolva::StatusCode status) {
  const nolva::StatusInfo* info = nolva::FindStatus(status);
  return Answer(error, {{"message", message},
                        {"status", info ? info->name : "STATUS_UNKNOWN"},
                        {"code", CodeText(status)}});
}

}  // namespace nolvad
