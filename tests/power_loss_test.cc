// Every save the device makes, cut by a power loss at every step that reaches
// the flash: after the "reboot" each file is whole, old or new, and the boot
// program and a fresh manager come up with a valid configuration.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/device_manager.h"
#include "tests/support/board_test.h"
#include "tests/support/power_cut.h"

namespace nolva::test {
namespace {

namespace fs = std::filesystem;

constexpr NetworkSettings kStaticNetwork = {0, {10, 0, 0, 5}, {255, 0, 0, 0}, {10, 0, 0, 1}};
const std::string kInterfacesHead = "auto lo eth0\niface lo inet loopback\niface eth0 inet ";
constexpr NetworkSettings kOtherNetwork = {0, {172, 16, 1, 2}, {255, 255, 0, 0}, {172, 16, 0, 1}};
constexpr ServiceSettings kOtherService = {2, 1, 0, 8080, 7, 8, 9, 10, 11110, 12, 13};
constexpr OcpSettings kOtherOcp = {0, 5, 6, 7, 8, 9100, 10};

UserTable Accounts(DeviceManager& manager, std::initializer_list<const char*> names) {
  UserTable table = {};
  for (const char* name : names) {
    UserEntry& entry = table.entries[table.count++];
    std::snprintf(entry.name, sizeof entry.name, "%s", name);
    manager.MakePasswordDigest(entry.digest, std::strcmp(name, "admin") == 0 ? "kevla" : name);
  }
  return table;
}

void SaveAccounts(DeviceManager& manager, std::initializer_list<const char*> names) {
  const UserTable table = Accounts(manager, names);
  manager.SaveUsers(&table);
}

void WriteFlashFile(const char* path, const char* bytes, std::size_t size) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return;
  std::fwrite(bytes, 1, size, file);
  std::fclose(file);
}

void Nothing(DeviceManager&) {}

struct SaveCase {
  const char* name;
  void (*arrange)(DeviceManager&);  // the state before the save, made without faults
  void (*save)(DeviceManager&);     // the save, cut short; nullptr: the boot program
  std::vector<std::string> files;   // what it changes
};

void PrintTo(const SaveCase& c, std::ostream* out) {
  *out << c.name;
}

const SaveCase kSaves[] = {
    {"SaveNetworkSettings",
     [](DeviceManager& m) { m.SaveNetworkSettings(&kStaticNetwork); },
     [](DeviceManager& m) { m.SaveNetworkSettings(&kOtherNetwork); },
     {"/flash/nolva_system"}},
    {"BootCreatingTheNetworkRecord", Nothing, nullptr, {"/flash/nolva_system"}},
    {"BootReplacingAShortNetworkRecord",
     [](DeviceManager&) { WriteFlashFile("/flash/nolva_system", "\0\0\0\0\x0A\0", 6); },
     nullptr,
     {"/flash/nolva_system"}},
    {"SetServiceSettingsCreatingTheOcpRecord",
     Nothing,
     [](DeviceManager& m) { m.SetServiceSettings(u"admin", u"kevla", &kOtherService); },
     {"/flash/nolva_ocp", "/flash/nolva_service", "/flash/nolva_user"}},
    {"SaveUsersOfMoreThanOneWrite",
     [](DeviceManager& m) {
       SaveAccounts(m, {"admin", "bob"});
     },
     [](DeviceManager& m) {
       UserTable table = Accounts(m, {"admin"});
       while (table.count < 120) {
         UserEntry& entry = table.entries[table.count];
         std::snprintf(entry.name, sizeof entry.name, "user%d", table.count++);
         std::memcpy(entry.digest, table.entries[0].digest, sizeof entry.digest);
       }
       m.SaveUsers(&table);
     },
     {"/flash/nolva_user"}},
    {"AddUser",
     [](DeviceManager& m) {
       SaveAccounts(m, {"admin", "bob"});
     },
     [](DeviceManager& m) { m.AddUser(u"admin", u"kevla", u"carol", u"carol"); },
     {"/flash/nolva_user"}},
    {"FactoryReset",
     [](DeviceManager& m) {
       SaveAccounts(m, {"admin", "bob"});
       m.SaveNetworkSettings(&kStaticNetwork);
       m.LoadSettings();
       mkdir("/flash/ocp", 0755);
       WriteFlashFile("/flash/ocp/state", "x", 1);
     },
     [](DeviceManager& m) { m.FactoryReset(u"admin", u"kevla"); },
     {"/flash/nolva_user", "/flash/nolva_system", "/flash/nolva_service", "/flash/nolva_ocp"}},
    {"LoginCreatingTheDefaultAccount",
     Nothing,
     [](DeviceManager& m) { m.Login(u"admin", u"kevla"); },
     {"/flash/nolva_user"}},
};

class PowerLoss : public BoardTest, public ::testing::WithParamInterface<SaveCase> {
 protected:
  using Contents = std::vector<std::optional<std::string>>;

