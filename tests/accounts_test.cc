// The accounts: the password digest, the user file and the account
// operations on it.
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

class Accounts : public DeviceTest {
 protected:
  Rows Load(std::int32_t expected = 0) {
    UserTable table;
    EXPECT_EQ(manager.LoadUsers(&table), expected);
    Rows rows;
    for (int i = 0; i < table.count; ++i)
      rows.emplace_back(table.entries[i].name, table.entries[i].digest);
    return rows;
  }
  std::string List(std::int32_t capacity) {
    char16_t list[64];
    EXPECT_EQ(manager.ListUsers(kAdmin, kFactoryPassword, list, capacity), STATUS_OK) << capacity;
    return Narrowed(list);
  }
};

TEST_F(Accounts, DigestIsThatOfTheDevicesInTheField) {
  char out[40];
  std::memset(out, '#', sizeof out);
  manager.MakePasswordDigest(out, "kevla");
  EXPECT_EQ(std::string(out), "3E19B245F7F7053535AA24100E20217B");
  EXPECT_EQ(out[33], '#') << "written past the digest and its NUL";
}

TEST_F(Accounts, FreshBoardGetsTheFactoryAccountOnlyWhenAdminLogsIn) {
  EXPECT_EQ(manager.Login(u"Admin", kFactoryPassword), STATUS_AUTH_FAILED);
  EXPECT_FALSE(BoardFileExists(kUserFile));
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_OK);
  EXPECT_EQ(Users(), kFactoryLine);
  WriteUsers("");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), -4) << "an empty file holds no account";
  EXPECT_EQ(Users(), "");
}

// Names that narrow to "admin", other names and wrong passwords are the fuzz
// seeds' (wide_args); lengths at the limits are the primitives'.
TEST_F(Accounts, ResetGivesTheFactoryTableAndStoresIt) {
  WriteUsers(Line("bob", "pw"));
  UserTable table;
  std::memset(&table, 0xFF, sizeof table);
  ASSERT_EQ(manager.ResetUsers(&table), 0);
  UserEntry admin = {};
  std::memcpy(admin.name, "admin", 5);
  std::memcpy(admin.digest, "3E19B245F7F7053535AA24100E20217B", 32);
  EXPECT_EQ(table.count, 1);
  EXPECT_EQ(std::memcmp(&table.entries[0], &admin, sizeof admin), 0) << "fields padded with NUL";
  EXPECT_EQ(Users(), kFactoryLine);
}

TEST_F(Accounts, LoginRefusesAMissingNameOrPassword) {
  EXPECT_EQ(manager.Login(nullptr, kFactoryPassword), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.Login(kAdmin, nullptr), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.Login(kAdmin, std::u16string(45, u'p').c_str()), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_OK);
  // A unit past 0xFF narrows to a 0 byte: the name reads "admin" as long as
  // all its 19 units fit the name's buffer.
  const std::u16string admin19 = u"admin\u0100" + std::u16string(13, u'x');
  EXPECT_EQ(manager.Login(admin19.c_str(), kFactoryPassword), STATUS_OK);
  EXPECT_EQ(manager.Login((admin19 + u"x").c_str(), kFactoryPassword), STATUS_AUTH_FAILED);
}

