// One admitted request as its handler sees it.
#pragma once

#include <nlohmann/json.hpp>

#include "nolvad/service.h"

namespace nolvad {

struct Service::Call {
  const Request& request;
  Admission& admission;
  nlohmann::json body;  // the parsed JSON body; null when there is none

  const nolva::front::Credentials& who() const { return admission.caller.credentials; }
  // The first {name} of the path, checked and in Latin-1.
  const std::string& name() const { return admission.names[0]; }
};

}  // namespace nolvad
