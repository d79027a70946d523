// Several threads call a random mix of every operation on one manager. No
// call may crash or give a result it could not give alone, no account and no
// setting may be lost, no conflicting pair of service records may be stored,
// and no descriptor may be left open. Run under ThreadSanitizer as well.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/board_test.h"
#include "tests/support/descriptors.h"
#include "tests/support/operations.h"

namespace nolva::test {
namespace {

constexpr int kThreads = 4;
constexpr int kAccountsPerThread = 4;

int Iterations() {
  const char* text = std::getenv("NOLVA_STRESS_ITERATIONS");
  return text != nullptr ? std::atoi(text) : 150;
}

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::string Narrow(const char16_t* text) {
  std::string narrow;
  for (; *text != 0; ++text)
    narrow += static_cast<char>(*text);
  return narrow;
}

// One thread's view: the accounts it alone owns, with their passwords.
struct Worker {
  int id;
  std::mt19937 random;
  std::map<std::string, std::string> accounts;
  std::u16string user;
  std::u16string password;
  std::u16string account;
  std::u16string newPassword;
  std::vector<std::string> problems;

  std::string OwnName(int i) const { return "t" + std::to_string(id) + "a" + std::to_string(i); }
  std::string AnyOwnName() { return OwnName(static_cast<int>(random() % kAccountsPerThread)); }
  bool Owns(const std::string& name) const { return accounts.count(name) != 0; }
  void Expect(bool holds, const char* operation, const std::string& what) {
    if (!holds) problems.push_back(std::string(operation) + ": " + what);
  }
};

// How the mix calls an operation and what it may answer. An operation
// without a rule is called as "admin" and must succeed.
struct Rule {
  const char* operation;
  void (*prepare)(Worker& w, Call& c);
  void (*check)(Worker& w, const Call& c, StatusCode status);
};

void UseCredentials(Worker& w, Call& c, const std::string& user, const std::string& password) {
  w.user = Wide(user);
  w.password = Wide(password);
  c.user = w.user.c_str();
  c.password = w.password.c_str();
}

void NameAnOwnAccount(Worker& w, Call& c) {
  w.account = Wide(w.AnyOwnName());
  w.newPassword = Wide("p" + std::to_string(w.random() % 1000));
  c.account = w.account.c_str();
  c.newPassword = w.newPassword.c_str();
}

template <typename Record>
std::string Bytes(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// Records stored by some thread, and every record ever offered: a load must
// give one of the latter (never a mix), and the last store one of the former.
struct Stored {
  std::mutex mutex;
  std::set<std::string> stored;
  std::set<std::string> offered;
  void Offer(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    offered.insert(bytes);
  }
  void Store(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    stored.insert(bytes);
  }
  bool Offered(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    return offered.count(bytes) != 0;
  }
};
Stored network;
Stored service;
Stored ocp;

constexpr std::int32_t kPorts[] = {23, 9100, 11110, 8080};

std::int32_t AnyPort(Worker& w) {
  return kPorts[w.random() % std::size(kPorts)];
}

bool Clash(std::int32_t enabledA, std::int32_t portA, std::int32_t enabledB, std::int32_t portB) {
  return enabledA != 0 && enabledB != 0 && portA == portB;
}

bool ClashesWithin(const ServiceSettings& s) {
  return Clash(s.primaryEnabled, s.primaryPort, s.secondaryEnabled, s.secondaryPort);
}

bool Conflicting(const ServiceSettings& s, const OcpSettings& o) {
  return ClashesWithin(s) || Clash(s.primaryEnabled, s.primaryPort, o.ocpEnabled, o.ocpPort) ||
         Clash(s.secondaryEnabled, s.secondaryPort, o.ocpEnabled, o.ocpPort);
}

void CheckLoad(Worker& w, Stored& record, const char* operation, StatusCode status,
               const std::string& bytes) {
  w.Expect(status == STATUS_OK, operation, "failed");
  w.Expect(record.Offered(bytes), operation, "a record nobody stored");
}

void CheckStore(Worker& w, Stored& record, const char* operation, StatusCode status,
                const std::string& bytes, bool mayBeRefused) {
  w.Expect(status == STATUS_OK || (mayBeRefused && status == STATUS_REFUSED), operation,
           "status " + std::to_string(status));
  if (status == STATUS_OK) record.Store(bytes);
}

const Rule kRules[] = {
    {"AddUser", NameAnOwnAccount,
     [](Worker& w, const Call& c, StatusCode status) {
       const std::string name = Narrow(c.account);
       w.Expect(status == (w.Owns(name) ? STATUS_ADD_USER_FAILED : STATUS_OK), "AddUser", name);
       if (status == STATUS_OK) w.accounts[name] = Narrow(c.newPassword);
     }},
    {"DeleteUser", NameAnOwnAccount,
     [](Worker& w, const Call& c, StatusCode status) {
       const std::string name = Narrow(c.account);
       w.Expect(status == (w.Owns(name) ? STATUS_OK : STATUS_DELETE_USER_FAILED), "DeleteUser",
                name);
       if (status == STATUS_OK) w.accounts.erase(name);
     }},
    {"ChangePassword",
     [](Worker& w, Call& c) {
       NameAnOwnAccount(w, c);
       const std::string name = Narrow(c.account);
       // Half the time the account changes its own password.
       if (w.Owns(name) && w.random() % 2 == 0) UseCredentials(w, c, name, w.accounts[name]);
     },
     [](Worker& w, const Call& c, StatusCode status) {
       const std::string name = Narrow(c.account);
       w.Expect(status == (w.Owns(name) ? STATUS_OK : STATUS_CHANGE_PASSWORD_FAILED),
                "ChangePassword", name);
       if (status == STATUS_OK) w.accounts[name] = Narrow(c.newPassword);
     }},
    // A reset would take every thread's accounts: the mix calls it refused.
    {"FactoryReset", [](Worker& w, Call& c) { UseCredentials(w, c, "admin", "not-kevla"); },
     [](Worker& w, const Call&, StatusCode status) {
       w.Expect(status == STATUS_AUTH_FAILED, "FactoryReset", "not refused");
     }},
    // Updates of one partition are not kept apart: another thread's erase may
    // fail a verification, never the call.
    {"UpdateFirmware", nullptr,
     [](Worker& w, const Call&, StatusCode status) {
       w.Expect(status == STATUS_OK || status == STATUS_FIRMWARE_UPDATE_FAILED, "UpdateFirmware",
                "status " + std::to_string(status));
     }},
    {"GetUsbPorts", nullptr,
     [](Worker& w, const Call& c, StatusCode status) {
       w.Expect(status == STATUS_OK, "GetUsbPorts", "failed");
       w.Expect(Narrow(c.text) == "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  \n", "GetUsbPorts",
                Narrow(c.text));
     }},
    {"GetMacAddress", nullptr,
     [](Worker& w, const Call& c, StatusCode status) {
       w.Expect(status == STATUS_OK, "GetMacAddress", "failed");
       w.Expect(Narrow(c.text) == "00:00:00:00:00:00", "GetMacAddress", Narrow(c.text));
     }},
    {"ListUsers", nullptr,
     [](Worker& w, const Call& c, StatusCode status) {
       w.Expect(status == STATUS_OK, "ListUsers", "failed");
       const std::string list = Narrow(c.text);
       for (int i = 0; i < kAccountsPerThread; ++i) {
         const std::string name = w.OwnName(i);
         const bool listed = list.find("\n" + name + "\n") != std::string::npos;
         w.Expect(listed == w.Owns(name), "ListUsers", name + (listed ? " listed" : " missing"));
       }
     }},
    {"SetNetworkSettings",
     [](Worker& w, Call& c) {
       c.network.dhcp = 0;
       c.network.address[3] = static_cast<std::uint8_t>(1 + w.random() % 8);
       network.Offer(Bytes(c.network));
     },
     [](Worker& w, const Call& c, StatusCode status) {
       CheckStore(w, network, "SetNetworkSettings", status, Bytes(c.network), false);
     }},
    {"GetNetworkSettings", nullptr,
     [](Worker& w, const Call& c, StatusCode status) {
       CheckLoad(w, network, "GetNetworkSettings", status, Bytes(c.network));
     }},
    {"SetServiceSettings",
     [](Worker& w, Call& c) {
       c.service.primaryEnabled = static_cast<std::int32_t>(w.random() % 2);
       c.service.secondaryEnabled = static_cast<std::int32_t>(w.random() % 2);
       c.service.primaryPort = AnyPort(w);
       c.service.secondaryPort = AnyPort(w);
       c.service.svcWord0 = 2;  // never the default record
       service.Offer(Bytes(c.service));
     },
     [](Worker& w, const Call& c, StatusCode status) {
       if (ClashesWithin(c.service))
         w.Expect(status == STATUS_REFUSED, "SetServiceSettings", "stored a clash within");
       CheckStore(w, service, "SetServiceSettings", status, Bytes(c.service), true);
     }},
    {"GetServiceSettings", nullptr,
     [](Worker& w, const Call& c, StatusCode status) {
       CheckLoad(w, service, "GetServiceSettings", status, Bytes(c.service));
     }},
    {"SetOcpSettings",
     [](Worker& w, Call& c) {
       c.ocp.ocpEnabled = static_cast<std::int32_t>(w.random() % 2);
       c.ocp.ocpPort = AnyPort(w);
       c.ocp.ocpWord1 = 2;  // never the default record
       ocp.Offer(Bytes(c.ocp));
     },
     [](Worker& w, const Call& c, StatusCode status) {
       CheckStore(w, ocp, "SetOcpSettings", status, Bytes(c.ocp), true);
     }},
    {"GetOcpSettings", nullptr,
     [](Worker& w, const Call& c, StatusCode status) {
       CheckLoad(w, ocp, "GetOcpSettings", status, Bytes(c.ocp));
     }},
};

const Rule* RuleFor(const char* operation) {
  for (const Rule& rule : kRules)
    if (std::strcmp(rule.operation, operation) == 0) return &rule;
  return nullptr;
}

void RunWorker(DeviceManager& manager, Worker& w, int iterations) {
  for (int i = 0; i < iterations; ++i) {
    const Operation& operation = kOperations[w.random() % std::size(kOperations)];
    const Rule* rule = RuleFor(operation.name);
    static thread_local Call call;
    call = Call();
    UseCredentials(w, call, "admin", "kevla");
    if (rule != nullptr && rule->prepare != nullptr) rule->prepare(w, call);
    const StatusCode status = operation.run(manager, call);
    if (rule != nullptr)
      rule->check(w, call, status);
    else
      w.Expect(status == STATUS_OK, operation.name, "failed");
  }
}

class Stress : public BoardTest {};

TEST_F(Stress, ThreadsMixingEveryOperationLoseNothingAndLeakNothing) {
  DeviceManager manager;
  ASSERT_EQ(manager.Login(u"admin", u"kevla"), STATUS_OK);
  NetworkSettings n;
  ServiceSettings s;
  OcpSettings o;
  ASSERT_EQ(manager.GetNetworkSettings(u"admin", u"kevla", &n), STATUS_OK);
  ASSERT_EQ(manager.GetServiceSettings(u"admin", u"kevla", &s), STATUS_OK);
  ASSERT_EQ(manager.GetOcpSettings(u"admin", u"kevla", &o), STATUS_OK);
  network.Offer(Bytes(n));
  service.Offer(Bytes(s));
  ocp.Offer(Bytes(o));
  const std::map<int, std::string> before = OpenDescriptors();

  // The one reader of the manager's own copies: the pair it loads together
  // must never clash.
  std::atomic<bool> done{false};
  int clashes = 0;
  std::thread checker([&] {
    while (!done) {
      if (manager.LoadSettings() == 0 && Conflicting(manager.serviceSettings, manager.ocpSettings))
        ++clashes;
      std::this_thread::yield();
    }
  });

  std::vector<Worker> workers;
  for (int id = 0; id < kThreads; ++id)
    workers.push_back(
        Worker{id, std::mt19937(1000u + static_cast<unsigned>(id)), {}, {}, {}, {}, {}, {}});
  const int iterations = Iterations();
  std::vector<std::thread> threads;
  for (Worker& w : workers)
    threads.emplace_back([&manager, &w, iterations] { RunWorker(manager, w, iterations); });
  for (std::thread& t : threads)
    t.join();
  done = true;
  checker.join();
  EXPECT_EQ(clashes, 0) << "a clashing pair of service records was stored";

  for (const Worker& w : workers) {
    for (const std::string& problem : w.problems)
      ADD_FAILURE() << "thread " << w.id << ": " << problem;
  }
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), 0);
  UserTable table;
  ASSERT_EQ(manager.LoadUsers(&table), 0);
  std::set<std::string> stored;
  for (int i = 0; i < table.count; ++i)
    stored.insert(table.entries[i].name);
  std::set<std::string> expected = {"admin"};
  for (const Worker& w : workers) {
    for (const auto& [name, password] : w.accounts) {
      expected.insert(name);
      EXPECT_EQ(manager.VerifyUser(name.c_str(), password.c_str()), 0) << name;
    }
  }
  EXPECT_EQ(stored, expected);

  // The last store of each record is the one kept.
  ASSERT_EQ(manager.LoadNetworkSettings(&n), 0);
  ASSERT_EQ(manager.LoadServiceSettings(&s), 0);
  ASSERT_EQ(manager.LoadOcpSettings(&o), 0);
  EXPECT_TRUE(network.stored.empty() || network.stored.count(Bytes(n)) != 0);
  EXPECT_TRUE(service.stored.empty() || service.stored.count(Bytes(s)) != 0);
  EXPECT_TRUE(ocp.stored.empty() || ocp.stored.count(Bytes(o)) != 0);
  EXPECT_FALSE(Conflicting(s, o));
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace nolva::test
