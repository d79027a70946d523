// What every front end of the device needs beyond the library itself: value
// checks, the texts' byte conventions, the record field tables, firmware
// image inspection and the diagnosis of a failed update. nolvactl and nolvad
// both link it, so a rule a front end applies is written once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/device_manager.h"

namespace nolva::front {

// --- values ---------------------------------------------------------------
bool ParseAddress(std::string_view text, std::uint8_t out[4]);  // dotted quad
bool ParseNetmask(std::string_view text, std::uint8_t out[4]);  // contiguous ones
bool IsContiguousNetmask(const std::uint8_t mask[4]);
bool ParsePort(std::string_view text, std::int32_t* out);    // 1 to 65535
bool ParseNumber(std::string_view text, std::int32_t* out);  // any 32-bit word
bool ParseSwitch(std::string_view text, std::int32_t* out);  // on/off
std::string AddressText(const std::uint8_t address[4]);
// A port word's allowed range: 1-65535 while its service is enabled, 0-65535
// while it is disabled.
bool PortAllowed(std::int64_t port, bool enabled);

// --- names and passwords --------------------------------------------------
// UTF-8 to Latin-1 bytes: false for malformed UTF-8, U+0000 or a character
// above U+00FF (the device would read it as another one).
bool Utf8ToLatin1(std::string_view utf8, std::string* latin1);
std::string Latin1ToUtf8(std::string_view latin1);
// 1 to kMaxNameLength bytes, no ':' and no control character.
bool IsValidName(std::string_view latin1);
// 0 to kMaxPasswordLength bytes; a new password needs at least one.
bool IsValidPassword(std::string_view latin1);
bool IsValidNewPassword(std::string_view latin1);

// --- wide text ------------------------------------------------------------
// Each byte widened to one unit, so the device narrows back the very bytes.
std::u16string Wide(std::string_view bytes);
std::string Narrow(const char16_t* units);

// A name and its password as the operations take them; the password is wiped
// whenever it is replaced and when the object goes.
class Credentials {
 public:
  Credentials() = default;
  Credentials(std::string_view name, std::string_view password) { Set(name, password); }
  Credentials(const Credentials& other) { *this = other; }
  Credentials& operator=(const Credentials& other);
  ~Credentials();
  void Set(std::string_view name, std::string_view password);
  void Wipe();
  const char16_t* Name() const { return name_.c_str(); }
  const char16_t* Password() const { return password_.c_str(); }

 private:
  std::u16string name_;
  std::u16string password_;
};

// --- records --------------------------------------------------------------
template <typename Record>
struct RecordField {
  const char* name;  // the record's field name: "primaryPort"
  std::int32_t Record::*member;
  // For a port: its service's enabled word; nullptr for other words.
  std::int32_t Record::*enabledBy;
};
extern const RecordField<ServiceSettings> kServiceFields[11];
extern const RecordField<OcpSettings> kOcpFields[7];

// --- firmware images ------------------------------------------------------
// Bytes 32-63 up to the first NUL ("" for an image too short to hold them).
std::string ImageName(const std::uint8_t* image, std::size_t length);
// A version text read from an erased partition: 0xFF bytes only.
bool IsErased(std::string_view versionText);
// What a failed update left in its partition, from the version text read
// before and after it and the new image's own name.
enum class UpdateDamage { kOldImageKept, kErased, kUnknown };
UpdateDamage DiagnoseFailedUpdate(std::string_view newName, std::string_view before,
                                  std::string_view after);

}  // namespace nolva::front
