// A tiny management front end: checks the admin credentials and shows the
// stored IP configuration. It belongs on the device (or on a simulated
// board: nolva-board run BOARD -- ./frontend), never on a development host.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/device_manager.h"

int main() {
  const char* password = std::getenv("NOLVA_PASSWORD");
  if (password == nullptr) {
    std::fprintf(stderr, "frontend: set NOLVA_PASSWORD\n");
    return 2;
  }
  // The operations take 16-bit strings and keep the low byte of each unit.
  const std::string narrow = password;
  const std::u16string wide(narrow.begin(), narrow.end());

  nolva::DeviceManager manager;
  nolva::NetworkSettings settings{};
  const nolva::StatusCode status = manager.GetNetworkSettings(u"admin", wide.c_str(), &settings);
  if (status != nolva::STATUS_OK) {
    std::fprintf(stderr, "frontend: GetNetworkSettings: 0x%08X\n", static_cast<unsigned>(status));
    return 1;
  }
  std::printf("dhcp %s, address %u.%u.%u.%u\n", settings.dhcp != 0 ? "on" : "off",
              settings.address[0], settings.address[1], settings.address[2], settings.address[3]);
  return 0;
}
