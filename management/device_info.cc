#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "management/credentials.h"
#include "management/wide_string.h"
#include "store/device_manager.h"
#include "store/handles.h"

namespace nolva {
namespace {

// eth0's hardware address; all zeros when it cannot be had.
void ReadHardwareAddress(unsigned char (&mac)[6]) {
  ifreq request;
  memset(&request, 0, sizeof request);
  memcpy(request.ifr_name, "eth0", sizeof "eth0");
  FileDescriptor socketFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socketFd.IsOpen() || ioctl(socketFd.Get(), SIOCGIFHWADDR, &request) != 0) {
    memset(mac, 0, sizeof mac);
    return;
  }
  memcpy(mac, request.ifr_hwaddr.sa_data, sizeof mac);
}

// The name field of the image in a partition, up to its first NUL; a field
// cut short by the partition's end gives the bytes that could be read.
bool ReadVersionText(const char* partition, char (&text)[kVersionTextUnits]) {
  FileDescriptor device(open(partition, O_RDONLY | O_CLOEXEC));
  if (!device.IsOpen()) return false;
  char field[kImageNameSize];
  std::int32_t got = 0;
  if (lseek(device.Get(), kImageNameOffset, SEEK_SET) == kImageNameOffset) {
    while (got < kImageNameSize) {
      ssize_t n = read(device.Get(), field + got, sizeof field - got);
      if (n <= 0) break;
      got += static_cast<std::int32_t>(n);
    }
  }
  std::size_t length = strnlen(field, got);
  memcpy(text, field, length);
  text[length] = '\0';
  return true;
}

}  // namespace

StatusCode DeviceManager::GetMacAddress(const char16_t* userName, const char16_t* password,
                                        char16_t* macText) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  unsigned char mac[6];
  ReadHardwareAddress(mac);
  char text[kMacTextUnits];
  snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  Widen(macText, text);
  return STATUS_OK;
}

StatusCode DeviceManager::GetFirmwareVersions(const char16_t* userName, const char16_t* password,
                                              char16_t* osVersion, char16_t* fsVersion) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  char text[kVersionTextUnits];
  if (!ReadVersionText(kOsImage.device, text)) return STATUS_FIRMWARE_VERSION_FAILED;
  Widen(osVersion, text);
  if (!ReadVersionText(kFsImage.device, text)) return STATUS_FIRMWARE_VERSION_FAILED;
  Widen(fsVersion, text);
  return STATUS_OK;
}

}  // namespace nolva
