// Threads on one manager: no change is lost and no clashing pair of records
// is ever stored. The ThreadSanitizer stage runs these above all.
#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

using Stress = DeviceTest;

// Each thread adds, changes and removes accounts of its own; every change
// loads, edits and saves the whole file, so one not kept atomic loses
// another thread's.
TEST_F(Stress, ConcurrentAccountChangesAreAllKept) {
  constexpr int kThreads = 4;
  std::vector<std::map<std::string, std::string>> owned(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &accounts = owned[t]] {
      std::mt19937 random(1000u + static_cast<unsigned>(t));
      for (int i = 0; i < 60; ++i) {
        const std::string name = "t" + std::to_string(t) + "a" + std::to_string(random() % 6);
        const std::string password = "p" + std::to_string(i);
        const bool owns = accounts.count(name) != 0;
        const unsigned change = random() % 3;
        const std::int32_t result = change == 0 ? manager.AppendUser(name.c_str(), password.c_str())
                                    : change == 1
                                        ? manager.RemoveUser(name.c_str())
                                        : manager.SetUserPassword(name.c_str(), password.c_str());
        const std::int32_t refusal = change == 0 ? kAccountExists : kAccountNotFound;
        EXPECT_EQ(result, (change == 0) == owns ? refusal : kAccountDone) << name;
        if (result == kAccountDone && change == 1) accounts.erase(name);
        if (result == kAccountDone && change != 1) accounts[name] = password;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  UserTable table;
  ASSERT_EQ(manager.LoadUsers(&table), kAccountDone);
  std::size_t expected = 1;
  for (const auto& accounts : owned) {
    expected += accounts.size();
    for (const auto& [name, password] : accounts)
      EXPECT_EQ(manager.VerifyUser(name.c_str(), password.c_str()), kAccountDone) << name;
  }
  EXPECT_EQ(static_cast<std::size_t>(table.count), expected);
}

// Service and OCP setters race for the same three ports; whatever wins, the
// stored pair never has two enabled services on one port, at any moment.
// Only the primary service is enabled, so a clash is its port equal to the
// OCP's.
TEST_F(Stress, ConcurrentSetsNeverStoreAClashingPair) {
  std::atomic<int> stored{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> setters;
  for (int t = 0; t < 2; ++t) {
    setters.emplace_back([&, t] {
      auto service = RecordOf<ServiceSettings>(kServiceDefaults);
      service.secondaryEnabled = 0;
      for (int i = 0; i < 50; ++i) {
        service.primaryPort = 7000 + (t + i) % 3;
        if (manager.SetServiceSettings(kAdmin, kFactoryPassword, &service) == STATUS_OK) ++stored;
      }
    });
    setters.emplace_back([&, t] {
      auto ocp = RecordOf<OcpSettings>(kOcpDefaults);
      for (int i = 0; i < 50; ++i) {
        ocp.ocpPort = 7000 + (t + 2 * i + 1) % 3;
        if (manager.SetOcpSettings(kAdmin, kFactoryPassword, &ocp) == STATUS_OK) ++stored;
      }
    });
  }
  int clashesSeen = 0;
  std::thread watcher([&] {
    while (!done) {
      manager.LoadSettings();
      if (manager.serviceSettings.primaryPort == manager.ocpSettings.ocpPort) ++clashesSeen;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (std::thread& setter : setters)
    setter.join();
  done = true;
  watcher.join();
  EXPECT_GT(stored, 0);
  EXPECT_EQ(clashesSeen, 0);
}

}  // namespace
}  // namespace nolva::test