TEST_F(Accounts, PrimitivesRefuseMissingAndOverlongArgumentsLeavingTheFile) {
  WriteUsers(kFactoryLine + Line("bob", "pw"));
  const std::string before = Users();
  const std::string name17(17, 'n'), password33(33, 'p');
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {manager.VerifyUser(nullptr, "pw"), -1},
      {manager.VerifyUser("bob", nullptr), -1},
      {manager.SetUserPassword(nullptr, "pw"), -1},
      {manager.SetUserPassword("bob", nullptr), -1},
      {manager.RemoveUser(nullptr), -1},
      {manager.AppendUser(nullptr, "pw"), -1},
      {manager.AppendUser("eve", nullptr), -1},
      {manager.LoadUsers(nullptr), -1},
      {manager.SaveUsers(nullptr), -1},
      {manager.ResetUsers(nullptr), -1},
      {manager.ListUserNames(nullptr, 10), -1},
      {manager.VerifyUser(name17.c_str(), "pw"), -2},
      {manager.VerifyUser("bob", password33.c_str()), -2},
      {manager.SetUserPassword(name17.c_str(), "pw"), -2},
      {manager.SetUserPassword("bob", password33.c_str()), -2},
      {manager.RemoveUser(name17.c_str()), -2},
      {manager.AppendUser(name17.c_str(), "pw"), -2},
      {manager.AppendUser("eve", password33.c_str()), -2},
      {manager.VerifyUser("eve", "pw"), -4},
      {manager.SetUserPassword("eve", "pw"), -4},
      {manager.RemoveUser("eve"), -4},
      {manager.AppendUser("bob", "pw"), -4},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
  EXPECT_EQ(Users(), before);
  const std::string name16(16, 'n'), password32(32, 'p');
  EXPECT_EQ(manager.AppendUser(name16.c_str(), password32.c_str()), 0);
  EXPECT_EQ(manager.VerifyUser(name16.c_str(), password32.c_str()), 0);
}

TEST_F(Accounts, ChangesActOnTheFirstLineOfANameAndKeepTheOrder) {
  WriteUsers(Line("bob", "first") + Line("carol", "c") + Line("bob", "second"));
  EXPECT_EQ(manager.VerifyUser("bob", "first"), 0);
  EXPECT_EQ(manager.VerifyUser("bob", "second"), -1);
  EXPECT_EQ(manager.SetUserPassword("bob", "new"), 0);
  EXPECT_EQ(Users(), Line("bob", "new") + Line("carol", "c") + Line("bob", "second"));
  EXPECT_EQ(manager.RemoveUser("bob"), 0);
  EXPECT_EQ(manager.AppendUser("dave", "d"), 0);
  EXPECT_EQ(Users(), Line("carol", "c") + Line("bob", "second") + Line("dave", "d"));
}

TEST_F(Accounts, AppendRefusesNamesTheFileCannotHoldBack) {
  WriteUsers(kFactoryLine);
  const struct {
    const char* why;
    const char* name;
  } cases[] = {
      {"empty", ""},    {"colon", "a:b"},         {"line feed", "a\nb"},     {"return", "a\rb"},
      {"tab", "bo\tb"}, {"escape", "\x1b[2Jbob"}, {"first control", "\x01"}, {"delete", "bob\x7f"}};
  for (const auto& c : cases)
    EXPECT_EQ(manager.AppendUser(c.name, "pw"), -1) << c.why;
  EXPECT_EQ(Users(), kFactoryLine);
}

// A carriage return stays in the digest, so such an account's password
// never verifies.
TEST_F(Accounts, LinesSplitAtTheFirstColonAndOverlongFieldsAreIgnoredNotCut) {
  const std::string name19(19, 'n'), digest39(39, 'd');
  WriteUsers("bob:AB:CD\nno colon\n:leading\ncarol:\ndave:" + Digest("pw") + "\r\n" + name19 +
             "x:D\n" + "erin:" + digest39 + "x\n" + name19 + ":" + digest39 + "\nfrank:");
  EXPECT_EQ(Load(), (Rows{{"bob", "AB:CD"},
                          {"carol", ""},
                          {"dave", Digest("pw") + "\r"},
                          {name19, digest39},
                          {"frank", ""}}));
  EXPECT_EQ(manager.VerifyUser("carol", ""), -1);
  EXPECT_EQ(manager.VerifyUser("dave", "pw"), -1);
}

// A line is read in pieces of at most 255 bytes; what follows the first
// piece of a longer line is read as a line of its own.
TEST_F(Accounts, LongLinesAreReadIn255BytePieces) {
  for (const auto& [filler, name] :
       std::vector<std::pair<std::size_t, std::string>>{{255, "eve"}, {254, "ve"}}) {
    WriteUsers(std::string(filler, 'x') + "eve:D\nbob:D\n");
    EXPECT_EQ(Load(), (Rows{{name, "D"}, {"bob", "D"}})) << filler;
  }
}

