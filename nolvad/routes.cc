#include "nolvad/routes.h"

#include <iterator>

namespace nolvad {
namespace {

using S = Service;

// Each row's argument policy sits beside its handler.
constexpr Route kTable[] = {
    {"GET", "/api/health", &S::Health, Access::kPublic, Body::kNone, false},
    {"GET", "/api/openapi.json", &S::OpenApi, Access::kPublic, Body::kNone, false},
    {"POST", "/api/session", &S::OpenSession, Access::kSignIn, Body::kJson, false},
    {"GET", "/api/session", &S::ShowSession, Access::kSession, Body::kNone, false},
    {"DELETE", "/api/session", &S::CloseSession, Access::kSession, Body::kNone, false},
    {"DELETE", "/api/sessions", &S::CloseAllSessions, Access::kAdmin, Body::kNone, false},
    {"GET", "/api/device", &S::Device, Access::kAdmin, Body::kNone, false},
    {"GET", "/api/device/mac", &S::Mac, Access::kAdmin, Body::kNone, false},
    {"GET", "/api/device/firmware", &S::Firmware, Access::kAdmin, Body::kNone, false},
    {"GET", "/api/device/usb", &S::Usb, Access::kAdmin, Body::kNone, false},
    {"PUT", "/api/firmware", &S::UpdateFirmware, Access::kAdmin, Body::kImage, true},
    {"POST", "/api/reboot", &S::Reboot, Access::kAdmin, Body::kNone, false},
    {"POST", "/api/factory-reset", &S::FactoryReset, Access::kAdmin, Body::kNone, true},
    {"GET", "/api/users", &S::ListUsers, Access::kAdmin, Body::kNone, false},
    {"POST", "/api/users", &S::AddUser, Access::kAdmin, Body::kJson, false},
    {"DELETE", "/api/users/{name}", &S::DeleteUser, Access::kAdmin, Body::kNone, false},
    {"PUT", "/api/users/{name}/password", &S::ChangePassword, Access::kOwnPassword, Body::kJson,
     true},
    {"GET", "/api/network", &S::GetNetwork, Access::kAdmin, Body::kNone, false},
    {"PUT", "/api/network", &S::PutNetwork, Access::kAdmin, Body::kJson, false},
    {"PATCH", "/api/network", &S::PutNetwork, Access::kAdmin, Body::kJson, false},
    {"GET", "/api/service", &S::GetService, Access::kAdmin, Body::kNone, false},
    {"PUT", "/api/service", &S::PutService, Access::kAdmin, Body::kJson, false},
    {"PATCH", "/api/service", &S::PutService, Access::kAdmin, Body::kJson, false},
    {"GET", "/api/ocp", &S::GetOcp, Access::kAdmin, Body::kNone, false},
    {"PUT", "/api/ocp", &S::PutOcp, Access::kAdmin, Body::kJson, false},
    {"PATCH", "/api/ocp", &S::PutOcp, Access::kAdmin, Body::kJson, false},
};

}  // namespace

const Route* RouteTable::begin() const {
  return std::begin(kTable);
}

const Route* RouteTable::end() const {
  return std::end(kTable);
}

bool Matches(const char* pattern, const std::string& path, std::vector<std::string>* names) {
  std::vector<std::string> found;
  std::string_view want(pattern);
  std::string_view have(path);
  while (!want.empty()) {
    const std::size_t brace = want.find('{');
    if (brace == std::string_view::npos) break;
    if (have.substr(0, brace) != want.substr(0, brace)) return false;
    have.remove_prefix(brace);
    want.remove_prefix(want.find('}') + 1);
    const std::size_t slash = have.find('/');
    found.emplace_back(have.substr(0, slash));
    have.remove_prefix(slash == std::string_view::npos ? have.size() : slash);
  }
  if (have != want) return false;
  *names = std::move(found);
  return true;
}

}  // namespace nolvad
