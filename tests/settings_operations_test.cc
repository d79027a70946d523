#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "store/device_manager.h"
#include "tests/record_bytes.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::BoardTest;

constexpr const char* kNetworkPath = "/flash/nolva_system";
constexpr const char* kServicePath = "/flash/nolva_service";
constexpr const char* kOcpPath = "/flash/nolva_ocp";

const std::string kNetworkDefaultBytes(
    "\x01\x00\x00\x00\xC0\xA8\x00\xDF\xFF\xFF\xFF\x00\xC0\xA8\x00\x01", 16);

class SettingsOperations : public BoardTest {
 protected:
  DeviceManager manager;
};

ServiceSettings Service(std::int32_t primaryEnabled, std::int32_t primaryPort,
                        std::int32_t secondaryEnabled, std::int32_t secondaryPort) {
  auto settings = RecordOf<ServiceSettings>(kServiceDefaults);
  settings.primaryEnabled = primaryEnabled;
  settings.primaryPort = primaryPort;
  settings.secondaryEnabled = secondaryEnabled;
  settings.secondaryPort = secondaryPort;
  return settings;
}

OcpSettings Ocp(std::int32_t enabled, std::int32_t port) {
  auto settings = RecordOf<OcpSettings>(kOcpDefaults);
  settings.ocpEnabled = enabled;
  settings.ocpPort = port;
  return settings;
}

// --- The gate ---------------------------------------------------------------

struct Caller {
  const char16_t* name;
  const char16_t* password;
};

const Caller kRefusedCallers[] = {
    {u"Admin", u"kevla"}, {u"admin ", u"kevla"}, {u"admin", u"kevla!"}, {u"guest", u"kevla"}};

TEST_F(SettingsOperations, RefusedCallersReadAndWriteNothing) {
  for (const Caller& caller : kRefusedCallers) {
    SCOPED_TRACE(::testing::Message() << "caller " << &caller - kRefusedCallers);
    NetworkSettings network;
    ServiceSettings service;
    OcpSettings ocp;
    memset(&network, 0xA5, sizeof network);
    memset(&service, 0xA5, sizeof service);
    memset(&ocp, 0xA5, sizeof ocp);
    const std::string untouched(sizeof service, '\xA5');

    EXPECT_EQ(manager.GetNetworkSettings(caller.name, caller.password, &network),
              STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.GetServiceSettings(caller.name, caller.password, &service),
              STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.GetOcpSettings(caller.name, caller.password, &ocp), STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.SetNetworkSettings(caller.name, caller.password, &network),
              STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.SetServiceSettings(caller.name, caller.password, &service),
              STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.SetOcpSettings(caller.name, caller.password, &ocp), STATUS_AUTH_FAILED);

    EXPECT_EQ(BytesOf(network), untouched.substr(0, sizeof network));
    EXPECT_EQ(BytesOf(service), untouched);
    EXPECT_EQ(BytesOf(ocp), untouched.substr(0, sizeof ocp));
    EXPECT_FALSE(BoardFileExists(kNetworkPath));
    EXPECT_FALSE(BoardFileExists(kServicePath));
    EXPECT_FALSE(BoardFileExists(kOcpPath));
  }
}

TEST_F(SettingsOperations, RefusedCallersLeaveStoredRecordsUntouched) {
  auto service = Service(1, 5000, 1, 5001);
  auto ocp = Ocp(1, 5002);
  NetworkSettings network = {0, {10, 0, 0, 2}, {255, 0, 0, 0}, {10, 0, 0, 1}};
  ASSERT_EQ(manager.SaveServiceSettings(&service), 0);
  ASSERT_EQ(manager.SaveOcpSettings(&ocp), 0);
  ASSERT_EQ(manager.SaveNetworkSettings(&network), 0);

  auto otherService = Service(1, 6000, 0, 0);
  auto otherOcp = Ocp(0, 6001);
  NetworkSettings otherNetwork = {1, {}, {}, {}};
  for (const Caller& caller : kRefusedCallers) {
    SCOPED_TRACE(::testing::Message() << "caller " << &caller - kRefusedCallers);
    EXPECT_EQ(manager.SetServiceSettings(caller.name, caller.password, &otherService),
              STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.SetOcpSettings(caller.name, caller.password, &otherOcp), STATUS_AUTH_FAILED);
    EXPECT_EQ(manager.SetNetworkSettings(caller.name, caller.password, &otherNetwork),
              STATUS_AUTH_FAILED);
  }
  EXPECT_EQ(ReadBoardFile(kServicePath), BytesOf(service));
  EXPECT_EQ(ReadBoardFile(kOcpPath), BytesOf(ocp));
  EXPECT_EQ(ReadBoardFile(kNetworkPath), BytesOf(network));
}

