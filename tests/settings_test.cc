// The settings records: each kept whole in its own flash file, read and
// written by the store and by the gated operations, and the port clash rule
// between the service and OCP records.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "store/replacement_file.h"
#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

// The store's calls and the operations of one record, on raw bytes.
struct Record {
  const char* name;
  const char* path;
  std::string defaults;
  StatusCode getFailure;
  StatusCode setFailure;
  std::int32_t (*load)(DeviceManager&, void*);
  std::int32_t (*save)(DeviceManager&, const void*);
  std::int32_t (*reset)(DeviceManager&, void*);
  StatusCode (*get)(DeviceManager&, void*);
  StatusCode (*set)(DeviceManager&, const void*);
};

template <typename T>
using Store = std::int32_t (DeviceManager::*)(T*);
template <typename T>
using Operation = StatusCode (DeviceManager::*)(const char16_t*, const char16_t*, T*);

template <typename T, Store<T> kLoad, Store<const T> kSave, Store<T> kReset, Operation<T> kGet,
          Operation<const T> kSet>
Record Row(const char* name, const char* path, const std::string& defaults, StatusCode getFailure,
           StatusCode setFailure) {
  return {name,
          path,
          defaults,
          getFailure,
          setFailure,
          [](DeviceManager& m, void* r) { return (m.*kLoad)(static_cast<T*>(r)); },
          [](DeviceManager& m, const void* r) { return (m.*kSave)(static_cast<const T*>(r)); },
          [](DeviceManager& m, void* r) { return (m.*kReset)(static_cast<T*>(r)); },
          [](DeviceManager& m, void* r) {
            return (m.*kGet)(kAdmin, kFactoryPassword, static_cast<T*>(r));
          },
          [](DeviceManager& m, const void* r) {
            return (m.*kSet)(kAdmin, kFactoryPassword, static_cast<const T*>(r));
          }};
}

void PrintTo(const Record& record, std::ostream* out) {
  *out << record.name;
}

using M = DeviceManager;
const Record kRecords[] = {
    Row<NetworkSettings, &M::LoadNetworkSettings, &M::SaveNetworkSettings, &M::ResetNetworkSettings,
        &M::GetNetworkSettings, &M::SetNetworkSettings>(
        "Network", "/flash/nolva_system", kNetworkDefaultBytes, STATUS_GET_NETWORK_FAILED,
        STATUS_SET_NETWORK_FAILED),
    Row<ServiceSettings, &M::LoadServiceSettings, &M::SaveServiceSettings, &M::ResetServiceSettings,
        &M::GetServiceSettings, &M::SetServiceSettings>(
        "Service", "/flash/nolva_service", LittleEndian(kServiceDefaults),
        STATUS_GET_SERVICE_FAILED, STATUS_SET_SERVICE_FAILED),
    Row<OcpSettings, &M::LoadOcpSettings, &M::SaveOcpSettings, &M::ResetOcpSettings,
        &M::GetOcpSettings, &M::SetOcpSettings>("Ocp", "/flash/nolva_ocp",
                                                LittleEndian(kOcpDefaults), STATUS_GET_OCP_FAILED,
                                                STATUS_SET_OCP_FAILED),
};

class Settings : public DeviceTest, public ::testing::WithParamInterface<Record> {
 protected:
  std::size_t Size() const { return GetParam().defaults.size(); }
  // The defaults with the first word changed: 2 and 3 still mean "enabled",
  // so the records clash with nothing.
  std::string Variant(char firstByte) const {
    std::string bytes = GetParam().defaults;
    bytes[0] = firstByte;
    return bytes;
  }
  std::string Held() const { return std::string(record, Size()); }
  void Fill(char byte) { std::memset(record, byte, sizeof record); }
  void Put(const std::string& bytes) { std::memcpy(record, bytes.data(), bytes.size()); }
  std::string Stored() const { return ReadBoardFile(GetParam().path); }

  alignas(4) char record[64];
};