  std::string Flash() const { return Board() + "/flash"; }
  std::string Kept() const { return Board() + "/flash-before-the-save"; }

  void KeepFlash() const { fs::copy(Flash(), Kept(), fs::copy_options::recursive); }
  void RestoreFlash() const {
    fs::remove_all(Flash());
    fs::copy(Kept(), Flash(), fs::copy_options::recursive);
  }

  Contents Files() const {
    Contents contents;
    for (const std::string& file : GetParam().files) {
      contents.push_back(BoardFileExists(file) ? std::optional(ReadBoardFile(file)) : std::nullopt);
    }
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

  // What a cut may leave: each file as it was, or as the save made it.
  void ExpectOldOrNew(const Contents& old, const Contents& now, long steps) const {
    const Contents after = Files();
    for (std::size_t i = 0; i < after.size(); ++i) {
      EXPECT_TRUE(after[i] == old[i] || after[i] == now[i])
          << GetParam().files[i] << " is neither old nor new after a cut at step " << steps << ": "
          << after[i].value_or("<absent>").size() << " bytes";
    }
  }

  // The reboot: the boot program, then a manager of a fresh process.
  void ExpectTheBoardComesUp(long steps) const {
    const ProgramResult boot = RunProgram(NOLVA_BOOT_PATH);
    EXPECT_EQ(boot.exitStatus, 0) << "boot after a cut at step " << steps;
    const std::string record = ReadBoardFile("/flash/nolva_system");
    EXPECT_EQ(record.size(), sizeof(NetworkSettings)) << "after a cut at step " << steps;
    EXPECT_EQ(ReadBoardFile("/etc/network/interfaces").rfind(kInterfacesHead, 0), 0u);
    DeviceManager manager;
    NetworkSettings network;
    EXPECT_EQ(manager.LoadNetworkSettings(&network), 0) << "after a cut at step " << steps;
    UserTable users;
    EXPECT_EQ(manager.LoadUsers(&users), 0) << "after a cut at step " << steps;
    EXPECT_GT(users.count, 0) << "after a cut at step " << steps;
    EXPECT_EQ(manager.LoadSettings(), 0) << "after a cut at step " << steps;
    ServiceSettings service;
    EXPECT_EQ(manager.LoadServiceSettings(&service), 0) << "after a cut at step " << steps;
  }
};

TEST_P(PowerLoss, EveryCutLeavesTheOldOrTheNewFileAndABoardThatComesUp) {
  {
    DeviceManager manager;
    GetParam().arrange(manager);
  }
  const Contents old = Files();
  KeepFlash();

  const CutRun whole = Run(-1);
  ASSERT_FALSE(whole.cut);
  ASSERT_GT(whole.steps, 0) << "the save reached no flash step";
  const Contents now = Files();
  ASSERT_NE(old, now) << "the save changed nothing";

  for (long steps = 0; steps < whole.steps; ++steps) {
    RestoreFlash();
    const CutRun run = Run(steps);
    ASSERT_TRUE(run.cut) << "no cut at step " << steps;
    ExpectOldOrNew(old, now, steps);
    ExpectTheBoardComesUp(steps);
  }
  std::printf("power loss: %s cut at each of its %ld steps\n", GetParam().name, whole.steps);
  RecordProperty("cut_points", static_cast<int>(whole.steps));
}

INSTANTIATE_TEST_SUITE_P(Saves, PowerLoss, ::testing::ValuesIn(kSaves),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nolva::test
