#include <gtest/gtest.h>

#include <string>

#include "tests/account_board_test.h"

namespace nolva {
namespace {

class AccountOperations : public AccountBoardTest {
 protected:
  void SetUp() override {
    WriteUsers(kFactoryLine + Line("bob", "bobpw") + Line("carol", "carolpw"));
  }

  // The name list as text, from a call that must succeed.
  std::string List(std::int32_t capacity) {
    char16_t list[64];
    EXPECT_EQ(manager.ListUsers(u"admin", u"kevla", list, capacity), STATUS_OK) << capacity;
    return Narrowed(list);
  }
  static std::string Narrowed(const char16_t* text) {
    std::string out;
    for (; *text; ++text)
      out += static_cast<char>(*text);
    return out;
  }
};

using Login = AccountOperations;
using ChangePassword = AccountOperations;
using DeleteUser = AccountOperations;
using AddUser = AccountOperations;
using ListUsers = AccountOperations;

TEST_F(Login, AdmitsOnlyAdminWithItsPassword) {
  struct Case {
    const char16_t* name;
    const char16_t* password;
    StatusCode expected;
  } cases[] = {
      {u"admin", u"kevla", STATUS_OK},
      {u"\u0161dmin", u"kevla", STATUS_OK},      // narrowed by the low byte: "admin"
      {u"admin\u0100xyz", u"kevla", STATUS_OK},  // the zero low byte ends the name
      {u"Admin", u"kevla", STATUS_AUTH_FAILED},
      {u"admin ", u"kevla", STATUS_AUTH_FAILED},
      {u"", u"kevla", STATUS_AUTH_FAILED},
      {u"bob", u"bobpw", STATUS_AUTH_FAILED},
      {u"admin", u"kevlb", STATUS_AUTH_FAILED},
      {u"admin", u"", STATUS_AUTH_FAILED},
      {u"admin", u"kevlax", STATUS_AUTH_FAILED},
      {nullptr, u"kevla", STATUS_AUTH_FAILED},
  };
  for (const Case& c : cases)
    EXPECT_EQ(manager.Login(c.name, c.password), c.expected);
}

TEST_F(Login, PasswordsAreVerifiedUpTo32Characters) {
  std::u16string password32(32, u'p');
  WriteUsers(Line("admin", std::string(32, 'p').c_str()));
  EXPECT_EQ(manager.Login(u"admin", password32.c_str()), STATUS_OK);
  EXPECT_EQ(manager.Login(u"admin", (password32 + u"p").c_str()), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.Login(u"admin", std::u16string(45, u'p').c_str()), STATUS_AUTH_FAILED);
  WriteUsers(Line("admin", ""));
  EXPECT_EQ(manager.Login(u"admin", u""), STATUS_OK);
}

TEST_F(ListUsers, RefusedCallerLeavesTheListUntouched) {
  std::u16string name25 = u"admin\u0100" + std::u16string(19, u'x');
  char16_t list[8] = u"keep";
  EXPECT_EQ(manager.ListUsers(u"admin", u"wrong", list, 8), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ListUsers(u"bob", u"bobpw", list, 8), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ListUsers(name25.c_str(), u"kevla", list, 8), STATUS_AUTH_FAILED);
  EXPECT_EQ(std::u16string(list), u"keep");
}

TEST_F(ChangePassword, AdminSetsAnyAccountsPassword) {
  EXPECT_EQ(manager.ChangePassword(u"admin", u"kevla", u"bob", u"fresh"), STATUS_OK);
  EXPECT_EQ(manager.VerifyUser("bob", "bobpw"), -1);
  EXPECT_EQ(manager.VerifyUser("bob", "fresh"), 0);
}

TEST_F(ChangePassword, AnAccountChangesOnlyItsOwnPassword) {
  EXPECT_EQ(manager.ChangePassword(u"bob", u"wrong", u"bob", u"fresh"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ChangePassword(u"bob", u"bobpw", u"carol", u"fresh"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ChangePassword(u"ghost", u"", u"ghost", u"fresh"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.VerifyUser("carol", "carolpw"), 0);
  EXPECT_EQ(manager.ChangePassword(u"bob", u"bobpw", u"bob", u"fresh"), STATUS_OK);
  EXPECT_EQ(manager.VerifyUser("bob", "fresh"), 0);
}

TEST_F(AccountOperations, AdmittedCallersGetTheOperationsOwnFailureCode) {
  std::string before = Users();
  std::u16string name20(20, u'n'), name17(17, u'n'), password33(33, u'p'), password40(40, u'p');
  struct Case {
    StatusCode result;
    StatusCode expected;
  } cases[] = {
      {manager.ChangePassword(u"admin", u"kevla", u"ghost", u"pw"), STATUS_CHANGE_PASSWORD_FAILED},
      {manager.ChangePassword(u"admin", u"kevla", u"bob", password33.c_str()),
       STATUS_CHANGE_PASSWORD_FAILED},
      {manager.ChangePassword(u"admin", u"kevla", u"bob", password40.c_str()),
       STATUS_CHANGE_PASSWORD_FAILED},
      {manager.ChangePassword(u"bob", u"bobpw", (u"bob\u0100" + name20).c_str(), u"pw"),
       STATUS_CHANGE_PASSWORD_FAILED},
      {manager.DeleteUser(u"admin", u"kevla", u"ghost"), STATUS_DELETE_USER_FAILED},
      {manager.DeleteUser(u"admin", u"kevla", (u"bob\u0100" + name20).c_str()),
       STATUS_DELETE_USER_FAILED},
      {manager.AddUser(u"admin", u"kevla", u"bob", u"pw"), STATUS_ADD_USER_FAILED},
      {manager.AddUser(u"admin", u"kevla", name17.c_str(), u"pw"), STATUS_ADD_USER_FAILED},
      {manager.AddUser(u"admin", u"kevla", (u"dave\u0100" + name20).c_str(), u"pw"),
       STATUS_ADD_USER_FAILED},
      {manager.AddUser(u"admin", u"kevla", u"dave", password40.c_str()), STATUS_ADD_USER_FAILED},
      {manager.AddUser(u"admin", u"kevla", u"da:ve", u"pw"), STATUS_ADD_USER_FAILED},
      {manager.AddUser(u"admin", u"kevla", u"", u"pw"), STATUS_ADD_USER_FAILED},
      {manager.AddUser(u"bob", u"bobpw", u"dave", u"pw"), STATUS_AUTH_FAILED},
      {manager.DeleteUser(u"bob", u"bobpw", u"bob"), STATUS_AUTH_FAILED},
      {manager.AddUser(u"admin", u"wrong", name20.c_str(), u"pw"), STATUS_AUTH_FAILED},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(cases[i].result, cases[i].expected) << "case " << i;
  }
  EXPECT_EQ(Users(), before);
}

TEST_F(AddUser, AppendsAnAccountThatCanLogIn) {
  EXPECT_EQ(manager.AddUser(u"admin", u"kevla", u"j\u00E9r\u00F4me", u"pw"), STATUS_OK);
  EXPECT_EQ(Users(), kFactoryLine + Line("bob", "bobpw") + Line("carol", "carolpw") +
                         Line("j\xE9r\xF4me", "pw"));
  EXPECT_EQ(manager.ChangePassword(u"j\u00E9r\u00F4me", u"pw", u"j\u00E9r\u00F4me", u"new"),
            STATUS_OK);
}

TEST_F(DeleteUser, AdminCanDeleteItselfLeavingOnlySelfService) {
  EXPECT_EQ(manager.DeleteUser(u"admin", u"kevla", u"admin"), STATUS_OK);
  EXPECT_EQ(manager.Login(u"admin", u"kevla"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.AddUser(u"admin", u"kevla", u"admin", u"kevla"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ChangePassword(u"bob", u"bobpw", u"bob", u"fresh"), STATUS_OK);
  EXPECT_EQ(Users(), Line("bob", "fresh") + Line("carol", "carolpw"));
}

TEST_F(DeleteUser, DeletingTheLastAccountLeavesAnEmptyFileForGood) {
  WriteUsers(kFactoryLine);
  EXPECT_EQ(manager.DeleteUser(u"admin", u"kevla", u"admin"), STATUS_OK);
  EXPECT_EQ(Users(), "");
  EXPECT_EQ(manager.Login(u"admin", u"kevla"), STATUS_AUTH_FAILED);
  EXPECT_EQ(Users(), "");
}

TEST_F(ListUsers, CapacityBoundsTheListToWholeNames) {
  EXPECT_EQ(List(8), "admin\n");
  EXPECT_EQ(List(11), "admin\n");
  EXPECT_EQ(List(12), "admin\nbob\n");
  EXPECT_EQ(List(0x7FFFFFFF), "admin\nbob\ncarol\n");
  WriteUsers(kFactoryLine);
  EXPECT_EQ(List(7), "");
  EXPECT_EQ(List(8), "admin\n");
  for (std::int32_t capacity : {0, -1, INT32_MIN}) {
    char16_t list[8] = u"keep";
    EXPECT_EQ(manager.ListUsers(u"admin", u"kevla", list, capacity), STATUS_LIST_USERS_FAILED);
    EXPECT_EQ(std::u16string(list), u"keep");
  }
}

TEST_F(ListUsers, HugeCapacityListsAFullTableOfLongNames) {
  std::string text = kFactoryLine, expected = "admin\n";
  for (int i = 1; i < 256; ++i) {
    std::string name = std::string(16, 'n') + std::to_string(100 + i);
    text += name + ":D\n";
    expected += name + "\n";
  }
  WriteUsers(text);
  static char16_t list[256 * 20 + 2];
  std::int32_t exact = static_cast<std::int32_t>(expected.size()) + 2;
  for (std::int32_t capacity : {0x7FFFFFFF, exact, exact - 1}) {
    ASSERT_EQ(manager.ListUsers(u"admin", u"kevla", list, capacity), STATUS_OK);
    EXPECT_EQ(Narrowed(list),
              capacity == exact - 1 ? expected.substr(0, expected.size() - 20) : expected);
  }
}

TEST_F(ListUsers, BytesAbove0x7FArriveAsTheSameUnits) {
  WriteUsers(kFactoryLine + "j\xE9r\xF4me:D\n");
  char16_t list[16];
  ASSERT_EQ(manager.ListUsers(u"admin", u"kevla", list, 16), STATUS_OK);
  EXPECT_EQ(std::u16string(list), u"admin\nj\u00E9r\u00F4me\n");
}

}  // namespace
}  // namespace nolva