// A short file fails, keeping the caller's tail and the file.
TEST_P(Settings, ShortFileFailsToLoadAndIsNotRepaired) {
  const std::string stored = Variant(2).substr(0, Size() - 6);
  WriteBoardFile(GetParam().path, stored);
  Fill(0x5A);
  EXPECT_EQ(GetParam().load(manager, record), -1);
  EXPECT_EQ(Held(), stored + std::string(6, '\x5A'));
  EXPECT_EQ(GetParam().get(manager, record), GetParam().getFailure);
  EXPECT_EQ(Stored(), stored) << "a load never repairs";
}

TEST_P(Settings, LongFileGivesItsFirstBytes) {
  WriteBoardFile(GetParam().path, Variant(3) + "tail");
  Fill(0x5A);
  EXPECT_EQ(GetParam().load(manager, record), 0);
  EXPECT_EQ(Held(), Variant(3));
  EXPECT_EQ(Stored(), Variant(3) + "tail");
}

TEST_P(Settings, GetWithoutAFileGivesAndStoresTheDefaults) {
  Fill(0x5A);
  EXPECT_EQ(GetParam().get(manager, record), STATUS_OK);
  EXPECT_EQ(Held(), GetParam().defaults);
  EXPECT_EQ(Stored(), GetParam().defaults);
}

TEST_P(Settings, SetStoresEveryByteAndGetGivesThemBack) {
  Put(Variant(3));
  ASSERT_EQ(GetParam().set(manager, record), STATUS_OK);
  EXPECT_EQ(Stored(), Variant(3));
  Fill(0);
  EXPECT_EQ(GetParam().get(manager, record), STATUS_OK);
  EXPECT_EQ(Held(), Variant(3));
}

TEST_P(Settings, SaveReplacesTheStoredRecord) {
  WriteBoardFile(GetParam().path, Variant(3));
  Put(Variant(2));
  ASSERT_EQ(GetParam().save(manager, record), 0);
  EXPECT_EQ(Stored(), Variant(2));
}

// Done means durable: the directory is synced after the rename.
TEST_P(Settings, SaveSyncsTheFolderAfterTheRename) {
  Put(Variant(2));
  ASSERT_EQ(GetParam().save(manager, record), 0);
  const std::vector<std::string> log = LogLines();
  const auto rename = std::find_if(log.rbegin(), log.rend(), [](const std::string& line) {
    return line.rfind("rename ", 0) == 0;
  });
  EXPECT_NE(std::find(log.rbegin(), rename, "fsync /flash"), rename);
}

TEST_P(Settings, ResetGivesAndStoresTheDefaults) {
  WriteBoardFile(GetParam().path, Variant(2));
  Fill(0x5A);
  EXPECT_EQ(GetParam().reset(manager, record), 0);
  EXPECT_EQ(Held(), GetParam().defaults);
  EXPECT_EQ(Stored(), GetParam().defaults);
}

TEST_P(Settings, MissingRecordIsRefusedWithoutTouchingTheFlash) {
  EXPECT_EQ(GetParam().load(manager, nullptr), -1);
  EXPECT_EQ(GetParam().save(manager, nullptr), -1);
  EXPECT_EQ(GetParam().reset(manager, nullptr), -1);
  EXPECT_FALSE(BoardFileExists(GetParam().path));
  EXPECT_EQ(GetParam().get(manager, nullptr), GetParam().getFailure);
  EXPECT_EQ(GetParam().set(manager, nullptr), GetParam().setFailure);
  EXPECT_FALSE(BoardFileExists(GetParam().path));
}

