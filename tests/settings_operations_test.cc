#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
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

struct Caller {
  const char16_t* name;
  const char16_t* password;
};

constexpr Caller kAdmin = {u"admin", u"kevla"};
const Caller kRefusedCallers[] = {
    {u"Admin", u"kevla"}, {u"admin", u"kevla!"}, {u"guest", u"kevla"}};

// One row per settings record: its file, its defaults and its two operations.
struct SettingsKind {
  const char* name;
  const char* path;
  std::string defaultBytes;
  StatusCode getFailure;
  StatusCode setFailure;
  StatusCode (*get)(DeviceManager&, const Caller&, void*);
  StatusCode (*set)(DeviceManager&, const Caller&, const void*);
};

void PrintTo(const SettingsKind& kind, std::ostream* os) {
  *os << kind.name;
}

const SettingsKind kKinds[] = {
    {"Network", kNetworkPath, kNetworkDefaultBytes, STATUS_GET_NETWORK_FAILED,
     STATUS_SET_NETWORK_FAILED,
     [](DeviceManager& m, const Caller& c, void* r) {
       return m.GetNetworkSettings(c.name, c.password, static_cast<NetworkSettings*>(r));
     },
     [](DeviceManager& m, const Caller& c, const void* r) {
       return m.SetNetworkSettings(c.name, c.password, static_cast<const NetworkSettings*>(r));
     }},
    {"Service", kServicePath, LittleEndian(kServiceDefaults), STATUS_GET_SERVICE_FAILED,
     STATUS_SET_SERVICE_FAILED,
     [](DeviceManager& m, const Caller& c, void* r) {
       return m.GetServiceSettings(c.name, c.password, static_cast<ServiceSettings*>(r));
     },
     [](DeviceManager& m, const Caller& c, const void* r) {
       return m.SetServiceSettings(c.name, c.password, static_cast<const ServiceSettings*>(r));
     }},
    {"Ocp", kOcpPath, LittleEndian(kOcpDefaults), STATUS_GET_OCP_FAILED, STATUS_SET_OCP_FAILED,
     [](DeviceManager& m, const Caller& c, void* r) {
       return m.GetOcpSettings(c.name, c.password, static_cast<OcpSettings*>(r));
     },
     [](DeviceManager& m, const Caller& c, const void* r) {
       return m.SetOcpSettings(c.name, c.password, static_cast<const OcpSettings*>(r));
     }},
};

class EachRecord : public BoardTest, public ::testing::WithParamInterface<SettingsKind> {
 protected:
  std::size_t Size() const { return GetParam().defaultBytes.size(); }

  // The defaults with the first word changed: 2 and 3 still mean "enabled".
  std::string Variant(char firstByte) const {
    std::string bytes = GetParam().defaultBytes;
    bytes[0] = firstByte;
    return bytes;
  }

  StatusCode Get(const Caller& caller, void* record) {
    return GetParam().get(manager, caller, record);
  }
  StatusCode Set(const Caller& caller, const std::string& bytes) {
    memcpy(record, bytes.data(), bytes.size());
    return GetParam().set(manager, caller, record);
  }
  std::string Record() const { return std::string(record, Size()); }

  DeviceManager manager;
  alignas(4) char record[64];
};

TEST_P(EachRecord, RefusedCallersNeitherReadNorWrite) {
  WriteBoardFile(GetParam().path, Variant(2));
  for (const Caller& caller : kRefusedCallers) {
    SCOPED_TRACE(::testing::Message() << "caller " << &caller - kRefusedCallers);
    memset(record, 0xA5, sizeof record);
    EXPECT_EQ(Get(caller, record), STATUS_AUTH_FAILED);
    EXPECT_EQ(Record(), std::string(Size(), '\xA5'));
    EXPECT_EQ(Set(caller, Variant(3)), STATUS_AUTH_FAILED);
    EXPECT_EQ(ReadBoardFile(GetParam().path), Variant(2));
  }
}

TEST_P(EachRecord, SetThenGetGivesBackTheSameBytes) {
  ASSERT_EQ(Set(kAdmin, Variant(3)), STATUS_OK);
  EXPECT_EQ(ReadBoardFile(GetParam().path), Variant(3));
  memset(record, 0, sizeof record);
  EXPECT_EQ(Get(kAdmin, record), STATUS_OK);
  EXPECT_EQ(Record(), Variant(3));
}

TEST_P(EachRecord, GetWithoutAFileGivesAndStoresTheDefaults) {
  memset(record, 0x5A, sizeof record);
  EXPECT_EQ(Get(kAdmin, record), STATUS_OK);
  EXPECT_EQ(Record(), GetParam().defaultBytes);
  EXPECT_EQ(ReadBoardFile(GetParam().path), GetParam().defaultBytes);
}

TEST_P(EachRecord, GetOfAShortFileFailsWithItsOwnCode) {
  const std::string stored = GetParam().defaultBytes.substr(0, Size() - 6);
  WriteBoardFile(GetParam().path, stored);
  memset(record, 0x5A, sizeof record);
  EXPECT_EQ(Get(kAdmin, record), GetParam().getFailure);
  EXPECT_EQ(Record(), stored + std::string(6, '\x5A'));
  EXPECT_EQ(ReadBoardFile(GetParam().path), stored);
}

TEST_P(EachRecord, MissingRecordFailsWithItsOwnCode) {
  EXPECT_EQ(GetParam().get(manager, kAdmin, nullptr), GetParam().getFailure);
  EXPECT_EQ(GetParam().set(manager, kAdmin, nullptr), GetParam().setFailure);
  EXPECT_EQ(FlashFileNames(), std::vector<std::string>{"nolva_user"});
}

TEST_P(EachRecord, FailedSaveReportsItsCodeAndKeepsTheOldFile) {
  ASSERT_EQ(Set(kAdmin, Variant(2)), STATUS_OK);  // also creates the user and companion files
  for (const char* fault : {"flash-full", "flash-readonly", "flash-rename-fails"}) {
    SCOPED_TRACE(fault);
    SetFault(fault);
    EXPECT_EQ(Set(kAdmin, Variant(3)), GetParam().setFailure);
    EXPECT_EQ(ReadBoardFile(GetParam().path), Variant(2));
    ClearFault(fault);
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, EachRecord, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

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
