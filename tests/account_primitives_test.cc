#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/account_board_test.h"

namespace nolva {
namespace {

using AccountPrimitives = AccountBoardTest;

TEST_F(AccountPrimitives, NamesUpTo16AndPasswordsUpTo32BytesAreAccepted) {
  std::string name16(16, 'n'), name17(17, 'n'), password32(32, 'p'), password33(33, 'p');
  EXPECT_EQ(manager.AppendUser(name17.c_str(), "pw"), -2);
  EXPECT_EQ(manager.AppendUser(name16.c_str(), password33.c_str()), -2);
  EXPECT_EQ(manager.AppendUser(name16.c_str(), password32.c_str()), 0);
  EXPECT_EQ(manager.VerifyUser(name16.c_str(), password32.c_str()), 0);
  EXPECT_EQ(manager.VerifyUser(name17.c_str(), password32.c_str()), -2);
  EXPECT_EQ(manager.VerifyUser(name16.c_str(), password33.c_str()), -2);
  EXPECT_EQ(manager.SetUserPassword(name16.c_str(), password33.c_str()), -2);
  EXPECT_EQ(manager.SetUserPassword(name17.c_str(), "pw"), -2);
  EXPECT_EQ(manager.RemoveUser(name17.c_str()), -2);
  EXPECT_EQ(manager.RemoveUser(name16.c_str()), 0);
}

TEST_F(AccountPrimitives, DuplicateNamesActOnTheFirstLine) {
  WriteUsers(Line("bob", "first") + Line("bob", "second"));
  EXPECT_EQ(manager.VerifyUser("bob", "first"), 0);
  EXPECT_EQ(manager.VerifyUser("bob", "second"), -1);
  EXPECT_EQ(manager.AppendUser("bob", "third"), -4);
  EXPECT_EQ(manager.SetUserPassword("bob", "new"), 0);
  EXPECT_EQ(Users(), Line("bob", "new") + Line("bob", "second"));
  EXPECT_EQ(manager.RemoveUser("bob"), 0);
  EXPECT_EQ(Users(), Line("bob", "second"));
}

TEST_F(AccountPrimitives, RemovingKeepsTheOtherAccountsInOrder) {
  WriteUsers(Line("a", "1") + Line("b", "2") + Line("c", "3"));
  EXPECT_EQ(manager.RemoveUser("a"), 0);
  EXPECT_EQ(Users(), Line("b", "2") + Line("c", "3"));
  EXPECT_EQ(manager.AppendUser("a", "1"), 0);
  EXPECT_EQ(Users(), Line("b", "2") + Line("c", "3") + Line("a", "1"));
}

TEST_F(AccountPrimitives, AppendRefusesNamesTheFileCannotHoldBack) {
  WriteUsers(kFactoryLine);
  for (const char* name : {"", "a:b", "a\nb", "a\rb", "\n"}) {
    EXPECT_NE(manager.AppendUser(name, "pw"), 0) << name;
  }
  EXPECT_EQ(Users(), kFactoryLine);
}

TEST_F(AccountPrimitives, AppendRefusesAFullTable) {
  std::string text;
  for (int i = 0; i < 256; ++i)
    text += "u" + std::to_string(i) + ":D\n";
  WriteUsers(text);
  EXPECT_NE(manager.AppendUser("one-more", "pw"), 0);
  EXPECT_EQ(Users(), text);
  EXPECT_EQ(manager.RemoveUser("u7"), 0);
  EXPECT_EQ(manager.AppendUser("one-more", "pw"), 0);
}

TEST_F(AccountPrimitives, ConcurrentAppendsOnOneManagerAreAllKept) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 20; ++i) {
        std::string name = "t" + std::to_string(t) + "u" + std::to_string(i);
        EXPECT_EQ(manager.AppendUser(name.c_str(), "pw"), 0) << name;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  UserTable table;
  ASSERT_EQ(manager.LoadUsers(&table), 0);
  EXPECT_EQ(table.count, 161);
  for (int t = 0; t < 8; ++t) {
    for (int i = 0; i < 20; ++i) {
      std::string name = "t" + std::to_string(t) + "u" + std::to_string(i);
      EXPECT_EQ(manager.VerifyUser(name.c_str(), "pw"), 0) << name;
    }
  }
}

}  // namespace
}  // namespace nolva
