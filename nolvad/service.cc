// Admission: the checks a request passes before its operation, in the order
// in which the first that fails answers: path and method, origin, throttle,
// credentials, CSRF, headers, busy; then, with the body, the body and the
// names in the path, and the handler's own steps.
#include "nolvad/service.h"

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

#include "console/assets.h"
#include "nolvad/errors.h"
#include "nolvad/routes.h"
#include "nolvad/service_call.h"

namespace nolvad {
namespace {

namespace front = nolva::front;

bool Changes(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

// The request's own origin, "https://host:port", from its Host header.
std::string OwnOrigin(const Request& request) {
  const std::string* host = request.headers.Find("host");
  return std::string(request.tls ? "https://" : "http://") + (host ? *host : "");
}

bool DecodeBase64(const std::string& text, std::string* out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  std::string bytes(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return false;
  std::size_t padding = 0;
  while (padding < 2 && text[text.size() - 1 - padding] == '=')
    ++padding;
  bytes.resize(static_cast<std::size_t>(n) - padding);
  *out = std::move(bytes);
  return true;
}

// The value of the cookie `name`, or "".
std::string Cookie(const Request& request, std::string_view name) {
  const std::string* header = request.headers.Find("cookie");
  if (!header) return "";
  std::string_view rest(*header);
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    std::string_view pair = rest.substr(0, end);
    while (!pair.empty() && pair.front() == ' ')
      pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
        pair[name.size()] == '=')
      return std::string(pair.substr(name.size() + 1));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return "";
}

// "application/json; charset=utf-8" -> "application/json"
std::string MediaType(const std::string* header) {
  if (!header) return "";
  std::string type = header->substr(0, header->find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
    type.pop_back();
  for (char& c : type)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return type;
}

// Content-Length as a number; false when absent or not a plain number.
bool ContentLength(const Request& request, std::uint64_t* length) {
  const std::string* header = request.headers.Find("content-length");
  if (!header || header->empty() || header->size() > 19) return false;
  std::uint64_t value = 0;
  for (char c : *header) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *length = value;
  return true;
}

bool HasBody(const Request& request) {
  std::uint64_t length = 0;
  if (ContentLength(request, &length)) return length > 0;
  return request.headers.Find("transfer-encoding") != nullptr || !request.body.empty();
}

Response Throttled(int seconds) {
  return Refuse(Error::kThrottled,
                "too many failed sign-ins from this address; wait " + std::to_string(seconds) +
                    " seconds, then try again",
                {{"retryAfter", seconds}})
      .Header("Retry-After", std::to_string(seconds));
}

// A path's name segment as the device holds names: percent-decoded UTF-8,
// in Latin-1.
bool DecodeName(const std::string& segment, std::string* latin1) {
  std::string utf8;
  return PercentDecode(segment, &utf8) && front::Utf8ToLatin1(utf8, latin1);
}

}  // namespace

UpdateSlot& UpdateSlot::operator=(UpdateSlot&& other) noexcept {
  if (this != &other) {
    Release();
    busy_ = other.busy_;
    other.busy_ = nullptr;
  }
  return *this;
}

void UpdateSlot::Release() {
  if (busy_) busy_->store(false);
  busy_ = nullptr;
}

Service::Service(ServiceOptions options)
    : options_(options), sessions_(std::chrono::seconds(options.sessionIdleSeconds)) {}

Admission Service::Admit(const Request& request) {
  Admission admission;
  const std::string method = request.method == "HEAD" ? "GET" : request.method;
  std::string allow;
  for (const Route& route : kRoutes) {
    std::vector<std::string> names;
    if (!Matches(route.path, request.path, &names)) continue;
    if (route.method == method) {
      admission.route = &route;
      for (const std::string& segment : names) {
        admission.names.emplace_back();
        admission.namesReadable =
            DecodeName(segment, &admission.names.back()) && admission.namesReadable;
      }
      break;
    }
    allow += (allow.empty() ? "" : ", ") + std::string(route.method);
    if (std::string(route.method) == "GET") allow += ", HEAD";
  }
  // Every path outside /api/ is the web console's, answered from memory.
  if (!admission.route && method == "GET" && request.path.rfind("/api/", 0) != 0) {
    if (const nolva::console::Asset* asset = nolva::console::FindAsset(request.path)) {
      Response page{200, {}, std::string(asset->body)};
      page.Header("Content-Type", std::string(asset->contentType));
      admission.early = std::move(page);
      return admission;
    }
  }
  if (!admission.route) {
    admission.early =
        allow.empty() ? Refuse(Error::kNotFound, "there is no " + request.path +
                                                     "; the API's paths are listed at "
                                                     "/api/openapi.json")
                      : Refuse(Error::kMethodNotAllowed, request.method + " is not allowed on " +
                                                             request.path + "; use " + allow)
                            .Header("Allow", allow);
    return admission;
  }
  const Route& route = *admission.route;

  if (const std::string* origin = request.headers.Find("origin");
      origin && *origin != OwnOrigin(request)) {
    admission.early = Refuse(
        Error::kOrigin, "requests from " + *origin + " are refused; use the device's own page");
    return admission;
  }

  const std::string* authorization = request.headers.Find("authorization");
  const bool basic = authorization && authorization->compare(0, 6, "Basic ") == 0;
  const bool onSession =
      !basic && route.access != Access::kPublic && route.access != Access::kSignIn;
  if (route.access == Access::kSignIn || (basic && route.access != Access::kPublic) ||
      (onSession && route.sensitive)) {
    if (const int wait = throttle_.WaitSeconds(request.client)) {
      admission.early = Throttled(wait);
      return admission;
    }
  }

  if (auto refusal = CheckCredentials(request, &admission)) {
    admission.early = std::move(refusal);
    return admission;
  }
  if (auto refusal = CheckHeaders(request, &admission)) {
    admission.early = std::move(refusal);
    return admission;
  }
  if (route.body == Body::kImage) {
    bool idle = false;
    if (!updating_.compare_exchange_strong(idle, true)) {
      admission.early =
          Refuse(Error::kBusy, "a firmware update is running; try again when it has finished");
      return admission;
    }
    admission.update = UpdateSlot(&updating_);
  }
  return admission;
}

std::optional<Response> Service::CheckCredentials(const Request& request, Admission* admission) {
  const Route& route = *admission->route;
  Caller& caller = admission->caller;
  if (route.access == Access::kPublic || route.access == Access::kSignIn) return std::nullopt;

  const std::string* authorization = request.headers.Find("authorization");
  std::string token;
  bool cookie = false;
  if (authorization && authorization->compare(0, 6, "Basic ") == 0) {
    std::string decoded;
    std::string user;
    std::string password;
    const bool readable = DecodeBase64(authorization->substr(6), &decoded);
    const std::size_t colon = decoded.find(':');
    if (!readable || colon == std::string::npos ||
        !front::Utf8ToLatin1(std::string_view(decoded).substr(0, colon), &user) ||
        !front::Utf8ToLatin1(std::string_view(decoded).substr(colon + 1), &password)) {
      explicit_bzero(decoded.data(), decoded.size());
      return Refuse(Error::kBadRequest,
                    "the Basic credentials cannot be read: send base64 of UTF-8 name:password "
                    "with characters up to U+00FF");
    }
    explicit_bzero(decoded.data(), decoded.size());
    caller.basic = true;
    caller.user = user;
    caller.credentials.Set(user, password);
    explicit_bzero(password.data(), password.size());
    if (route.access == Access::kSession)
      return Refuse(Error::kAuthFailed, "this request concerns a session; sign in first");
    if (route.access == Access::kOwnPassword && admission->namesReadable &&
        admission->names[0] == user && user != nolva::kAdminName) {
      caller.deferred = true;
      return std::nullopt;
    }
    if (manager_.Login(caller.credentials.Name(), caller.credentials.Password()) !=
        nolva::STATUS_OK) {
      throttle_.Failed(request.client);
      return Refuse(Error::kAuthFailed, "wrong name or password; check them and try again",
                    nolva::STATUS_AUTH_FAILED);
    }
    throttle_.Succeeded(request.client);
    return std::nullopt;
  }
  if (authorization && authorization->compare(0, 7, "Bearer ") == 0) {
    token = authorization->substr(7);
  } else if (!authorization) {
    token = Cookie(request, "nolva_session");
    cookie = true;
  }
  if (token.empty())
    return Refuse(Error::kAuthFailed,
                  "credentials are needed: sign in at /api/session or send Basic credentials");
  std::optional<SessionView> session = sessions_.Use(token);
  if (!session) return Refuse(Error::kAuthFailed, "the session has ended; sign in again");
  caller.credentials = session->credentials;
  caller.user = session->user;
  caller.token = token;

  if (route.sensitive) {
    const std::string* header = request.headers.Find("x-confirm-password");
    std::string confirm;
    bool confirmed =
        header && PercentDecode(*header, &confirm) && front::Utf8ToLatin1(confirm, &confirm);
    if (confirmed) {
      const front::Credentials check(caller.user, confirm);
      confirmed = manager_.Login(check.Name(), check.Password()) == nolva::STATUS_OK;
    }
    explicit_bzero(confirm.data(), confirm.size());
    if (!confirmed) {
      throttle_.Failed(request.client);
      return Refuse(Error::kConfirmPassword,
                    "this change needs your password again in X-Confirm-Password");
    }
  }
  if (cookie && Changes(request.method)) {
    const std::string* csrf = request.headers.Find("x-csrf-token");
    if (!csrf || csrf->size() != session->csrf.size() ||
        !SameBytes(csrf->data(), session->csrf.data(), csrf->size()))
      return Refuse(Error::kCsrf, "the request lacks the session's X-CSRF-Token; reload the page");
  }
  return std::nullopt;
}

std::optional<Response> Service::CheckHeaders(const Request& request, Admission* admission) {
  const Route& route = *admission->route;
  const std::string type = MediaType(request.headers.Find("content-type"));
  std::uint64_t length = 0;
  const bool sized = ContentLength(request, &length);
  if (route.body == Body::kImage) {
    if (!sized) return Refuse(Error::kLengthRequired, "send the image with its Content-Length");
    if (length > static_cast<std::uint64_t>(options_.maxImage))
      return Refuse(Error::kTooLarge, "the image has " + std::to_string(length) +
                                          " bytes; the device takes at most " +
                                          std::to_string(options_.maxImage));
    if (type != "application/octet-stream")
      return Refuse(Error::kUnsupportedMediaType, "send the image as application/octet-stream");
    admission->bodyLimit = static_cast<std::size_t>(length);
    return std::nullopt;
  }
  if (sized && length > kMaxJsonBody) return TooLargeJson();
  const bool json = type == "application/json" ||
                    (request.method == "PATCH" && type == "application/merge-patch+json");
  if (HasBody(request) && !json)
    return Refuse(Error::kUnsupportedMediaType, "send the body as application/json");
  admission->bodyLimit = kMaxJsonBody;
  return std::nullopt;
}

Response Service::Finish(Admission& admission, const Request& request) {
  Response response;
  if (admission.early) {
    response = *admission.early;
  } else {
    Call call{request, admission, {}};
    response = Run(call);
  }
  // The answer is on its way: the next update may start.
  admission.update.Release();
  AddCommonHeaders(&response, request.tls);
  return response;
}

Response Service::Handle(const Request& request) {
  Admission admission = Admit(request);
  return Finish(admission, request);
}

}  // namespace nolvad
