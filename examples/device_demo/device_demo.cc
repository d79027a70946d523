// nolva-device-demo: what a management front end does with the device, run
// on a simulated board by `nolva-board demo`: log in, update both firmware
// images, read the versions back, reset to the factory state, log in again.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "store/device_manager.h"

namespace {

constexpr char16_t kAdmin[] = u"admin";
constexpr char16_t kFactoryPassword[] = u"kevla";

std::string Text(const char16_t* wide) {
  std::string text;
  for (; *wide != 0; ++wide)
    text += static_cast<char>(*wide);
  return text;
}

void Show(const char* step, nolva::StatusCode status) {
  std::printf("%-44s status 0x%08X\n", step, static_cast<unsigned>(status));
}

// An image with its name field at 32 and a pattern elsewhere.
std::vector<std::uint8_t> Image(const std::string& name, std::size_t length) {
  std::vector<std::uint8_t> image(length);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy(name.begin(), name.end(), image.begin() + 32);
  image[32 + name.size()] = 0;
  return image;
}

void Update(nolva::DeviceManager& manager, const std::vector<std::uint8_t>& image) {
  std::printf("UpdateFirmware with a %zu-byte image...\n", image.size());
  Show("UpdateFirmware", manager.UpdateFirmware(kAdmin, kFactoryPassword, image.data(),
                                                static_cast<std::int32_t>(image.size())));
}

// Only a board may see these requests; the host's flash and reboot never.
bool OnBoard() {
  auto active = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "nolva_board_active"));
  return active != nullptr && active() == 1;
}

}  // namespace

int main() {
  if (!OnBoard()) {
    std::fprintf(stderr, "nolva-device-demo: run me on a board: nolva-board run DIR -- %s\n",
                 "nolva-device-demo");
    return 70;
  }
  nolva::DeviceManager manager;
  Show("Login admin / factory password", manager.Login(kAdmin, kFactoryPassword));

  char16_t mac[nolva::kMacTextUnits];
  Show("GetMacAddress", manager.GetMacAddress(kAdmin, kFactoryPassword, mac));
  std::printf("  eth0 %s\n", Text(mac).c_str());

  char16_t ports[512];
  Show("GetUsbPorts", manager.GetUsbPorts(kAdmin, kFactoryPassword, ports, 512));
  std::printf("%s", Text(ports).c_str());

  Update(manager, Image("nolva-os 2.4.1 demo", (1 << 20) + 12345));
  Update(manager, Image("nolva-fs 2.4.0", 300000));

  char16_t os[nolva::kVersionTextUnits];
  char16_t fs[nolva::kVersionTextUnits];
  Show("GetFirmwareVersions", manager.GetFirmwareVersions(kAdmin, kFactoryPassword, os, fs));
  std::printf("  OS \"%s\"\n", Text(os).c_str());
  std::printf("  FS \"%s\"\n", Text(fs).c_str());

  Show("FactoryReset", manager.FactoryReset(kAdmin, kFactoryPassword));
  Show("Login admin / factory password, after reset", manager.Login(kAdmin, kFactoryPassword));
  return 0;
}
