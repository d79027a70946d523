// The three settings records as JSON objects, one member per field, and back.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "store/device_manager.h"

namespace nolvad {

nlohmann::json NetworkJson(const nolva::NetworkSettings& record);
nlohmann::json ServiceJson(const nolva::ServiceSettings& record);
nlohmann::json OcpJson(const nolva::OcpSettings& record);

// Applies the members of `object` to `record`: every member when `whole`,
// else those named. "" when the result is a record the device may store,
// else what is wrong; `record` may then be half changed.
std::string ApplyNetwork(const nlohmann::json& object, bool whole, nolva::NetworkSettings* record);
std::string ApplyService(const nlohmann::json& object, bool whole, nolva::ServiceSettings* record);
std::string ApplyOcp(const nlohmann::json& object, bool whole, nolva::OcpSettings* record);

// "\"…\"": a digest of a record's bytes as stored.
std::string ETagOf(const void* bytes, std::size_t size);
// An If-Match value names `etag` ("*", or one of a list of strong tags).
bool IfMatchNames(const std::string& ifMatch, const std::string& etag);

}  // namespace nolvad
