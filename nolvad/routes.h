// The service's whole surface: one row per path and method.
#pragma once

#include <cstddef>

#include "nolvad/service.h"

namespace nolvad {

// Who may call a route.
enum class Access {
  kPublic,       // anyone, no credentials
  kSignIn,       // anyone; the body's credentials count for throttling
  kSession,      // a session only (Bearer or cookie)
  kAdmin,        // what the library's gate admits
  kOwnPassword,  // also an account's own Basic credentials, judged by the operation
};

enum class Body { kNone, kJson, kImage };

struct Route {
  const char* method;
  const char* path;  // "{name}" stands for one percent-encoded segment
  Response (Service::*handler)(Service::Call&);
  Access access;
  Body body;
  bool sensitive;  // on a session it also needs X-Confirm-Password
};

struct RouteTable {
  const Route* begin() const;
  const Route* end() const;
};
inline constexpr RouteTable kRoutes{};

// The path's pattern matches `path`; its {name} segments go to `names`.
bool Matches(const char* pattern, const std::string& path, std::vector<std::string>* names);

}  // namespace nolvad
