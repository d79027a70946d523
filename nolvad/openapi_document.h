// The service's OpenAPI document, compiled in from nolvad/openapi.json.
#pragma once

#include <string_view>

namespace nolvad {

extern const std::string_view kOpenApiDocument;

}  // namespace nolvad