TEST_F(SettingsOperations, MissingRecordsFailWithEachOperationsOwnCode) {
  EXPECT_EQ(manager.GetNetworkSettings(u"admin", u"kevla", nullptr), STATUS_GET_NETWORK_FAILED);
  EXPECT_EQ(manager.SetNetworkSettings(u"admin", u"kevla", nullptr), STATUS_SET_NETWORK_FAILED);
  EXPECT_EQ(manager.GetServiceSettings(u"admin", u"kevla", nullptr), STATUS_GET_SERVICE_FAILED);
  EXPECT_EQ(manager.SetServiceSettings(u"admin", u"kevla", nullptr), STATUS_SET_SERVICE_FAILED);
  EXPECT_EQ(manager.GetOcpSettings(u"admin", u"kevla", nullptr), STATUS_GET_OCP_FAILED);
  EXPECT_EQ(manager.SetOcpSettings(u"admin", u"kevla", nullptr), STATUS_SET_OCP_FAILED);
  EXPECT_EQ(FlashFileNames(), std::vector<std::string>{"nolva_user"});
}

// --- Get operations ---------------------------------------------------------

// The three Get operations over one record kind: its file, defaults and code.
struct GetCase {
  const char* name;
  const char* path;
  std::string defaultBytes;
  std::size_t size;
  StatusCode failure;
  StatusCode (*get)(DeviceManager&, void*);
};

void PrintTo(const GetCase& c, std::ostream* os) {
  *os << c.name;
}

const GetCase kGets[] = {
    {"Network", kNetworkPath, kNetworkDefaultBytes, sizeof(NetworkSettings),
     STATUS_GET_NETWORK_FAILED,
     [](DeviceManager& m, void* r) {
       return m.GetNetworkSettings(u"admin", u"kevla", static_cast<NetworkSettings*>(r));
     }},
    {"Service", kServicePath, LittleEndian(kServiceDefaults), sizeof(ServiceSettings),
     STATUS_GET_SERVICE_FAILED,
     [](DeviceManager& m, void* r) {
       return m.GetServiceSettings(u"admin", u"kevla", static_cast<ServiceSettings*>(r));
     }},
    {"Ocp", kOcpPath, LittleEndian(kOcpDefaults), sizeof(OcpSettings), STATUS_GET_OCP_FAILED,
     [](DeviceManager& m, void* r) {
       return m.GetOcpSettings(u"admin", u"kevla", static_cast<OcpSettings*>(r));
     }},
};

class GetSettings : public BoardTest, public ::testing::WithParamInterface<GetCase> {
 protected:
  DeviceManager manager;
  alignas(4) char record[64];
};

TEST_P(GetSettings, MissingFileGivesAndStoresTheDefaults) {
  memset(record, 0x5A, sizeof record);
  EXPECT_EQ(GetParam().get(manager, record), STATUS_OK);
  EXPECT_EQ(std::string(record, GetParam().size), GetParam().defaultBytes);
  EXPECT_EQ(ReadBoardFile(GetParam().path), GetParam().defaultBytes);
}

TEST_P(GetSettings, ShortFileFailsWithItsOwnCode) {
  const std::string stored = GetParam().defaultBytes.substr(0, GetParam().size - 6);
  WriteBoardFile(GetParam().path, stored);
  memset(record, 0x5A, sizeof record);

  EXPECT_EQ(GetParam().get(manager, record), GetParam().failure);
  EXPECT_EQ(std::string(record, GetParam().size), stored + std::string(6, '\x5A'));
  EXPECT_EQ(ReadBoardFile(GetParam().path), stored);
}

