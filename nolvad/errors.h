// The service's refusals: each error word with its HTTP status, and the
// body every refusal carries.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "nolvad/http.h"
#include "store/status_codes.h"

namespace nolvad {

inline constexpr std::size_t kMaxJsonBody = 4096;

enum class Error {
  kBadRequest,
  kAuthFailed,
  kConfirmPassword,
  kCsrf,
  kOrigin,
  kNotFound,
  kNoSuchUser,
  kMethodNotAllowed,
  kPortConflict,
  kUserExists,
  kUserTableFull,
  kAdminNeedsForce,
  kBusy,
  kLengthRequired,
  kPreconditionFailed,
  kTooLarge,
  kUnsupportedMediaType,
  kUnknownImage,
  kThrottled,
  kOperationFailed,
};

struct ErrorRow {
  Error error;
  int status;
  const char* word;
};

const ErrorRow& RowOf(Error error);

// {"error", "message"}; a 401 also carries the Bearer challenge.
Response Refuse(Error error, const std::string& message);
// With further members, such as a throttled client's wait.
Response Refuse(Error error, const std::string& message, nlohmann::json members);
// The same with the library's status by name and value.
Response Refuse(Error error, const std::string& message, nolva::StatusCode status);

// A JSON body longer than kMaxJsonBody.
Response TooLargeJson();

// "0x80000300"
std::string CodeText(nolva::StatusCode status);

// A JSON body as sent. Messages may echo what a client sent (a path, an
// origin), so bytes that are not UTF-8 become U+FFFD instead of an exception.
std::string JsonText(const nlohmann::json& body);

}  // namespace nolvad
