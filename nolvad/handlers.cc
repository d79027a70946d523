// The handlers: each reads as its steps, one library operation or a few,
// and turns what they answer into JSON.
#include <string.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "nolvad/errors.h"
#include "nolvad/openapi_document.h"
#include "nolvad/records.h"
#include "nolvad/routes.h"
#include "nolvad/service_call.h"

namespace nolvad {
namespace {

using nlohmann::json;
using nolva::StatusCode;
namespace front = nolva::front;

constexpr std::int32_t kUsbTextUnits = 4096;
constexpr std::int32_t kUserListUnits = nolva::kMaxUsers * (nolva::kMaxNameLength + 1) + 1;

// What a name the device can hold is, and a password, for the messages.
const std::string kNameRule = "1 to " + std::to_string(nolva::kMaxNameLength) +
                              " characters up to U+00FF, without ':' or control characters";
const std::string kNewPasswordRule =
    "1 to " + std::to_string(nolva::kMaxPasswordLength) + " characters up to U+00FF";

Response Json(int status, const json& body) {
  Response response{status, {}, JsonText(body)};
  response.Header("Content-Type", "application/json");
  return response;
}

Response NoContent() {
  return Response{204, {}, ""};
}

std::string Text(const char16_t* units) {
  return front::Latin1ToUtf8(front::Narrow(units));
}

json Failure(const char* operation, StatusCode status) {
  const nolva::StatusInfo* info = nolva::FindStatus(status);
  return {{"operation", operation},
          {"status", info ? info->name : "STATUS_UNKNOWN"},
          {"code", CodeText(status)}};
}

// {"port": 1, "product": "Flash Disk"} for each line "PORT 1:  Flash Disk\n".
json PortsJson(const std::string& text) {
  json ports = json::array();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(':');
    if (line.compare(0, 5, "PORT ") != 0 || colon == std::string::npos) continue;
    long port = std::strtol(line.c_str() + 5, nullptr, 10);
    std::string product = colon + 3 <= line.size() ? line.substr(colon + 3) : "";
    if (!product.empty() && product.back() == '\r') product.pop_back();
    ports.push_back({{"port", port}, {"product", front::Latin1ToUtf8(product)}});
  }
  return ports;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// "the primary service and OCP would both use port 23"
std::string Clash(const nolva::ServiceSettings& s, const nolva::OcpSettings& o) {
  struct Use {
    const char* what;
    bool enabled;
    std::int32_t port;
  };
  const Use uses[] = {{"the primary service", s.primaryEnabled != 0, s.primaryPort},
                      {"the secondary service", s.secondaryEnabled != 0, s.secondaryPort},
                      {"OCP", o.ocpEnabled != 0, o.ocpPort}};
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (uses[i].enabled && uses[j].enabled && uses[i].port == uses[j].port)
        return std::string(uses[i].what) + " and " + uses[j].what + " would both use port " +
               std::to_string(uses[i].port) + "; choose another port or disable one of them";
  return "the ports could not be checked against the other record; try again";
}

// What a refused settings write clashed with, read from the other record.
std::string ClashOf(nolva::DeviceManager& manager, const front::Credentials& who,
                    const nolva::ServiceSettings& next) {
  nolva::OcpSettings ocp{};
  if (manager.GetOcpSettings(who.Name(), who.Password(), &ocp) != nolva::STATUS_OK) ocp = {};
  return Clash(next, ocp);
}

std::string ClashOf(nolva::DeviceManager& manager, const front::Credentials& who,
                    const nolva::OcpSettings& next) {
  nolva::ServiceSettings service{};
  if (manager.GetServiceSettings(who.Name(), who.Password(), &service) != nolva::STATUS_OK)
    service = {};
  return Clash(service, next);
}

std::string ClashOf(nolva::DeviceManager&, const front::Credentials&,
                    const nolva::NetworkSettings&) {
  return "the network settings were refused";
}

template <typename Record>
Response RecordAnswer(const json& body, const Record& record) {
  return Json(200, body).Header("ETag", ETagOf(&record, sizeof record));
}

}  // namespace

Response Service::Run(Call& call) {
  const Route& route = *call.admission.route;
  const std::string& body = call.request.body;
  if (route.body == Body::kImage) {
    if (body.size() != call.admission.bodyLimit)
      return Refuse(Error::kBadRequest, "the image arrived incomplete; send it again");
  } else if (body.size() > kMaxJsonBody) {
    return TooLargeJson();
  } else if (route.body == Body::kJson || !body.empty()) {
    call.body = json::parse(body, nullptr, false);
    if (call.body.is_discarded() || !call.body.is_object())
      return Refuse(Error::kBadRequest, "the body must be one JSON object in UTF-8");
    if (route.body == Body::kNone && !call.body.empty())
      return Refuse(Error::kBadRequest, "this request takes no members in its body");
  }
  for (const std::string& name : call.admission.names)
    if (!call.admission.namesReadable || !front::IsValidName(name))
      return Refuse(Error::kBadRequest, "an account name has " + kNameRule);
  return (this->*route.handler)(call);
}

Response Service::Failed(Call& call, StatusCode status, const std::string& message) {
  const Caller& caller = call.admission.caller;
  if (status == nolva::STATUS_AUTH_FAILED) {
    if (!caller.token.empty()) {
      sessions_.End(caller.token);
      return Refuse(Error::kAuthFailed, "the session's credentials no longer hold; sign in again",
                    status);
    }
    if (caller.basic) throttle_.Failed(call.request.client);
    return Refuse(Error::kAuthFailed, "wrong name or password; check them and try again", status);
  }
  if (status == nolva::STATUS_REFUSED) return Refuse(Error::kPortConflict, message, status);
  return Refuse(Error::kOperationFailed, message, status);
}

Response Service::Health(Call&) {
  return Json(200, {{"status", "ok"}});
}

Response Service::OpenApi(Call&) {
  Response response{200, {}, std::string(kOpenApiDocument)};
  response.Header("Content-Type", "application/json");
  return response;
}

Response Service::OpenSession(Call& call) {
  const json& body = call.body;
  const std::string problem =
      "send {\"user\": NAME, \"password\": PASSWORD} with characters up "
      "to U+00FF";
  for (const auto& member : body.items())
    if (member.key() != "user" && member.key() != "password")
      return Refuse(Error::kBadRequest, "unknown member '" + member.key() + "'; " + problem);
  const auto user = body.find("user");
  const auto password = body.find("password");
  std::string name;
  std::string secret;
  if (user == body.end() || password == body.end() || !user->is_string() ||
      !password->is_string() || !front::Utf8ToLatin1(user->get<std::string>(), &name) ||
      !front::Utf8ToLatin1(password->get<std::string>(), &secret) || !front::IsValidName(name) ||
      !front::IsValidPassword(secret)) {
    explicit_bzero(secret.data(), secret.size());
    return Refuse(Error::kBadRequest, problem);
  }
  const front::Credentials credentials(name, secret);
  if (manager_.Login(credentials.Name(), credentials.Password()) != nolva::STATUS_OK) {
    explicit_bzero(secret.data(), secret.size());
    throttle_.Failed(call.request.client);
    return Refuse(Error::kAuthFailed, "wrong name or password; check them and try again",
                  nolva::STATUS_AUTH_FAILED);
  }
  throttle_.Succeeded(call.request.client);
  const SessionTokens tokens = sessions_.Open(name, secret);
  explicit_bzero(secret.data(), secret.size());
  std::string cookie = "nolva_session=" + tokens.token + "; Path=/; HttpOnly; SameSite=Strict";
  if (call.request.tls) cookie += "; Secure";
  return Json(201, {{"token", tokens.token},
                    {"csrfToken", tokens.csrf},
                    {"user", front::Latin1ToUtf8(name)},
                    {"idleSeconds", options_.sessionIdleSeconds}})
      .Header("Set-Cookie", cookie);
}

Response Service::ShowSession(Call& call) {
  return Json(200, {{"user", front::Latin1ToUtf8(call.admission.caller.user)},
                    {"idleSeconds", options_.sessionIdleSeconds}});
}

Response Service::CloseSession(Call& call) {
  sessions_.End(call.admission.caller.token);
  return NoContent().Header("Set-Cookie",
                            "nolva_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
}

Response Service::CloseAllSessions(Call&) {
  sessions_.EndAll();
  return NoContent().Header("Set-Cookie",
                            "nolva_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
}

Response Service::Device(Call& call) {
  json device = {{"mac", nullptr}, {"firmware", nullptr}, {"usbPorts", nullptr}};
  json failures = json::array();
  char16_t mac[nolva::kMacTextUnits] = {};
  StatusCode status = manager_.GetMacAddress(call.who().Name(), call.who().Password(), mac);
  if (status == nolva::STATUS_AUTH_FAILED) return Failed(call, status, "");
  if (status == nolva::STATUS_OK)
    device["mac"] = Text(mac);
  else
    failures.push_back(Failure("GetMacAddress", status));

  char16_t os[nolva::kVersionTextUnits] = {};
  char16_t fs[nolva::kVersionTextUnits] = {};
  status = manager_.GetFirmwareVersions(call.who().Name(), call.who().Password(), os, fs);
  if (status == nolva::STATUS_AUTH_FAILED) return Failed(call, status, "");
  if (status == nolva::STATUS_OK)
    device["firmware"] = {{"os", Text(os)}, {"fs", Text(fs)}};
  else
    failures.push_back(Failure("GetFirmwareVersions", status));

  std::u16string ports(kUsbTextUnits, u'\0');
  status = manager_.GetUsbPorts(call.who().Name(), call.who().Password(), &ports[0], kUsbTextUnits);
  if (status == nolva::STATUS_AUTH_FAILED) return Failed(call, status, "");
  if (status == nolva::STATUS_OK)
    device["usbPorts"] = PortsJson(front::Narrow(ports.c_str()));
  else
    failures.push_back(Failure("GetUsbPorts", status));
  device["failures"] = failures;
  return Json(200, device);
}

Response Service::Mac(Call& call) {
  char16_t mac[nolva::kMacTextUnits] = {};
  const StatusCode status = manager_.GetMacAddress(call.who().Name(), call.who().Password(), mac);
  if (status != nolva::STATUS_OK) return Failed(call, status, "the MAC address cannot be read");
  return Json(200, {{"mac", Text(mac)}});
}

Response Service::Firmware(Call& call) {
  char16_t os[nolva::kVersionTextUnits] = {};
  char16_t fs[nolva::kVersionTextUnits] = {};
  const StatusCode status =
      manager_.GetFirmwareVersions(call.who().Name(), call.who().Password(), os, fs);
  if (status != nolva::STATUS_OK)
    return Failed(call, status, "a flash partition cannot be read; check the device");
  return Json(200, {{"os", Text(os)}, {"fs", Text(fs)}});
}

Response Service::Usb(Call& call) {
  std::u16string ports(kUsbTextUnits, u'\0');
  const StatusCode status =
      manager_.GetUsbPorts(call.who().Name(), call.who().Password(), &ports[0], kUsbTextUnits);
  if (status != nolva::STATUS_OK)
    return Failed(call, status, "the USB device list cannot be read; check the device");
  return Json(200, {{"ports", PortsJson(front::Narrow(ports.c_str()))}});
}

Response Service::UpdateFirmware(Call& call) {
  const auto* image = reinterpret_cast<const std::uint8_t*>(call.request.body.data());
  const std::size_t length = call.request.body.size();
  const nolva::FirmwareRoute* route =
      nolva::FirmwareRouteOf(image, static_cast<std::int64_t>(length));
  if (!route)
    return Refuse(Error::kUnknownImage,
                  "the image is shorter than 64 bytes or its bytes 32-39 are neither nolva-os "
                  "nor nolva-fs; choose a firmware image for this device");
  const std::string name = front::ImageName(image, length);
  const bool os = std::string(route->name) == "os";
  char16_t osText[nolva::kVersionTextUnits] = {};
  char16_t fsText[nolva::kVersionTextUnits] = {};
  manager_.GetFirmwareVersions(call.who().Name(), call.who().Password(), osText, fsText);
  const std::string before = front::Narrow(os ? osText : fsText);

  const StatusCode status = manager_.UpdateFirmware(call.who().Name(), call.who().Password(), image,
                                                    static_cast<std::int32_t>(length));
  const StatusCode read =
      manager_.GetFirmwareVersions(call.who().Name(), call.who().Password(), osText, fsText);
  if (status != nolva::STATUS_OK) {
    const std::string after = read == nolva::STATUS_OK ? front::Narrow(os ? osText : fsText) : "";
    const std::string where = std::string("the ") + route->label + " partition";
    std::string message;
    switch (front::DiagnoseFailedUpdate(name, before, after)) {
      case front::UpdateDamage::kOldImageKept:
        message = "writing the image failed; nothing was erased: " + where +
                  " still holds its old image " + front::Latin1ToUtf8(after);
        break;
      case front::UpdateDamage::kErased:
        message = "writing the image failed; " + where +
                  " is erased and holds no valid image now; update again";
        break;
      case front::UpdateDamage::kUnknown:
        message = "writing the image failed; " + where +
                  " may hold no valid image now; check the versions and update again";
        break;
    }
    return Failed(call, status, message);
  }
  return Json(200, {{"partition", route->name}, {"os", Text(osText)}, {"fs", Text(fsText)}});
}

Response Service::Reboot(Call& call) {
  const StatusCode status = manager_.Reboot(call.who().Name(), call.who().Password());
  if (status != nolva::STATUS_OK) return Failed(call, status, "the reboot could not be scheduled");
  return Json(202, {{"rebootInSeconds", nolva::kRebootDelaySeconds}});
}

Response Service::FactoryReset(Call& call) {
  const StatusCode status = manager_.FactoryReset(call.who().Name(), call.who().Password());
  if (status != nolva::STATUS_OK) return Failed(call, status, "the factory reset failed");
  sessions_.EndAll();
  return Json(202, {{"rebootInSeconds", nolva::kRebootDelaySeconds}});
}

std::optional<Response> Service::ListNames(Call& call, std::vector<std::string>* names) {
  std::u16string list(static_cast<std::size_t>(kUserListUnits), u'\0');
  const StatusCode status =
      manager_.ListUsers(call.who().Name(), call.who().Password(), &list[0], kUserListUnits);
  if (status != nolva::STATUS_OK)
    return Failed(call, status, "the account list cannot be read; check the device");
  *names = Lines(front::Narrow(list.c_str()));
  return std::nullopt;
}

std::optional<Response> Service::RequireListed(Call& call) {
  std::vector<std::string> names;
  if (auto failed = ListNames(call, &names)) return failed;
  if (std::find(names.begin(), names.end(), call.name()) != names.end()) return std::nullopt;
  return Refuse(Error::kNoSuchUser, "there is no account named " +
                                        front::Latin1ToUtf8(call.name()) +
                                        "; GET /api/users lists them");
}

Response Service::ListUsers(Call& call) {
  std::vector<std::string> names;
  if (auto failed = ListNames(call, &names)) return *failed;
  json users = json::array();
  for (const std::string& name : names)
    users.push_back(front::Latin1ToUtf8(name));
  return Json(200, {{"users", users}});
}

// {"name": …, "password": …} or {"password": …}: Latin-1 texts the device
// can hold; "" or what is wrong.
static std::string AccountBody(const json& body, bool withName, std::string* name,
                               std::string* password) {
  for (const auto& member : body.items())
    if (member.key() != "password" && (!withName || member.key() != "name"))
      return "unknown member '" + member.key() + "'";
  if (withName) {
    const auto value = body.find("name");
    if (value == body.end() || !value->is_string() ||
        !front::Utf8ToLatin1(value->get<std::string>(), name) || !front::IsValidName(*name))
      return "'name' must have " + kNameRule;
  }
  const auto value = body.find("password");
  if (value == body.end() || !value->is_string() ||
      !front::Utf8ToLatin1(value->get<std::string>(), password) ||
      !front::IsValidNewPassword(*password))
    return "'password' must have " + kNewPasswordRule;
  return "";
}

Response Service::AddUser(Call& call) {
  std::string name;
  std::string password;
  const std::string problem = AccountBody(call.body, true, &name, &password);
  const front::Credentials account(name, password);
  explicit_bzero(password.data(), password.size());
  if (!problem.empty()) return Refuse(Error::kBadRequest, problem);

  std::vector<std::string> names;
  if (auto failed = ListNames(call, &names)) return *failed;
  if (std::find(names.begin(), names.end(), name) != names.end())
    return Refuse(Error::kUserExists, "an account named " + front::Latin1ToUtf8(name) +
                                          " exists already; choose another name");
  if (names.size() >= static_cast<std::size_t>(nolva::kMaxUsers))
    return Refuse(Error::kUserTableFull, "the device holds " + std::to_string(nolva::kMaxUsers) +
                                             " accounts already; delete one first");
  const StatusCode status = manager_.AddUser(call.who().Name(), call.who().Password(),
                                             account.Name(), account.Password());
  if (status != nolva::STATUS_OK) return Failed(call, status, "the account could not be added");
  return Json(201, {{"name", front::Latin1ToUtf8(name)}})
      .Header("Location", "/api/users/" + PercentEncode(front::Latin1ToUtf8(name)));
}

Response Service::DeleteUser(Call& call) {
  std::string force;
  if (call.name() == nolva::kAdminName &&
      !(QueryValue(call.request.query, "force", &force) && force == "true"))
    return Refuse(Error::kAdminNeedsForce,
                  "deleting admin leaves the device without its administrator until a factory "
                  "reset; add ?force=true if you mean it");
  if (auto refused = RequireListed(call)) return *refused;
  const std::u16string account = front::Wide(call.name());
  const StatusCode status =
      manager_.DeleteUser(call.who().Name(), call.who().Password(), account.c_str());
  if (status != nolva::STATUS_OK) return Failed(call, status, "the account could not be deleted");
  return NoContent();
}

Response Service::ChangePassword(Call& call) {
  std::string unused;
  std::string password;
  const std::string problem = AccountBody(call.body, false, &unused, &password);
  const front::Credentials account(call.name(), password);
  explicit_bzero(password.data(), password.size());
  if (!problem.empty()) return Refuse(Error::kBadRequest, problem);

  const Caller& caller = call.admission.caller;
  // An account's own credentials cannot list the accounts.
  if (!caller.deferred) {
    if (auto refused = RequireListed(call)) return *refused;
  }
  const StatusCode status = manager_.ChangePassword(call.who().Name(), call.who().Password(),
                                                    account.Name(), account.Password());
  if (status != nolva::STATUS_OK) return Failed(call, status, "the password could not be changed");
  if (caller.deferred) throttle_.Succeeded(call.request.client);
  if (!caller.token.empty() && caller.user == call.name()) {
    const std::string changed = front::Narrow(account.Password());
    sessions_.ChangePassword(caller.token, changed);
  }
  return NoContent();
}

// The operations of one settings record, for the handlers that share them.
template <typename Record>
struct RecordCodec {
  StatusCode (nolva::DeviceManager::*get)(const char16_t*, const char16_t*, Record*);
  StatusCode (nolva::DeviceManager::*set)(const char16_t*, const char16_t*, const Record*);
  json (*toJson)(const Record&);
  std::string (*apply)(const json&, bool, Record*);
  const char* what;
};

const RecordCodec<nolva::NetworkSettings> kNetworkCodec = {
    &nolva::DeviceManager::GetNetworkSettings, &nolva::DeviceManager::SetNetworkSettings,
    NetworkJson, ApplyNetwork, "network settings"};
const RecordCodec<nolva::ServiceSettings> kServiceCodec = {
    &nolva::DeviceManager::GetServiceSettings, &nolva::DeviceManager::SetServiceSettings,
    ServiceJson, ApplyService, "service settings"};
const RecordCodec<nolva::OcpSettings> kOcpCodec = {&nolva::DeviceManager::GetOcpSettings,
                                                   &nolva::DeviceManager::SetOcpSettings, OcpJson,
                                                   ApplyOcp, "OCP settings"};

template <typename Record, typename Codec>
std::optional<Response> Service::LoadRecord(Call& call, const Codec& codec, Record* record) {
  const StatusCode status = (manager_.*codec.get)(call.who().Name(), call.who().Password(), record);
  if (status == nolva::STATUS_OK) return std::nullopt;
  return Failed(call, status,
                std::string("the ") + codec.what + " cannot be read; check the device");
}

template <typename Record, typename Codec>
Response Service::ReadRecord(Call& call, const Codec& codec) {
  Record record{};
  if (auto failed = LoadRecord(call, codec, &record)) return *failed;
  return RecordAnswer(codec.toJson(record), record);
}

Response Service::GetNetwork(Call& call) {
  return ReadRecord<nolva::NetworkSettings>(call, kNetworkCodec);
}

Response Service::GetService(Call& call) {
  return ReadRecord<nolva::ServiceSettings>(call, kServiceCodec);
}

Response Service::GetOcp(Call& call) {
  return ReadRecord<nolva::OcpSettings>(call, kOcpCodec);
}

template <typename Record, typename Codec>
Response Service::WriteRecord(Call& call, const Codec& codec) {
  std::lock_guard<std::mutex> lock(writing_);
  const bool patch = call.request.method == "PATCH";
  const std::string* ifMatch = call.request.headers.Find("if-match");
  Record stored{};
  if (patch || ifMatch) {
    if (auto failed = LoadRecord(call, codec, &stored)) return *failed;
  }
  Record next = stored;
  const std::string problem = codec.apply(call.body, !patch, &next);
  if (!problem.empty()) return Refuse(Error::kBadRequest, problem);
  if (ifMatch && !IfMatchNames(*ifMatch, ETagOf(&stored, sizeof stored)))
    return Refuse(Error::kPreconditionFailed,
                  std::string("the ") + codec.what +
                      " were changed meanwhile; read them again and redo the change");
  const StatusCode status = (manager_.*codec.set)(call.who().Name(), call.who().Password(), &next);
  if (status == nolva::STATUS_REFUSED)
    return Failed(call, status, ClashOf(manager_, call.who(), next));
  if (status != nolva::STATUS_OK)
    return Failed(call, status, std::string("storing the ") + codec.what + " failed");
  return RecordAnswer(codec.toJson(next), next);
}

Response Service::PutNetwork(Call& call) {
  return WriteRecord<nolva::NetworkSettings>(call, kNetworkCodec);
}

Response Service::PutService(Call& call) {
  return WriteRecord<nolva::ServiceSettings>(call, kServiceCodec);
}

Response Service::PutOcp(Call& call) {
  return WriteRecord<nolva::OcpSettings>(call, kOcpCodec);
}

}  // namespace nolvad