INSTANTIATE_TEST_SUITE_P(Settings, GetSettings, ::testing::ValuesIn(kGets),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Network settings -------------------------------------------------------

TEST_F(SettingsOperations, StoredNetworkSettingsReadBackByteForByte) {
  NetworkSettings stored = {0, {203, 0, 113, 250}, {255, 255, 255, 252}, {203, 0, 113, 249}};
  ASSERT_EQ(manager.SetNetworkSettings(u"admin", u"kevla", &stored), STATUS_OK);
  EXPECT_EQ(ReadBoardFile(kNetworkPath), BytesOf(stored));

  NetworkSettings loaded = {};
  EXPECT_EQ(manager.GetNetworkSettings(u"admin", u"kevla", &loaded), STATUS_OK);
  EXPECT_EQ(BytesOf(loaded), BytesOf(stored));
}

// --- Port conflicts ---------------------------------------------------------

enum class Companion { kStored, kMissing, kShort };

struct ServiceConflictCase {
  const char* behaviour;
  Companion companion;
  OcpSettings storedOcp;
  ServiceSettings fresh;
  StatusCode expected;
};

void PrintTo(const ServiceConflictCase& c, std::ostream* os) {
  *os << c.behaviour;
}

const ServiceConflictCase kServiceConflicts[] = {
    {"DefaultsAgainstDefaults", Companion::kStored, Ocp(1, 23), Service(1, 9100, 1, 11110),
     STATUS_OK},
    {"PrimaryAndSecondaryShareAPort", Companion::kStored, Ocp(1, 23), Service(1, 5000, 1, 5000),
     STATUS_REFUSED},
    {"SharedPortWithSecondaryDisabled", Companion::kStored, Ocp(1, 23), Service(1, 5000, 0, 5000),
     STATUS_OK},
    {"SharedPortWithPrimaryDisabled", Companion::kStored, Ocp(1, 23), Service(0, 5000, 1, 5000),
     STATUS_OK},
    {"PrimaryOnTheOcpPort", Companion::kStored, Ocp(1, 23), Service(1, 23, 1, 11110),
     STATUS_REFUSED},
    {"PrimaryOnADisabledOcpPort", Companion::kStored, Ocp(0, 23), Service(1, 23, 1, 11110),
     STATUS_OK},
    {"DisabledPrimaryOnTheOcpPort", Companion::kStored, Ocp(1, 23), Service(0, 23, 1, 11110),
     STATUS_OK},
    {"SecondaryOnTheOcpPort", Companion::kStored, Ocp(1, 23), Service(1, 9100, 1, 23),
     STATUS_REFUSED},
    {"DisabledSecondaryOnTheOcpPort", Companion::kStored, Ocp(1, 23), Service(1, 9100, 0, 23),
     STATUS_OK},
    {"AnyNonZeroFlagEnables", Companion::kStored, Ocp(-7, 23), Service(2, 23, 0, 11110),
     STATUS_REFUSED},
    {"PortsDifferingAboveBit16AgainstOcp", Companion::kStored, Ocp(1, 23),
     Service(1, 23 + 65536, 1, 11110), STATUS_OK},
    {"PortsDifferingAboveBit16WithinTheRecord", Companion::kStored, Ocp(1, 23),
     Service(1, 9100, 1, 9100 - 65536), STATUS_OK},
    {"MissingOcpIsCreatedThenChecked", Companion::kMissing, Ocp(1, 23), Service(1, 23, 0, 0),
     STATUS_REFUSED},
    {"MissingOcpIsCreatedThenStored", Companion::kMissing, Ocp(1, 23), Service(1, 9100, 1, 11110),
     STATUS_OK},
    {"ShortOcpRefusesEvenAllDisabled", Companion::kShort, Ocp(1, 23), Service(0, 1, 0, 2),
     STATUS_REFUSED},
};

// Puts the companion record's file in the state a case asks for.
class ConflictTest : public BoardTest {
 protected:
  void PlaceCompanion(Companion companion, const char* path, const std::string& bytes) const {
    if (companion == Companion::kStored) WriteBoardFile(path, bytes);
    if (companion == Companion::kShort) WriteBoardFile(path, bytes.substr(0, bytes.size() - 1));
  }

  DeviceManager manager;
};

class SetServiceConflicts : public ConflictTest,
                            public ::testing::WithParamInterface<ServiceConflictCase> {};

TEST_P(SetServiceConflicts, StoresOnlyARecordWithoutClashes) {
  const ServiceConflictCase& c = GetParam();
  auto previous = Service(1, 4000, 1, 4001);
  previous.svcWord0 = 77;
  ASSERT_EQ(manager.SaveServiceSettings(&previous), 0);
  PlaceCompanion(c.companion, kOcpPath, BytesOf(c.storedOcp));

  EXPECT_EQ(manager.SetServiceSettings(u"admin", u"kevla", &c.fresh), c.expected);
  EXPECT_EQ(ReadBoardFile(kServicePath), BytesOf(c.expected == STATUS_OK ? c.fresh : previous));
  if (c.companion == Companion::kMissing) {
    EXPECT_EQ(ReadBoardFile(kOcpPath), LittleEndian(kOcpDefaults));
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, SetServiceConflicts, ::testing::ValuesIn(kServiceConflicts),
                         [](const auto& info) { return std::string(info.param.behaviour); });

struct OcpConflictCase {
  const char* behaviour;
  Companion companion;
  ServiceSettings storedService;
  OcpSettings fresh;
  StatusCode expected;
};

void PrintTo(const OcpConflictCase& c, std::ostream* os) {
  *os << c.behaviour;
}

const OcpConflictCase kOcpConflicts[] = {
    {"DefaultsAgainstDefaults", Companion::kStored, Service(1, 9100, 1, 11110), Ocp(1, 23),
     STATUS_OK},
    {"OnThePrimaryPort", Companion::kStored, Service(1, 9100, 1, 11110), Ocp(1, 9100),
     STATUS_REFUSED},
    {"DisabledOnThePrimaryPort", Companion::kStored, Service(1, 9100, 1, 11110), Ocp(0, 9100),
     STATUS_OK},
    {"OnADisabledPrimaryPort", Companion::kStored, Service(0, 9100, 1, 11110), Ocp(1, 9100),
     STATUS_OK},
    {"OnTheSecondaryPort", Companion::kStored, Service(1, 9100, 1, 11110), Ocp(1, 11110),
     STATUS_REFUSED},
    {"OnADisabledSecondaryPort", Companion::kStored, Service(1, 9100, 0, 11110), Ocp(1, 11110),
     STATUS_OK},
    {"PortsDifferingAboveBit16", Companion::kStored, Service(1, 9100, 1, 11110),
     Ocp(1, 9100 + 65536), STATUS_OK},
    {"StoredServicesSharingAPortAreNotItsConcern", Companion::kStored, Service(1, 5000, 1, 5000),
     Ocp(1, 23), STATUS_OK},
    {"MissingServiceIsCreatedThenChecked", Companion::kMissing, Service(1, 9100, 1, 11110),
     Ocp(1, 9100), STATUS_REFUSED},
    {"ShortServiceRefusesEvenDisabled", Companion::kShort, Service(1, 9100, 1, 11110), Ocp(0, 23),
     STATUS_REFUSED},
};

class SetOcpConflicts : public ConflictTest,
                        public ::testing::WithParamInterface<OcpConflictCase> {};

TEST_P(SetOcpConflicts, StoresOnlyARecordWithoutClashes) {
  const OcpConflictCase& c = GetParam();
  auto previous = Ocp(1, 4002);
  previous.ocpWord1 = 77;
  ASSERT_EQ(manager.SaveOcpSettings(&previous), 0);
  PlaceCompanion(c.companion, kServicePath, BytesOf(c.storedService));

  EXPECT_EQ(manager.SetOcpSettings(u"admin", u"kevla", &c.fresh), c.expected);
  EXPECT_EQ(ReadBoardFile(kOcpPath), BytesOf(c.expected == STATUS_OK ? c.fresh : previous));
  if (c.companion == Companion::kMissing) {
    EXPECT_EQ(ReadBoardFile(kServicePath), LittleEndian(kServiceDefaults));
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, SetOcpConflicts, ::testing::ValuesIn(kOcpConflicts),
                         [](const auto& info) { return std::string(info.param.behaviour); });

// --- Failed saves -----------------------------------------------------------

struct FailedSetCase {
  const char* path;
  StatusCode expected;
  StatusCode (*set)(DeviceManager&);
};

void PrintTo(const FailedSetCase& c, std::ostream* os) {
  *os << c.path;
}

const FailedSetCase kFailedSets[] = {
    {kNetworkPath, STATUS_SET_NETWORK_FAILED,
     [](DeviceManager& m) {
       NetworkSettings fresh = {0, {10, 1, 1, 1}, {255, 255, 0, 0}, {10, 1, 0, 1}};
       return m.SetNetworkSettings(u"admin", u"kevla", &fresh);
     }},
    {kServicePath, STATUS_SET_SERVICE_FAILED,
     [](DeviceManager& m) {
       auto fresh = Service(1, 8000, 1, 8001);
       return m.SetServiceSettings(u"admin", u"kevla", &fresh);
     }},
    {kOcpPath, STATUS_SET_OCP_FAILED,
     [](DeviceManager& m) {
       auto fresh = Ocp(1, 8002);
       return m.SetOcpSettings(u"admin", u"kevla", &fresh);
     }},
};

class FailedSet : public BoardTest,
                  public ::testing::WithParamInterface<std::tuple<FailedSetCase, const char*>> {
 protected:
  DeviceManager manager;
};

TEST_P(FailedSet, ReportsItsCodeAndKeepsTheOldFile) {
  const FailedSetCase& c = std::get<0>(GetParam());
  NetworkSettings network;
  ServiceSettings service;
  OcpSettings ocp;
  ASSERT_EQ(manager.Login(u"admin", u"kevla"), STATUS_OK);  // the user file must exist already
  ASSERT_EQ(manager.LoadNetworkSettings(&network), 0);
  ASSERT_EQ(manager.LoadServiceSettings(&service), 0);
  ASSERT_EQ(manager.LoadOcpSettings(&ocp), 0);
  const std::string old = ReadBoardFile(c.path);
  SetFault(std::get<1>(GetParam()));

  EXPECT_EQ(c.set(manager), c.expected);
  EXPECT_EQ(ReadBoardFile(c.path), old);
}

INSTANTIATE_TEST_SUITE_P(Settings, FailedSet,
                         ::testing::Combine(::testing::ValuesIn(kFailedSets),
                                            ::testing::Values("flash-full", "flash-readonly",
                                                              "flash-fsync-fails",
                                                              "flash-rename-fails")),
                         [](const auto& info) {
                           std::string name = std::string(std::get<0>(info.param).path + 7) + "_" +
                                              std::get<1>(info.param);
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

// --- Concurrency ------------------------------------------------------------

bool Clash(const ServiceSettings& service, const OcpSettings& ocp) {
  auto same = [](std::int32_t a, std::int32_t b, std::int32_t port1, std::int32_t port2) {
    return a != 0 && b != 0 && port1 == port2;
  };
  return same(service.primaryEnabled, service.secondaryEnabled, service.primaryPort,
              service.secondaryPort) ||
         same(service.primaryEnabled, ocp.ocpEnabled, service.primaryPort, ocp.ocpPort) ||
         same(service.secondaryEnabled, ocp.ocpEnabled, service.secondaryPort, ocp.ocpPort);
}

// Service and OCP setters race for the same three ports; whatever wins, the
// stored pair never has two enabled services on one port, at any moment.
TEST_F(SettingsOperations, ConcurrentSetsNeverStoreAClashingPair) {
  constexpr int kThreadsPerKind = 2;
  constexpr int kRounds = 50;
  std::atomic<int> stored{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> setters;
  for (int t = 0; t < kThreadsPerKind; ++t) {
    setters.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        auto service = Service(1, 7000 + (t + i) % 3, 0, 0);
        if (manager.SetServiceSettings(u"admin", u"kevla", &service) == STATUS_OK) ++stored;
      }
    });
    setters.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        auto ocp = Ocp(1, 7000 + (t + 2 * i + 1) % 3);
        if (manager.SetOcpSettings(u"admin", u"kevla", &ocp) == STATUS_OK) ++stored;
      }
    });
  }
  int clashesSeen = 0;
  std::thread watcher([&] {
    while (!done) {
      manager.LoadSettings();
      if (Clash(manager.serviceSettings, manager.ocpSettings)) ++clashesSeen;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (std::thread& setter : setters)
    setter.join();
  done = true;
  watcher.join();

  EXPECT_GT(stored, 0);
  EXPECT_EQ(clashesSeen, 0);
  ServiceSettings service;
  OcpSettings ocp;
  ASSERT_EQ(manager.LoadServiceSettings(&service), 0);
  ASSERT_EQ(manager.LoadOcpSettings(&ocp), 0);
  EXPECT_FALSE(Clash(service, ocp));
}

}  // namespace
}  // namespace nolva
