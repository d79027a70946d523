#pragma once

#include <cstdint>

namespace nolva {

// Records are stored byte for byte as they lie in memory (little-endian on the board).

struct NetworkSettings {
  std::int32_t dhcp;  // nonzero: eth0 is configured by DHCP
  std::uint8_t address[4];
  std::uint8_t netmask[4];
  std::uint8_t gateway[4];
};

struct ServiceSettings {
  std::int32_t svcWord0, primaryEnabled, secondaryEnabled, primaryPort, primaryValue, svcWord5,
      svcWord6, svcWord7, secondaryPort, secondaryValue, svcWord10;
};

struct OcpSettings {
  std::int32_t ocpEnabled, ocpWord1, ocpWord2, ocpWord3, ocpWord4, ocpPort, ocpValue;
};

static_assert(sizeof(NetworkSettings) == 16, "network settings file layout");
static_assert(sizeof(ServiceSettings) == 44, "service settings file layout");
static_assert(sizeof(OcpSettings) == 28, "OCP settings file layout");

}  // namespace nolva
