// What the board's flash files, drivers and kernel expect byte for byte:
// the same sizes, offsets, request codes and byte order on every build, the
// 32-bit ARM one included.
#include <gtest/gtest.h>
#include <mtd/mtd-user.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "boot/boot.h"
#include "store/settings_records.h"
#include "store/user_table.h"

namespace nolva {
namespace {

struct Layout {
  const char* what;
  std::size_t actual;
  std::size_t expected;
};

void ExpectLayout(const Layout* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    EXPECT_EQ(rows[i].actual, rows[i].expected) << rows[i].what;
}

template <typename Record>
std::string BytesOf(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

TEST(RecordLayout, RecordsKeepTheirFileSizesAndOffsets) {
  const Layout rows[] = {
      {"sizeof NetworkSettings", sizeof(NetworkSettings), 16},
      {"NetworkSettings.address", offsetof(NetworkSettings, address), 4},
      {"NetworkSettings.netmask", offsetof(NetworkSettings, netmask), 8},
      {"NetworkSettings.gateway", offsetof(NetworkSettings, gateway), 12},
      {"sizeof ServiceSettings", sizeof(ServiceSettings), 44},
      {"ServiceSettings.primaryEnabled", offsetof(ServiceSettings, primaryEnabled), 4},
      {"ServiceSettings.secondaryEnabled", offsetof(ServiceSettings, secondaryEnabled), 8},
      {"ServiceSettings.primaryPort", offsetof(ServiceSettings, primaryPort), 12},
      {"ServiceSettings.secondaryPort", offsetof(ServiceSettings, secondaryPort), 32},
      {"ServiceSettings.svcWord10", offsetof(ServiceSettings, svcWord10), 40},
      {"sizeof OcpSettings", sizeof(OcpSettings), 28},
      {"OcpSettings.ocpPort", offsetof(OcpSettings, ocpPort), 20},
      {"OcpSettings.ocpValue", offsetof(OcpSettings, ocpValue), 24},
      {"sizeof UserEntry", sizeof(UserEntry), 60},
      {"UserEntry.digest", offsetof(UserEntry, digest), 20},
      {"UserTable.entries", offsetof(UserTable, entries), 4},
      {"sizeof UserTable", sizeof(UserTable), 4 + 256 * 60},
      {"sizeof CFG", sizeof CFG, 414},
  };
  ExpectLayout(rows, std::size(rows));
}

TEST(RecordLayout, WordsAreLittleEndianAndAddressesFirstOctetFirst) {
  const NetworkSettings network = {1, {192, 168, 0, 223}, {255, 255, 255, 0}, {192, 168, 0, 1}};
  EXPECT_EQ(BytesOf(network),
            std::string("\x01\x00\x00\x00\xC0\xA8\x00\xDF\xFF\xFF\xFF\x00\xC0\xA8\x00\x01", 16));

  ServiceSettings service = {};
  service.primaryPort = 8080;
  service.secondaryPort = 0x12345678;
  EXPECT_EQ(BytesOf(service).substr(12, 4), std::string("\x90\x1F\x00\x00", 4));
  EXPECT_EQ(BytesOf(service).substr(32, 4), "\x78\x56\x34\x12");

  OcpSettings ocp = {};
  ocp.ocpPort = -2;
  EXPECT_EQ(BytesOf(ocp).substr(20, 4), "\xFE\xFF\xFF\xFF");
}

TEST(DeviceRequests, CodesAndRecordsAreTheDriversOwn) {
  const Layout rows[] = {
      {"MEMGETINFO", MEMGETINFO, 0x80204D01u},
      {"MEMERASE", MEMERASE, 0x40084D02u},
      {"SIOCGIFHWADDR", SIOCGIFHWADDR, 0x8927},
      {"sizeof mtd_info_user", sizeof(mtd_info_user), 32},
      {"mtd_info_user.erasesize", offsetof(mtd_info_user, erasesize), 12},
      {"sizeof erase_info_user", sizeof(erase_info_user), 8},
      {"erase_info_user.length", offsetof(erase_info_user, length), 4},
      {"ifreq.ifr_hwaddr", offsetof(ifreq, ifr_hwaddr), IFNAMSIZ},
      {"ifreq.ifr_hwaddr.sa_data", offsetof(ifreq, ifr_hwaddr.sa_data), IFNAMSIZ + 2},
      {"IFNAMSIZ", IFNAMSIZ, 16},
  };
  ExpectLayout(rows, std::size(rows));
}

}  // namespace
}  // namespace nolva
