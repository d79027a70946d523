#include "nolvad/records.h"

#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <limits>

#include "front/front.h"

namespace nolvad {
namespace {

using nlohmann::json;
namespace front = nolva::front;

template <typename Record, std::size_t N>
json WordsJson(const front::RecordField<Record> (&fields)[N], const Record& record) {
  json object = json::object();
  for (const auto& field : fields)
    object[field.name] = record.*field.member;
  return object;
}

// The members of `object` are known fields, and all of them when `whole`.
template <typename Field, std::size_t N>
std::string CheckMembers(const json& object, bool whole, const Field (&fields)[N]) {
  if (!object.is_object()) return "the body must be a JSON object";
  for (const auto& member : object.items()) {
    bool known = false;
    for (const auto& field : fields)
      known = known || member.key() == field.name;
    if (!known) return "unknown member '" + member.key() + "'";
  }
  if (whole) {
    for (const auto& field : fields)
      if (!object.contains(field.name)) return std::string("missing member '") + field.name + "'";
  }
  return "";
}

bool Word(const json& value, std::int32_t* word) {
  if (!value.is_number_integer()) return false;
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return false;
    *word = static_cast<std::int32_t>(number);
    return true;
  }
  const auto number = value.get<std::int64_t>();
  if (number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max())
    return false;
  *word = static_cast<std::int32_t>(number);
  return true;
}

template <typename Record, std::size_t N>
std::string ApplyWords(const json& object, bool whole,
                       const front::RecordField<Record> (&fields)[N], Record* record) {
  const std::string problem = CheckMembers(object, whole, fields);
  if (!problem.empty()) return problem;
  for (const auto& field : fields) {
    const auto member = object.find(field.name);
    if (member == object.end()) continue;
    if (!Word(*member, &(record->*field.member)))
      return std::string("'") + field.name + "' must be an integer from -2147483648 to 2147483647";
  }
  for (const auto& field : fields) {
    if (!field.enabledBy) continue;
    const bool enabled = record->*field.enabledBy != 0;
    if (!front::PortAllowed(record->*field.member, enabled))
      return std::string("'") + field.name + "' must be a port from " + (enabled ? "1" : "0") +
             " to 65535" + (enabled ? " while its service is enabled" : "");
  }
  return "";
}

struct AddressField {
  const char* name;
  std::uint8_t (nolva::NetworkSettings::*member)[4];
};

constexpr AddressField kAddressFields[] = {
    {"address", &nolva::NetworkSettings::address},
    {"netmask", &nolva::NetworkSettings::netmask},
    {"gateway", &nolva::NetworkSettings::gateway},
};

struct NetworkField {
  const char* name;
};
constexpr NetworkField kNetworkFields[] = {{"dhcp"}, {"address"}, {"netmask"}, {"gateway"}};

}  // namespace

json NetworkJson(const nolva::NetworkSettings& record) {
  json object = {{"dhcp", record.dhcp != 0}};
  for (const AddressField& field : kAddressFields)
    object[field.name] = front::AddressText(record.*field.member);
  return object;
}

json ServiceJson(const nolva::ServiceSettings& record) {
  return WordsJson(front::kServiceFields, record);
}

json OcpJson(const nolva::OcpSettings& record) {
  return WordsJson(front::kOcpFields, record);
}

std::string ApplyNetwork(const json& object, bool whole, nolva::NetworkSettings* record) {
  const std::string problem = CheckMembers(object, whole, kNetworkFields);
  if (!problem.empty()) return problem;
  if (const auto dhcp = object.find("dhcp"); dhcp != object.end()) {
    if (!dhcp->is_boolean()) return "'dhcp' must be true or false";
    record->dhcp = dhcp->get<bool>() ? 1 : 0;
  }
  for (const AddressField& field : kAddressFields) {
    const auto member = object.find(field.name);
    if (member == object.end()) continue;
    std::uint8_t address[4];
    if (!member->is_string() || !front::ParseAddress(member->get<std::string>(), address))
      return std::string("'") + field.name + "' must be a dotted quad such as 192.168.0.1";
    for (int i = 0; i < 4; ++i)
      (record->*field.member)[i] = address[i];
  }
  if (!front::IsContiguousNetmask(record->netmask))
    return "'netmask' must have its ones contiguous, such as 255.255.255.0";
  return "";
}

std::string ApplyService(const json& object, bool whole, nolva::ServiceSettings* record) {
  return ApplyWords(object, whole, front::kServiceFields, record);
}

std::string ApplyOcp(const json& object, bool whole, nolva::OcpSettings* record) {
  return ApplyWords(object, whole, front::kOcpFields, record);
}

std::string ETagOf(const void* bytes, std::size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // Fetched once: looking the digest up by name costs more than using it.
  static EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  EVP_Digest(bytes, size, digest, &length, kSha256, nullptr);
  char text[2 * 16 + 3] = "\"";
  for (int i = 0; i < 16; ++i)
    std::snprintf(text + 1 + 2 * i, 3, "%02x", digest[i]);
  text[33] = '"';
  return std::string(text, 34);
}

bool IfMatchNames(const std::string& ifMatch, const std::string& etag) {
  std::size_t start = 0;
  while (start <= ifMatch.size()) {
    std::size_t end = ifMatch.find(',', start);
    if (end == std::string::npos) end = ifMatch.size();
    std::size_t first = ifMatch.find_first_not_of(" \t", start);
    std::size_t last = ifMatch.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
    if (first != std::string::npos && first < end && last != std::string::npos && last >= first) {
      const std::string tag = ifMatch.substr(first, last - first + 1);
      if (tag == "*" || tag == etag) return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace nolvad