// A save that fails at any step, a write cut short by a full flash
// included, keeps the old file whole and leaves no temporary file.
TEST_P(Settings, FailedSaveKeepsTheOldFile) {
  Put(Variant(2));
  ASSERT_EQ(GetParam().set(manager, record), STATUS_OK);
  const auto files = FlashFileNames();
  const struct {
    const char* name;
    const char* fault;
    const char* value;
  } faults[] = {{"full flash", "flash-full", ""},
                {"write cut short after 10 bytes", "flash-full", "10"},
                {"read-only flash", "flash-readonly", ""},
                {"failed fsync", "flash-fsync-fails", ""},
                {"failed rename", "flash-rename-fails", ""}};
  for (const auto& f : faults) {
    SCOPED_TRACE(f.name);
    SetFault(f.fault, f.value);
    Put(Variant(3));
    EXPECT_EQ(GetParam().save(manager, record), -1);
    EXPECT_EQ(GetParam().set(manager, record), GetParam().setFailure);
    EXPECT_EQ(GetParam().reset(manager, record), -1);
    ClearFault(f.fault);
    EXPECT_EQ(Stored(), Variant(2));
    EXPECT_EQ(FlashFileNames(), files);
  }
}

// With standard input closed the temporary file gets descriptor 0, which
// counts as a failed open (QUIRK): the save fails, keeps the old file and
// removes the temporary one.
TEST_P(Settings, SaveOnDescriptor0FailsAndLeavesNoTemporaryFile) {
  Put(Variant(2));
  ASSERT_EQ(GetParam().set(manager, record), STATUS_OK);
  const auto files = FlashFileNames();
  Put(Variant(3));
  const int input = dup(0);
  close(0);
  const std::int32_t saved = GetParam().save(manager, record);
  dup2(input, 0);
  close(input);
  EXPECT_EQ(saved, -1);
  EXPECT_EQ(Stored(), Variant(2));
  EXPECT_EQ(FlashFileNames(), files);
}

INSTANTIATE_TEST_SUITE_P(Records, Settings, ::testing::ValuesIn(kRecords), RowName());