TEST_F(Accounts, TheTableHoldsTheFirst256LinesCountingIgnoredOnes) {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += "u" + std::to_string(i) + ":D\n";
  WriteUsers(text);
  const Rows rows = Load();
  ASSERT_EQ(rows.size(), 256u);
  EXPECT_EQ(rows.back().first, "u255");
  EXPECT_EQ(manager.AppendUser("one-more", "pw"), -1) << "the table is full";
  EXPECT_EQ(Users(), text);
  EXPECT_EQ(manager.RemoveUser("u7"), 0);
  EXPECT_EQ(manager.AppendUser("one-more", "pw"), 0);
  std::string ignored;
  for (int i = 0; i < 256; ++i)
    ignored += ":no name\n";
  WriteUsers(ignored + "late:D\n");
  EXPECT_TRUE(Load().empty());
}

TEST_F(Accounts, FileThatCannotBeReadIsNeitherResetNorReplaced) {
  std::filesystem::create_directory(Board() + "/flash/nolva_user");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), -3);
  EXPECT_EQ(manager.AppendUser("bob", "pw"), -3);
  EXPECT_EQ(manager.ListUserNames(nullptr, 0), -1);
  char text[8];
  EXPECT_EQ(manager.ListUserNames(text, sizeof text), -2);
  std::filesystem::remove(Board() + "/flash/nolva_user");
  SetFault("flash-readonly");
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_AUTH_FAILED);
  EXPECT_FALSE(BoardFileExists(kUserFile));
}

TEST_F(Accounts, FullTableOfLongestFieldsIsSavedWhole) {
  UserTable table = {};
  std::string expected;
  for (; table.count < kMaxUsers; ++table.count) {
    UserEntry& entry = table.entries[table.count];
    std::snprintf(entry.name, sizeof entry.name, "%019d", table.count);
    std::snprintf(entry.digest, sizeof entry.digest, "%039d", table.count);
    expected += std::string(entry.name) + ":" + entry.digest + "\n";
  }
  // Fields without their NUL are saved to the length a field can hold.
  UserEntry& last = table.entries[kMaxUsers - 1];
  std::memset(last.name, 'n', sizeof last.name);
  std::memset(last.digest, 'd', sizeof last.digest);
  expected.replace(expected.size() - 60, 60,
                   std::string(19, 'n') + ":" + std::string(39, 'd') + "\n");
  ++table.count;  // a count past the table's end saves the table
  ASSERT_EQ(manager.SaveUsers(&table), 0);
  EXPECT_EQ(Users(), expected);
}

class AccountOperations : public Accounts {
 protected:
  void SetUp() override {
    Accounts::SetUp();
    WriteUsers(kFactoryLine + Line("bob", "bobpw") + Line("carol", "carolpw"));
  }
};

