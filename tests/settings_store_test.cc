#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "store/device_manager.h"
#include "tests/record_bytes.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::BoardTest;

// The service and OCP records behave alike; each test runs over both.
struct RecordKind {
  const char* name;
  const char* path;
  const std::vector<std::int32_t>* defaults;
  std::size_t shortWords;  // a truncated file that must not load
  std::int32_t (*load)(DeviceManager&, void*);
  std::int32_t (*save)(DeviceManager&, const void*);
};

const RecordKind kKinds[] = {
    {"Service", "/flash/nolva_service", &kServiceDefaults, 10,
     [](DeviceManager& m, void* r) {
       return m.LoadServiceSettings(static_cast<ServiceSettings*>(r));
     },
     [](DeviceManager& m, const void* r) {
       return m.SaveServiceSettings(static_cast<const ServiceSettings*>(r));
     }},
    {"Ocp", "/flash/nolva_ocp", &kOcpDefaults, 5,
     [](DeviceManager& m, void* r) { return m.LoadOcpSettings(static_cast<OcpSettings*>(r)); },
     [](DeviceManager& m, const void* r) {
       return m.SaveOcpSettings(static_cast<const OcpSettings*>(r));
     }},
};

void PrintTo(const RecordKind& kind, std::ostream* os) {
  *os << kind.name;
}

// Every word distinct and none a default, extremes included.
std::vector<std::int32_t> Pattern(std::size_t words) {
  std::vector<std::int32_t> pattern = {INT32_MIN, -1, 0x7FFFFFFF, 0x40000000, 0x01020304};
  for (std::int32_t i = 0; pattern.size() < words; ++i)
    pattern.push_back(1000 + i);
  pattern.resize(words);
  return pattern;
}

class RecordStore : public BoardTest, public ::testing::WithParamInterface<RecordKind> {
 protected:
  std::size_t Words() const { return GetParam().defaults->size(); }
  std::vector<std::int32_t> Filled(std::int32_t word) const {
    return std::vector<std::int32_t>(Words(), word);
  }

  DeviceManager manager;
};

TEST_P(RecordStore, MissingFileLoadsAndStoresTheDefaults) {
  std::vector<std::int32_t> record = Filled(0x5A5A5A5A);
  EXPECT_EQ(GetParam().load(manager, record.data()), 0);
  EXPECT_EQ(record, *GetParam().defaults);
  EXPECT_EQ(ReadBoardFile(GetParam().path), LittleEndian(*GetParam().defaults));
}

TEST_P(RecordStore, ShortFileFailsWithTheUnreadWordsKept) {
  std::vector<std::int32_t> stored = Pattern(GetParam().shortWords);
  WriteBoardFile(GetParam().path, LittleEndian(stored));
  std::vector<std::int32_t> record = Filled(0x77);

  EXPECT_EQ(GetParam().load(manager, record.data()), -1);
  std::vector<std::int32_t> expected = stored;
  expected.resize(Words(), 0x77);
  EXPECT_EQ(record, expected);
  EXPECT_EQ(ReadBoardFile(GetParam().path), LittleEndian(stored)) << "a load never repairs";
}

TEST_P(RecordStore, LongFileLoadsItsFirstBytes) {
  std::vector<std::int32_t> stored = Pattern(Words());
  std::string file = LittleEndian(stored) + "\x01\x02";
  WriteBoardFile(GetParam().path, file);
  std::vector<std::int32_t> record = Filled(0);

  EXPECT_EQ(GetParam().load(manager, record.data()), 0);
  EXPECT_EQ(record, stored);
  EXPECT_EQ(ReadBoardFile(GetParam().path), file);
}

TEST_P(RecordStore, SaveThenLoadKeepsEveryWord) {
  std::vector<std::int32_t> saved = Pattern(Words());
  ASSERT_EQ(GetParam().save(manager, saved.data()), 0);
  EXPECT_EQ(ReadBoardFile(GetParam().path), LittleEndian(saved));

  std::vector<std::int32_t> loaded = Filled(0);
  EXPECT_EQ(GetParam().load(manager, loaded.data()), 0);
  EXPECT_EQ(loaded, saved);
}

// Out of descriptors is not a factory-fresh device: the stored record stays.
TEST_P(RecordStore, FileThatCannotBeOpenedIsNotReplaced) {
  std::vector<std::int32_t> stored = Pattern(Words());
  WriteBoardFile(GetParam().path, LittleEndian(stored));
  std::vector<std::int32_t> record = Filled(0x77);

  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  rlimit none = limit;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const std::int32_t result = GetParam().load(manager, record.data());
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);

  EXPECT_EQ(result, -1);
  EXPECT_EQ(record, Filled(0x77));
  EXPECT_EQ(ReadBoardFile(GetParam().path), LittleEndian(stored));
}

INSTANTIATE_TEST_SUITE_P(Settings, RecordStore, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

class LoadSettings : public BoardTest {
 protected:
  DeviceManager manager;
};

TEST_F(LoadSettings, WithoutFilesStoresAndHoldsBothDefaults) {
  EXPECT_EQ(manager.LoadSettings(), 0);
  EXPECT_EQ(BytesOf(manager.serviceSettings), LittleEndian(kServiceDefaults));
  EXPECT_EQ(BytesOf(manager.ocpSettings), LittleEndian(kOcpDefaults));
  EXPECT_EQ(ReadBoardFile("/flash/nolva_service"), LittleEndian(kServiceDefaults));
  EXPECT_EQ(ReadBoardFile("/flash/nolva_ocp"), LittleEndian(kOcpDefaults));
}

TEST_F(LoadSettings, ReportsOnlyTheOcpLoad) {
  std::vector<std::int32_t> ocp = Pattern(7);
  WriteBoardFile("/flash/nolva_service", LittleEndian(Pattern(10)));
  WriteBoardFile("/flash/nolva_ocp", LittleEndian(ocp));
  EXPECT_EQ(manager.LoadSettings(), 0) << "a short service file is not reported";
  EXPECT_EQ(BytesOf(manager.serviceSettings).substr(0, 40), LittleEndian(Pattern(10)));
  EXPECT_EQ(BytesOf(manager.ocpSettings), LittleEndian(ocp));

  WriteBoardFile("/flash/nolva_service", LittleEndian(kServiceDefaults));
  WriteBoardFile("/flash/nolva_ocp", LittleEndian(Pattern(5)));
  EXPECT_EQ(manager.LoadSettings(), -1);
  EXPECT_EQ(BytesOf(manager.serviceSettings), LittleEndian(kServiceDefaults));
}

}  // namespace
}  // namespace nolva