// The user file's saves fail the same way, the chunked write cut in its
// second chunk included.
TEST_F(DeviceTest, FailedUserFileSaveKeepsTheOldFile) {
  std::string text;
  for (int i = 0; i < 120; ++i)
    text += "user" + std::to_string(i) + ":" + std::string(39, 'D') + "\n";
  WriteUsers(text);
  UserTable table;
  ASSERT_EQ(manager.LoadUsers(&table), kAccountDone);
  const struct {
    const char* name;
    const char* budget;
  } cases[] = {{"full flash", ""}, {"write cut in its second chunk", "5000"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetFault("flash-full", c.budget);
    EXPECT_EQ(manager.SaveUsers(&table), kAccountRefused);
    EXPECT_EQ(manager.RemoveUser("user1"), kAccountRefused);
    EXPECT_EQ(manager.AppendUser("carol", "pw"), kAccountRefused);
    ClearFault("flash-full");
    EXPECT_EQ(Users(), text);
    EXPECT_EQ(FlashFileNames(), std::vector<std::string>{"nolva_user"});
  }
}

// The guarded save itself: once a step has failed Commit reports a failure
// and changes nothing, whatever its caller did with the result of Write.
TEST_F(DeviceTest, ReplacementCommitsNothingAfterAFailedStep) {
  {
    ReplacementFile unopened("/flash/no-such-folder/file");
    EXPECT_FALSE(unopened.Write("new", 3));
    EXPECT_EQ(unopened.Commit(), -1);
  }
  {
    SetFault("flash-full", "");
    ReplacementFile full("/flash/file");
    EXPECT_FALSE(full.Write("new", 3));
    ClearFault("flash-full");
    EXPECT_EQ(full.Commit(), -1);
  }
  EXPECT_TRUE(FlashFileNames().empty());
}

// Once the file is in place, a second Commit fails and leaves it.
TEST_F(DeviceTest, ReplacementCommitsOnlyOnce) {
  ReplacementFile twice("/flash/file");
  ASSERT_TRUE(twice.Write("new", 3));
  EXPECT_EQ(twice.Commit(), 0);
  EXPECT_EQ(twice.Commit(), -1);
  EXPECT_EQ(ReadBoardFile("/flash/file"), "new");
}

// Only a missing file means a factory-fresh device: one that cannot be
// opened (here a link to itself) is not replaced.
TEST_F(DeviceTest, FilesThatCannotBeOpenedAreNotReplaced) {
  const char* names[] = {"nolva_system", "nolva_service", "nolva_ocp", "nolva_user"};
  for (const char* name : names)
    std::filesystem::create_symlink(name, Board() + "/flash/" + name);
  NetworkSettings network;
  UserTable users;
  const struct {
    const char* name;
    std::int32_t result;
    std::int32_t expected;
  } loads[] = {
      {"network", manager.LoadNetworkSettings(&network), -1},
      {"service", manager.LoadServiceSettings(&manager.serviceSettings), -1},
      {"ocp", manager.LoadOcpSettings(&manager.ocpSettings), -1},
      {"users", manager.LoadUsers(&users), kAccountRefused},
  };
  for (const auto& load : loads)
    EXPECT_EQ(load.result, load.expected) << load.name;
  for (const char* name : names)
    EXPECT_TRUE(std::filesystem::is_symlink(Board() + "/flash/" + name)) << name;
}

TEST_F(DeviceTest, LoadSettingsHoldsBothRecords) {
  EXPECT_EQ(manager.LoadSettings(), 0);
  EXPECT_EQ(BytesOf(manager.serviceSettings), LittleEndian(kServiceDefaults));
  EXPECT_EQ(BytesOf(manager.ocpSettings), LittleEndian(kOcpDefaults));
  EXPECT_EQ(ReadBoardFile("/flash/nolva_ocp"), LittleEndian(kOcpDefaults));
}

TEST_F(DeviceTest, LoadSettingsReportsTheOcpLoadAlone) {
  const std::string service = LittleEndian({9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
  WriteBoardFile("/flash/nolva_service", service);
  EXPECT_EQ(manager.LoadSettings(), 0) << "a short service file is not reported";
  EXPECT_EQ(BytesOf(manager.serviceSettings).substr(0, 40), service);
  WriteBoardFile("/flash/nolva_ocp", "short");
  EXPECT_EQ(manager.LoadSettings(), -1);
}

// --- Port clashes -----------------------------------------------------------

ServiceSettings Service(std::int32_t primaryOn = 1, std::int32_t primaryPort = 9100,
                        std::int32_t secondaryOn = 1, std::int32_t secondaryPort = 11110) {
  auto settings = RecordOf<ServiceSettings>(kServiceDefaults);
  settings.primaryEnabled = primaryOn;
  settings.primaryPort = primaryPort;
  settings.secondaryEnabled = secondaryOn;
  settings.secondaryPort = secondaryPort;
  return settings;
}

OcpSettings Ocp(std::int32_t enabled, std::int32_t port) {
  auto settings = RecordOf<OcpSettings>(kOcpDefaults);
  settings.ocpEnabled = enabled;
  settings.ocpPort = port;
  return settings;
}

// The record set is checked against the other, stored one; a service record
// also against itself, never against the one it replaces.
enum RecordSet { kSetService, kSetOcp };
// How the other record stands on the flash: as the row gives it, missing
// (created with its defaults first) or a byte short.
enum Companion { kStored, kMissing, kShort };

struct ClashCase {
  const char* name;
  RecordSet set;
  Companion companion;
  ServiceSettings service;
  OcpSettings ocp;
  StatusCode expected;
};

constexpr StatusCode kOk = STATUS_OK, kRefused = STATUS_REFUSED;
const ClashCase kClashes[] = {
    {"Defaults", kSetService, kStored, Service(1, 9100, 1, 11110), Ocp(1, 23), kOk},
    {"PrimaryOnTheSecondaryPort", kSetService, kStored, Service(1, 5000, 1, 5000), Ocp(1, 23),
     kRefused},
    {"DisabledSecondaryOnThePrimaryPort", kSetService, kStored, Service(1, 5000, 0, 5000),
     Ocp(1, 23), kOk},
    {"DisabledPrimaryOnTheSecondaryPort", kSetService, kStored, Service(0, 5000, 1, 5000),
     Ocp(1, 23), kOk},
    {"PrimaryOnTheOcpPort", kSetService, kStored, Service(1, 23, 1, 11110), Ocp(1, 23), kRefused},
    {"PrimaryOnADisabledOcpPort", kSetService, kStored, Service(1, 23, 1, 11110), Ocp(0, 23), kOk},
    {"SecondaryOnTheOcpPort", kSetService, kStored, Service(1, 9100, 1, 23), Ocp(1, 23), kRefused},
    {"DisabledSecondaryOnTheOcpPort", kSetService, kStored, Service(1, 9100, 0, 23), Ocp(1, 23),
     kOk},
    {"AnyNonZeroFlagEnables", kSetService, kStored, Service(2, 23, 0, 11110), Ocp(-7, 23),
     kRefused},
    {"PortsDifferingAboveBit16", kSetService, kStored, Service(1, 23 + 65536, 1, 23 - 65536),
     Ocp(1, 23), kOk},
    {"MissingOcpIsCreatedThenChecked", kSetService, kMissing, Service(1, 23, 0, 0), Ocp(1, 23),
     kRefused},
    {"ShortOcpRefusesEvenAllDisabled", kSetService, kShort, Service(0, 1, 0, 2), Ocp(1, 23),
     kRefused},
    {"OcpOnThePrimaryPort", kSetOcp, kStored, Service(1, 9100, 1, 11110), Ocp(1, 9100), kRefused},
    {"DisabledOcpOnThePrimaryPort", kSetOcp, kStored, Service(1, 9100, 1, 11110), Ocp(0, 9100),
     kOk},
    {"OcpOnADisabledPrimaryPort", kSetOcp, kStored, Service(0, 9100, 1, 11110), Ocp(1, 9100), kOk},
    {"OcpOnTheSecondaryPort", kSetOcp, kStored, Service(1, 9100, 1, 11110), Ocp(1, 11110),
     kRefused},
    {"OcpOnADisabledSecondaryPort", kSetOcp, kStored, Service(1, 9100, 0, 11110), Ocp(1, 11110),
     kOk},
    {"StoredServicesSharingAPort", kSetOcp, kStored, Service(1, 5000, 1, 5000), Ocp(1, 23), kOk},
    {"MissingServiceIsCreatedThenChecked", kSetOcp, kMissing, Service(), Ocp(1, 9100), kRefused},
    {"ShortServiceRefusesEvenADisabledOcp", kSetOcp, kShort, Service(), Ocp(0, 23), kRefused},
};

void PrintTo(const ClashCase& c, std::ostream* out) {
  *out << c.name;
}

class Clashes : public DeviceTest, public ::testing::WithParamInterface<ClashCase> {};

TEST_P(Clashes, StoreOnlyARecordWithoutClashes) {
  const ClashCase& c = GetParam();
  const bool service = c.set == kSetService;
  const char* path = service ? "/flash/nolva_service" : "/flash/nolva_ocp";
  const char* other = service ? "/flash/nolva_ocp" : "/flash/nolva_service";
  const std::string companion = service ? BytesOf(c.ocp) : BytesOf(c.service);
  WriteBoardFile(path, "previous record");
  if (c.companion != kMissing)
    WriteBoardFile(other, companion.substr(c.companion == kShort ? 1 : 0));
  EXPECT_EQ(service ? manager.SetServiceSettings(kAdmin, kFactoryPassword, &c.service)
                    : manager.SetOcpSettings(kAdmin, kFactoryPassword, &c.ocp),
            c.expected);
  EXPECT_EQ(ReadBoardFile(path), c.expected != kOk ? "previous record"
                                 : service         ? BytesOf(c.service)
                                                   : BytesOf(c.ocp));
  if (c.companion == kMissing) {
    EXPECT_EQ(ReadBoardFile(other), LittleEndian(service ? kOcpDefaults : kServiceDefaults));
  }
}

INSTANTIATE_TEST_SUITE_P(Ports, Clashes, ::testing::ValuesIn(kClashes), RowName());

}  // namespace
}  // namespace nolva::test