TEST_F(AccountOperations, AdminChangesAnyPasswordAndAnAccountOnlyItsOwn) {
  EXPECT_EQ(manager.ChangePassword(u"bob", u"wrong", u"bob", u"x"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ChangePassword(u"bob", u"bobpw", u"carol", u"x"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.DeleteUser(u"bob", u"bobpw", u"bob"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ChangePassword(u"bob", u"bobpw", u"bob", u"fresh"), STATUS_OK);
  EXPECT_EQ(manager.ChangePassword(kAdmin, kFactoryPassword, u"carol", u"new"), STATUS_OK);
  EXPECT_EQ(Users(), kFactoryLine + Line("bob", "fresh") + Line("carol", "new"));
}

// Arguments too long for the operation's own buffers (a unit past 0xFF
// keeps the narrowed text short but the string long) fail like the rest.
TEST_F(AccountOperations, AdmittedCallersGetTheOperationsOwnFailureCode) {
  const std::string before = Users();
  const std::u16string long20 = u"bob\u0100" + std::u16string(20, u'n');
  const std::u16string password40(40, u'p');
  const StatusCode kChange = STATUS_CHANGE_PASSWORD_FAILED, kDelete = STATUS_DELETE_USER_FAILED,
                   kAdd = STATUS_ADD_USER_FAILED;
  const std::pair<StatusCode, StatusCode> cases[] = {
      {manager.ChangePassword(kAdmin, kFactoryPassword, u"ghost", u"pw"), kChange},
      {manager.ChangePassword(kAdmin, kFactoryPassword, u"bob", password40.c_str()), kChange},
      {manager.ChangePassword(u"bob", u"bobpw", long20.c_str(), u"pw"), kChange},
      {manager.DeleteUser(kAdmin, kFactoryPassword, u"ghost"), kDelete},
      {manager.DeleteUser(kAdmin, kFactoryPassword, long20.c_str()), kDelete},
      {manager.AddUser(kAdmin, kFactoryPassword, u"bob", u"pw"), kAdd},
      {manager.AddUser(kAdmin, kFactoryPassword, long20.c_str(), u"pw"), kAdd},
      {manager.AddUser(kAdmin, kFactoryPassword, u"dave", password40.c_str()), kAdd},
      {manager.AddUser(kAdmin, kFactoryPassword, u"bo\tb", u"pw"), kAdd},
      {manager.ListUsers(kAdmin, kFactoryPassword, nullptr, 8), STATUS_LIST_USERS_FAILED},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
  EXPECT_EQ(Users(), before);
}

TEST_F(AccountOperations, AddedAccountsLogInAndAdminCanDeleteItself) {
  EXPECT_EQ(manager.AddUser(kAdmin, kFactoryPassword, u"j\u00E9r\u00F4me", u"pw"), STATUS_OK);
  // The longest name and password pass every buffer on the way.
  const std::u16string longest(16, u'l'), password32(32, u'p');
  EXPECT_EQ(manager.AddUser(kAdmin, kFactoryPassword, longest.c_str(), password32.c_str()),
            STATUS_OK);
  EXPECT_EQ(manager.ChangePassword(longest.c_str(), password32.c_str(), longest.c_str(), u"pw"),
            STATUS_OK);
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, longest.c_str()), STATUS_OK);
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, u"bob"), STATUS_OK);
  EXPECT_EQ(List(64), "admin\ncarol\nj\xE9r\xF4me\n");
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, kAdmin), STATUS_OK);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.ChangePassword(u"j\u00E9r\u00F4me", u"pw", u"j\u00E9r\u00F4me", u"new"),
            STATUS_OK);
  EXPECT_EQ(Users(), Line("carol", "carolpw") + Line("j\xE9r\xF4me", "new"));
  WriteUsers(kFactoryLine);
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, kAdmin), STATUS_OK);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_AUTH_FAILED);
  EXPECT_EQ(Users(), "") << "the last account gone, no factory account comes back";
}

// The list itself is the fuzz target's (user_file); the operation passes the
// capacity on, and a huge one gives the whole table.
TEST_F(AccountOperations, ListHoldsWholeNamesWithinTheCapacity) {
  EXPECT_EQ(List(11), "admin\n");
  EXPECT_EQ(List(12), "admin\nbob\n");
  for (std::int32_t capacity : {0, -1}) {
    char16_t list[8] = u"keep";
    EXPECT_EQ(manager.ListUsers(kAdmin, kFactoryPassword, list, capacity),
              STATUS_LIST_USERS_FAILED);
    EXPECT_EQ(std::u16string(list), u"keep");
  }
  std::string text = kFactoryLine, expected = "admin\n";
  for (int i = 1; i < 256; ++i) {
    const std::string name = std::string(16, 'n') + std::to_string(100 + i);
    text += name + ":D\n";
    expected += name + "\n";
  }
  WriteUsers(text);
  static char16_t list[256 * 20 + 2];
  const auto exact = static_cast<std::int32_t>(expected.size()) + 2;
  for (std::int32_t capacity : {0x7FFFFFFF, exact, exact - 1}) {
    ASSERT_EQ(manager.ListUsers(kAdmin, kFactoryPassword, list, capacity), STATUS_OK);
    EXPECT_EQ(Narrowed(list),
              capacity == exact - 1 ? expected.substr(0, expected.size() - 20) : expected);
  }
}

}  // namespace
}  // namespace nolva::test
