// The front ends' shared rules: values, names and passwords, firmware image
// routes and the diagnosis of a failed update.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "front/front.h"

namespace nolva::front {
namespace {

TEST(FrontValues, AddressesAndNetmasks) {
  const struct {
    const char* name;
    const char* text;
    bool address;  // a dotted quad
    bool netmask;  // and its ones contiguous
  } cases[] = {
      {"host", "192.168.0.223", true, false},      {"class C mask", "255.255.255.0", true, true},
      {"odd mask", "255.255.254.0", true, true},   {"hole in mask", "255.0.255.0", true, false},
      {"no ones", "0.0.0.0", true, true},          {"all ones", "255.255.255.255", true, true},
      {"octet 256", "10.0.0.256", false, false},   {"three octets", "10.0.0", false, false},
      {"five octets", "10.0.0.1.2", false, false}, {"empty octet", "10..0.1", false, false},
      {"sign", "+10.0.0.1", false, false},         {"blank", "10.0.0.1 ", false, false},
      {"four digits", "0010.0.0.1", false, false},
  };
  for (const auto& c : cases) {
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(ParseAddress(c.text, bytes), c.address) << c.name;
    if (c.address) {
      EXPECT_EQ(AddressText(bytes), c.text) << c.name;
    }
    EXPECT_EQ(ParseNetmask(c.text, bytes), c.netmask) << c.name;
  }
}

TEST(FrontValues, Ports) {
  const struct {
    const char* name;
    std::int64_t port;
    bool enabled;
    bool allowed;
  } ports[] = {
      {"enabled 0", 0, true, false},
      {"disabled 0", 0, false, true},
      {"enabled 1", 1, true, true},
      {"highest", 65535, true, true},
      {"past the highest", 65536, false, false},
      {"negative", -1, false, false},
  };
  for (const auto& c : ports)
    EXPECT_EQ(PortAllowed(c.port, c.enabled), c.allowed) << c.name;
}

TEST(FrontValues, PortsAndNumbersAsText) {
  const struct {
    const char* name;
    const char* text;
    bool port;
    bool number;
    std::int32_t value;
  } words[] = {
      {"port", "9100", true, true, 9100},
      {"zero", "0", false, true, 0},
      {"65536", "65536", false, true, 65536},
      {"lowest word", "-2147483648", false, true, INT32_MIN},
      {"past the lowest", "-2147483649", false, false, 0},
      {"highest word", "2147483647", false, true, INT32_MAX},
      {"past the highest", "2147483648", false, false, 0},
      {"hex", "0x10", false, false, 0},
      {"empty", "", false, false, 0},
      {"minus alone", "-", false, false, 0},
  };
  for (const auto& c : words) {
    std::int32_t value = 0;
    EXPECT_EQ(ParsePort(c.text, &value), c.port) << c.name;
    EXPECT_EQ(ParseNumber(c.text, &value), c.number) << c.name;
    if (c.number) {
      EXPECT_EQ(value, c.value) << c.name;
    }
  }
}

TEST(FrontText, Utf8ReachesTheDeviceOnlyAsLatin1) {
  const struct {
    const char* name;
    std::string utf8;
    bool ok;
    std::string latin1;
  } cases[] = {
      {"ascii", "admin", true, "admin"},
      {"e acute", "j\xC3\xA9r\xC3\xB4me", true, "j\xE9r\xF4me"},
      {"U+0080", "\xC2\x80", true, "\x80"},
      {"U+00FF", "\xC3\xBF", true, "\xFF"},
      {"U+0100", "\xC4\x80", false, ""},
      {"U+0000", std::string("a\0b", 3), false, ""},
      {"overlong slash", "\xC0\xAF", false, ""},
      {"overlong e acute", "\xE0\x83\xA9", false, ""},
      {"surrogate", "\xED\xA0\x80", false, ""},
      {"4-byte", "\xF0\x9F\x98\x80", false, ""},
      {"truncated", "ab\xC3", false, ""},
      {"lone continuation", "\xA9", false, ""},
      {"lead then ascii",
       "\xC3"
       "a",
       false, ""},
  };
  for (const auto& c : cases) {
    std::string latin1 = "untouched";
    EXPECT_EQ(Utf8ToLatin1(c.utf8, &latin1), c.ok) << c.name;
    EXPECT_EQ(latin1, c.ok ? c.latin1 : "untouched") << c.name;
    if (c.ok) {
      EXPECT_EQ(Latin1ToUtf8(c.latin1), c.utf8) << c.name;
    }
  }
}

TEST(FrontText, NamesAndPasswordsTheDeviceCanHold) {
  const struct {
    const char* name;
    std::string text;
    bool validName;
    bool validPassword;
    bool validNew;
  } cases[] = {
      {"empty", "", false, true, false},
      {"longest name", std::string(16, 'n'), true, true, true},
      {"17 bytes", std::string(17, 'n'), false, true, true},
      {"longest password", std::string(32, 'p'), false, true, true},
      {"33 bytes", std::string(33, 'p'), false, false, false},
      {"colon", "a:b", false, true, true},
      {"tab", "a\tb", false, true, true},
      {"delete", "a\x7F", false, true, true},
      {"NUL", std::string("a\0b", 3), false, false, false},
      {"latin-1", "j\xE9r\xF4me", true, true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidName(c.text), c.validName) << c.name;
    EXPECT_EQ(IsValidPassword(c.text), c.validPassword) << c.name;
    EXPECT_EQ(IsValidNewPassword(c.text), c.validNew) << c.name;
  }
}

TEST(FrontText, CredentialsCopyAndWipe) {
  Credentials original("admin", "kev\xE9");
  Credentials copy;
  copy = original;
  EXPECT_EQ(Narrow(copy.Name()), "admin");
  EXPECT_EQ(Narrow(copy.Password()), "kev\xE9");
  EXPECT_EQ(copy.Password()[3], u'\u00E9') << "a byte widens to the unit of its value";
  original.Wipe();
  EXPECT_EQ(Narrow(original.Password()), "");
  EXPECT_EQ(Narrow(copy.Password()), "kev\xE9");
}

std::vector<std::uint8_t> Image(const std::string& name, std::size_t length) {
  std::vector<std::uint8_t> image(length, 'x');
  for (std::size_t i = 0; i < 32 && 32 + i < length; ++i)
    image[32 + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0;
  return image;
}

TEST(FrontFirmware, RoutesAndNames) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> image;
    const char* route;  // nullptr: none
    std::string imageName;
  } cases[] = {
      {"os", Image("nolva-os 4.2.0", 64), "os", "nolva-os 4.2.0"},
      {"fs", Image("nolva-fs", 5000), "fs", "nolva-fs"},
      {"field without NUL", Image(std::string(32, 'n'), 64), nullptr, std::string(32, 'n')},
      {"63 bytes", Image("nolva-os", 63), nullptr, ""},
      {"upper case", Image("NOLVA-OS", 64), nullptr, "NOLVA-OS"},
      {"NUL in selector", Image(std::string("nolva-o\0s", 9), 64), nullptr, "nolva-o"},
  };
  for (const auto& c : cases) {
    const FirmwareRoute* route =
        FirmwareRouteOf(c.image.data(), static_cast<std::int64_t>(c.image.size()));
    EXPECT_EQ(route ? std::string(route->name) : "none", c.route ? c.route : "none") << c.name;
    EXPECT_EQ(ImageName(c.image.data(), c.image.size()), c.imageName) << c.name;
  }
}

TEST(FrontFirmware, DiagnosisOfAFailedUpdate) {
  const std::string erased(32, '\xFF');
  const struct {
    const char* name;
    std::string before, after;
    UpdateDamage damage;
  } cases[] = {
      {"old image kept", "nolva-os 4.1", "nolva-os 4.1", UpdateDamage::kOldImageKept},
      {"erased", "nolva-os 4.1", erased, UpdateDamage::kErased},
      {"erased before too", erased, erased, UpdateDamage::kErased},
      {"new name already there", "nolva-os 4.2", "nolva-os 4.2", UpdateDamage::kUnknown},
      {"unreadable after", "nolva-os 4.1", "", UpdateDamage::kUnknown},
      {"changed", "nolva-os 4.1", "nolva-os 4.", UpdateDamage::kUnknown},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DiagnoseFailedUpdate("nolva-os 4.2", c.before, c.after), c.damage) << c.name;
}

}  // namespace
}  // namespace nolva::front
