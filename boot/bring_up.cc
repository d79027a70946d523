#include <cstdio>
#include <cstdlib>

#include "boot/boot.h"
#include "store/device_manager.h"
#include "store/handles.h"

unsigned char CFG[414];

namespace nolva {
namespace {

const char* const kInterface = "eth0";

// The commands share our standard output: flush first so the trace keeps
// its order when it goes to a file or a pipe.
void Run(const char* command) {
  fflush(stdout);
  int ignored = system(command);
  (void)ignored;
}

void SetMacAddress() {
  char command[256];
  snprintf(command, sizeof command, "ifconfig %s hw ether %02x:%02x:%02x:%02x:%02x:%02x",
           kInterface, CFG[0], CFG[1], CFG[2], CFG[3], CFG[4], CFG[5]);
  printf("%s\n", command);
  Run(command);
}

void WriteAddressLine(FILE* file, const char* key, const std::uint8_t (&octets)[4]) {
  fprintf(file, "\t%s %d.%d.%d.%d\n", key, octets[0], octets[1], octets[2], octets[3]);
}

void WriteInterfacesFile(const NetworkSettings& settings) {
  Stream file(fopen("/etc/network/interfaces", "w"));
  if (!file.IsOpen()) return;
  fprintf(file.Get(), "auto lo %s\n", kInterface);
  fprintf(file.Get(), "iface lo inet loopback\n");
  if (settings.dhcp != 0) {
    fprintf(file.Get(), "iface %s inet dhcp\n", kInterface);
    return;
  }
  fprintf(file.Get(), "iface %s inet static\n", kInterface);
  WriteAddressLine(file.Get(), "address", settings.address);
  WriteAddressLine(file.Get(), "netmask", settings.netmask);
  WriteAddressLine(file.Get(), "gateway", settings.gateway);
}

}  // namespace

int BringUpNetwork() {
  DeviceManager manager;
  ReadRawFile("/flash/yurn_system.cfg", CFG, sizeof CFG);
  SetMacAddress();

  NetworkSettings settings = {};
  if (manager.LoadNetworkSettings(&settings) < 0) manager.ResetNetworkSettings(&settings);
  printf("DHCP: %s\n", settings.dhcp != 0 ? "ON" : "OFF");

  WriteInterfacesFile(settings);
  Run("/bin/cat /etc/network/interfaces");
  Run("/sbin/ifup -a");
  InitGpio();
  return 0;
}

}  // namespace nolva
