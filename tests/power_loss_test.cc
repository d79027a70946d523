// Each distinct way the device saves, cut by a power loss at every step that
// reaches the flash: after the "reboot" each file is whole, old or new, and
// the boot program and a fresh manager come up with a valid configuration.
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/device_test_support.h"
#include "tests/support/power_cut.h"

namespace nolva::test {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

constexpr ServiceSettings kOtherService = {2, 1, 0, 8080, 7, 8, 9, 10, 11110, 12, 13};
const std::string kUsers = kFactoryLine + "bob:0123456789ABCDEF0123456789ABCDEF\n";

struct SaveCase {
  const char* name;
  Files before;                    // the flash before the save
  void (*save)(DeviceManager&);    // the save, cut short; nullptr: the boot program
  std::vector<std::string> files;  // what it changes
};

void PrintTo(const SaveCase& c, std::ostream* out) {
  *out << c.name;
}

const SaveCase kSaves[] = {
    {"BootCreatingTheNetworkRecord", {}, nullptr, {"/flash/nolva_system"}},
    {"BootReplacingAShortNetworkRecord",
     {{"/flash/nolva_system", "short"}},
     nullptr,
     {"/flash/nolva_system"}},
    {"SetServiceSettingsCreatingTheOcpRecord",
     {},
     [](DeviceManager& m) { m.SetServiceSettings(kAdmin, kFactoryPassword, &kOtherService); },
     {"/flash/nolva_ocp", "/flash/nolva_service", "/flash/nolva_user"}},
    {"SaveUsersOfMoreThanOneWrite",
     {{"/flash/nolva_user", kUsers}},
     [](DeviceManager& m) {
       static UserTable table;
       for (table.count = 0; table.count < 120; ++table.count) {
         std::snprintf(table.entries[table.count].name, 20, "user%d", table.count);
         m.MakePasswordDigest(table.entries[table.count].digest, "pw");
       }
       m.SaveUsers(&table);
     },
     {"/flash/nolva_user"}},
    {"AddUser",
     {{"/flash/nolva_user", kUsers}},
     [](DeviceManager& m) { m.AddUser(kAdmin, kFactoryPassword, u"carol", u"carol"); },
     {"/flash/nolva_user"}},
    {"FactoryReset",
     {{"/flash/nolva_user", kUsers},
      {"/flash/nolva_system", kNetworkStaticBytes},
      {"/flash/nolva_ocp", LittleEndian(kOcpDefaults)}},
     [](DeviceManager& m) { m.FactoryReset(kAdmin, kFactoryPassword); },
     {"/flash/nolva_user", "/flash/nolva_system", "/flash/nolva_ocp"}},
    {"LoginCreatingTheDefaultAccount",
     {},
     [](DeviceManager& m) { m.Login(kAdmin, kFactoryPassword); },
     {"/flash/nolva_user"}},
};

class PowerLoss : public BoardTest, public ::testing::WithParamInterface<SaveCase> {
 protected:
  using Contents = std::vector<std::optional<std::string>>;

  std::string Flash() const { return Board() + "/flash"; }
  std::string Kept() const { return Board() + "/flash-before-the-save"; }

  Contents Changed() const {
    Contents contents;
    for (const std::string& file : GetParam().files)
      contents.push_back(BoardFileExists(file) ? std::optional(ReadBoardFile(file)) : std::nullopt);
    return contents;
  }

  CutRun Run(long steps) const {
    return RunUntilPowerCut(Board(), steps, [this] {
      if (GetParam().save == nullptr) {
        RunProgram(NOLVA_BOOT_PATH);
        return;
      }
      DeviceManager manager;
      GetParam().save(manager);
    });
  }

  // The reboot: the boot program, then a manager of a fresh process.
  void ExpectTheBoardComesUp() const {
    EXPECT_EQ(RunProgram(NOLVA_BOOT_PATH).exitStatus, 0);
    EXPECT_EQ(ReadBoardFile("/flash/nolva_system").size(), sizeof(NetworkSettings));
    EXPECT_EQ(ReadBoardFile("/etc/network/interfaces").rfind("auto lo eth0\n", 0), 0u);
    DeviceManager manager;
    UserTable users;
    EXPECT_EQ(manager.LoadUsers(&users), 0);
    EXPECT_GT(users.count, 0);
    EXPECT_EQ(manager.LoadSettings(), 0);
    EXPECT_EQ(manager.LoadServiceSettings(&manager.serviceSettings), 0);
  }
};

TEST_P(PowerLoss, EveryCutLeavesTheOldOrTheNewFileAndABoardThatComesUp) {
  for (const auto& [path, bytes] : GetParam().before)
    WriteBoardFile(path, bytes);
  const Contents old = Changed();
  fs::copy(Flash(), Kept(), fs::copy_options::recursive);

  const CutRun whole = Run(-1);
  ASSERT_FALSE(whole.cut);
  ASSERT_GT(whole.steps, 0) << "the save reached no flash step";
  const Contents now = Changed();
  ASSERT_NE(old, now) << "the save changed nothing";

  for (long steps = 0; steps < whole.steps; ++steps) {
    SCOPED_TRACE("a cut at step " + std::to_string(steps));
    fs::remove_all(Flash());
    fs::copy(Kept(), Flash(), fs::copy_options::recursive);
    ASSERT_TRUE(Run(steps).cut);
    const Contents after = Changed();
    for (std::size_t i = 0; i < after.size(); ++i)
      EXPECT_TRUE(after[i] == old[i] || after[i] == now[i]) << GetParam().files[i];
    ExpectTheBoardComesUp();
  }
  std::printf("power loss: %s cut at each of its %ld steps\n", GetParam().name, whole.steps);
}

INSTANTIATE_TEST_SUITE_P(Saves, PowerLoss, ::testing::ValuesIn(kSaves),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nolva::test
