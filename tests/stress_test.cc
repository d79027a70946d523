// Several threads call a random mix of every operation on one manager. No
// call may crash or give a result it could not give alone, no account and no
// setting may be lost, no conflicting pair of service records may be stored,
// and no descriptor may be left open. Run under ThreadSanitizer as well.
#include <dirent.h>

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

std::set<std::string> OpenDescriptors() {
  std::set<std::string> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  const std::string own = std::to_string(dirfd(dir));
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name != own) fds.insert(name);
  }
  closedir(dir);
  return fds;
}

class Stress : public BoardTest {};

TEST_F(Stress, ThreadsMixingEveryOperationLoseNothingAndLeakNothing) {
  DeviceManager manager;
  ASSERT_EQ(manager.Login(u"admin", u"kevla"), STATUS_OK);
  const std::set<std::string> before = OpenDescriptors();

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
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace nolva::test
