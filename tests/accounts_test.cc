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

// Front ends compare the primitives' numbers: the names must keep them.
static_assert(kAccountDone == 0 && kAccountRefused == -1 && kAccountTooLong == -2 &&
              kAccountUnreadable == -3 && kAccountNotFound == -4 && kAccountExists == -4);
static_assert(kNameListDone == 0 && kNameListNoRoom == -1 && kNameListUnreadable == -2);

using Rows = std::vector<std::pair<std::string, std::string>>;

class Accounts : public DeviceTest {
 protected:
  Rows Load(std::int32_t expected = kAccountDone) {
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
}

TEST_F(Accounts, EmptyFileHoldsNoAccount) {
  WriteUsers("");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), kAccountNotFound);
  EXPECT_EQ(Users(), "");
}

// Names that narrow to "admin", other names and wrong passwords are the fuzz
// seeds' (wide_args); lengths at the limits are the primitives'.
TEST_F(Accounts, ResetGivesTheFactoryTableAndStoresIt) {
  WriteUsers(Line("bob", "pw"));
  UserTable table;
  std::memset(&table, 0xFF, sizeof table);
  ASSERT_EQ(manager.ResetUsers(&table), kAccountDone);
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
}

// A unit past 0xFF narrows to a 0 byte: the name reads "admin" as long as
// all its 19 units fit the name's buffer.
TEST_F(Accounts, LoginNameEndsAtItsFirstUnitPast0xFFWhileItFitsTheBuffer) {
  const std::u16string admin19 = u"admin\u0100" + std::u16string(13, u'x');
  EXPECT_EQ(manager.Login(admin19.c_str(), kFactoryPassword), STATUS_OK);
  EXPECT_EQ(manager.Login((admin19 + u"x").c_str(), kFactoryPassword), STATUS_AUTH_FAILED);
}

// A primitive's call and the result it must give, leaving the file as it was.
struct PrimitiveRow {
  const char* name;
  std::int32_t (*call)(DeviceManager& manager);
  std::int32_t expected;
};

void PrintTo(const PrimitiveRow& row, std::ostream* out) {
  *out << row.name;
}

using M = DeviceManager;
const std::string kName17(17, 'n'), kPassword33(33, 'p');

const PrimitiveRow kMissingArguments[] = {
    {"VerifyWithoutName", [](M& m) { return m.VerifyUser(nullptr, "pw"); }, kAccountRefused},
    {"VerifyWithoutPassword", [](M& m) { return m.VerifyUser("bob", nullptr); }, kAccountRefused},
    {"SetPasswordWithoutName", [](M& m) { return m.SetUserPassword(nullptr, "pw"); },
     kAccountRefused},
    {"SetPasswordWithoutPassword", [](M& m) { return m.SetUserPassword("bob", nullptr); },
     kAccountRefused},
    {"RemoveWithoutName", [](M& m) { return m.RemoveUser(nullptr); }, kAccountRefused},
    {"AppendWithoutName", [](M& m) { return m.AppendUser(nullptr, "pw"); }, kAccountRefused},
    {"AppendWithoutPassword", [](M& m) { return m.AppendUser("eve", nullptr); }, kAccountRefused},
    {"LoadWithoutTable", [](M& m) { return m.LoadUsers(nullptr); }, kAccountRefused},
    {"SaveWithoutTable", [](M& m) { return m.SaveUsers(nullptr); }, kAccountRefused},
    {"ResetWithoutTable", [](M& m) { return m.ResetUsers(nullptr); }, kAccountRefused},
    {"ListWithoutText", [](M& m) { return m.ListUserNames(nullptr, 10); }, kNameListNoRoom},
};

const PrimitiveRow kOverlongArguments[] = {
    {"Verify17ByteName", [](M& m) { return m.VerifyUser(kName17.c_str(), "pw"); }, kAccountTooLong},
    {"Verify33BytePassword", [](M& m) { return m.VerifyUser("bob", kPassword33.c_str()); },
     kAccountTooLong},
    {"SetPassword17ByteName", [](M& m) { return m.SetUserPassword(kName17.c_str(), "pw"); },
     kAccountTooLong},
    {"SetPassword33BytePassword",
     [](M& m) { return m.SetUserPassword("bob", kPassword33.c_str()); }, kAccountTooLong},
    {"Remove17ByteName", [](M& m) { return m.RemoveUser(kName17.c_str()); }, kAccountTooLong},
    {"Append17ByteName", [](M& m) { return m.AppendUser(kName17.c_str(), "pw"); }, kAccountTooLong},
    {"Append33BytePassword", [](M& m) { return m.AppendUser("eve", kPassword33.c_str()); },
     kAccountTooLong},
};

const PrimitiveRow kUnknownOrExistingAccounts[] = {
    {"VerifyUnknown", [](M& m) { return m.VerifyUser("eve", "pw"); }, kAccountNotFound},
    {"SetPasswordOfUnknown", [](M& m) { return m.SetUserPassword("eve", "pw"); }, kAccountNotFound},
    {"RemoveUnknown", [](M& m) { return m.RemoveUser("eve"); }, kAccountNotFound},
    {"AppendExisting", [](M& m) { return m.AppendUser("bob", "pw"); }, kAccountExists},
};

class RefusedPrimitive : public Accounts, public ::testing::WithParamInterface<PrimitiveRow> {};

TEST_P(RefusedPrimitive, AnswersItsResultAndLeavesTheFile) {
  WriteUsers(kFactoryLine + Line("bob", "pw"));
  const std::string before = Users();
  EXPECT_EQ(GetParam().call(manager), GetParam().expected);
  EXPECT_EQ(Users(), before);
}

INSTANTIATE_TEST_SUITE_P(MissingArgument, RefusedPrimitive, ::testing::ValuesIn(kMissingArguments),
                         RowName());
INSTANTIATE_TEST_SUITE_P(OverlongArgument, RefusedPrimitive,
                         ::testing::ValuesIn(kOverlongArguments), RowName());
INSTANTIATE_TEST_SUITE_P(UnknownOrExistingAccount, RefusedPrimitive,
                         ::testing::ValuesIn(kUnknownOrExistingAccounts), RowName());

TEST_F(Accounts, PrimitivesTakeTheLongestNameAndPassword) {
  WriteUsers(kFactoryLine);
  const std::string name16(16, 'n'), password32(32, 'p');
  EXPECT_EQ(manager.AppendUser(name16.c_str(), password32.c_str()), kAccountDone);
  EXPECT_EQ(manager.VerifyUser(name16.c_str(), password32.c_str()), kAccountDone);
}

TEST_F(Accounts, ChangesActOnTheFirstLineOfANameAndKeepTheOrder) {
  WriteUsers(Line("bob", "first") + Line("carol", "c") + Line("bob", "second"));
  EXPECT_EQ(manager.VerifyUser("bob", "first"), kAccountDone);
  EXPECT_EQ(manager.VerifyUser("bob", "second"), kAccountRefused);
  EXPECT_EQ(manager.SetUserPassword("bob", "new"), kAccountDone);
  EXPECT_EQ(Users(), Line("bob", "new") + Line("carol", "c") + Line("bob", "second"));
  EXPECT_EQ(manager.RemoveUser("bob"), kAccountDone);
  EXPECT_EQ(manager.AppendUser("dave", "d"), kAccountDone);
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
    EXPECT_EQ(manager.AppendUser(c.name, "pw"), kAccountRefused) << c.why;
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
  EXPECT_EQ(manager.VerifyUser("carol", ""), kAccountRefused);
  EXPECT_EQ(manager.VerifyUser("dave", "pw"), kAccountRefused);
}

// A line is read in pieces of at most 255 bytes; what follows the first
// piece of a longer line is read as a line of its own.
TEST_F(Accounts, LongLinesAreReadIn255BytePieces) {
  const struct {
    const char* name;
    std::size_t filler;  // bytes before "eve:D"
    std::string account;
  } cases[] = {{"eve's line starts the second piece", 255, "eve"},
               {"the first piece ends in eve's name", 254, "ve"}};
  for (const auto& c : cases) {
    WriteUsers(std::string(c.filler, 'x') + "eve:D\nbob:D\n");
    EXPECT_EQ(Load(), (Rows{{c.account, "D"}, {"bob", "D"}})) << c.name;
  }
}

// Accounts u0 to u299.
std::string ThreeHundredLines() {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += "u" + std::to_string(i) + ":D\n";
  return text;
}

TEST_F(Accounts, TheTableHoldsTheFirst256Lines) {
  WriteUsers(ThreeHundredLines());
  const Rows rows = Load();
  ASSERT_EQ(rows.size(), 256u);
  EXPECT_EQ(rows.back().first, "u255");
}

TEST_F(Accounts, AFullTableTakesNoAccountUntilOneIsRemoved) {
  WriteUsers(ThreeHundredLines());
  EXPECT_EQ(manager.AppendUser("one-more", "pw"), kAccountRefused);
  EXPECT_EQ(Users(), ThreeHundredLines());
  EXPECT_EQ(manager.RemoveUser("u7"), kAccountDone);
  EXPECT_EQ(manager.AppendUser("one-more", "pw"), kAccountDone);
}

TEST_F(Accounts, IgnoredLinesCountTowardsThe256) {
  std::string ignored;
  for (int i = 0; i < 256; ++i)
    ignored += ":no name\n";
  WriteUsers(ignored + "late:D\n");
  EXPECT_TRUE(Load().empty());
}

TEST_F(Accounts, FileThatCannotBeReadIsNeitherResetNorReplaced) {
  std::filesystem::create_directory(Board() + "/flash/nolva_user");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), kAccountUnreadable);
  EXPECT_EQ(manager.AppendUser("bob", "pw"), kAccountUnreadable);
  EXPECT_EQ(manager.ListUserNames(nullptr, 0), kNameListNoRoom);
  char text[8];
  EXPECT_EQ(manager.ListUserNames(text, sizeof text), kNameListUnreadable);
  EXPECT_TRUE(std::filesystem::is_directory(Board() + "/flash/nolva_user"));
}

TEST_F(Accounts, FactoryAccountThatCannotBeStoredAdmitsNoOne) {
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
  ASSERT_EQ(manager.SaveUsers(&table), kAccountDone);
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

// An admitted caller's call and the operation's own failure code it must
// give, leaving the file as it was. Arguments too long for the operation's
// own buffers (a unit past 0xFF keeps the narrowed text short but the
// string long) fail like the rest.
struct OperationRow {
  const char* name;
  StatusCode (*call)(DeviceManager& manager);
  StatusCode expected;
};

void PrintTo(const OperationRow& row, std::ostream* out) {
  *out << row.name;
}

const std::u16string kLong20 = u"bob\u0100" + std::u16string(20, u'n');
const std::u16string kPassword40(40, u'p');
constexpr StatusCode kChange = STATUS_CHANGE_PASSWORD_FAILED, kDelete = STATUS_DELETE_USER_FAILED,
                     kAdd = STATUS_ADD_USER_FAILED;

const OperationRow kRefusedOperations[] = {
    {"ChangePasswordOfUnknown",
     [](M& m) { return m.ChangePassword(kAdmin, kFactoryPassword, u"ghost", u"pw"); }, kChange},
    {"ChangeToOverlongPassword",
     [](M& m) { return m.ChangePassword(kAdmin, kFactoryPassword, u"bob", kPassword40.c_str()); },
     kChange},
    {"ChangePasswordOfOverlongName",
     [](M& m) { return m.ChangePassword(u"bob", u"bobpw", kLong20.c_str(), u"pw"); }, kChange},
    {"DeleteUnknown", [](M& m) { return m.DeleteUser(kAdmin, kFactoryPassword, u"ghost"); },
     kDelete},
    {"DeleteOverlongName",
     [](M& m) { return m.DeleteUser(kAdmin, kFactoryPassword, kLong20.c_str()); }, kDelete},
    {"AddExisting", [](M& m) { return m.AddUser(kAdmin, kFactoryPassword, u"bob", u"pw"); }, kAdd},
    {"AddOverlongName",
     [](M& m) { return m.AddUser(kAdmin, kFactoryPassword, kLong20.c_str(), u"pw"); }, kAdd},
    {"AddWithOverlongPassword",
     [](M& m) { return m.AddUser(kAdmin, kFactoryPassword, u"dave", kPassword40.c_str()); }, kAdd},
    {"AddNameWithTab", [](M& m) { return m.AddUser(kAdmin, kFactoryPassword, u"bo\tb", u"pw"); },
     kAdd},
    {"ListWithoutText", [](M& m) { return m.ListUsers(kAdmin, kFactoryPassword, nullptr, 8); },
     STATUS_LIST_USERS_FAILED},
};

class RefusedOperation : public AccountOperations,
                         public ::testing::WithParamInterface<OperationRow> {};

TEST_P(RefusedOperation, GivesItsOwnFailureCodeAndLeavesTheFile) {
  const std::string before = Users();
  EXPECT_EQ(GetParam().call(manager), GetParam().expected);
  EXPECT_EQ(Users(), before);
}

INSTANTIATE_TEST_SUITE_P(AdmittedCaller, RefusedOperation, ::testing::ValuesIn(kRefusedOperations),
                         RowName());

// The longest name and password pass every buffer on the way.
TEST_F(AccountOperations, LongestNameAndPasswordPassEveryBuffer) {
  const std::u16string longest(16, u'l'), password32(32, u'p');
  EXPECT_EQ(manager.AddUser(kAdmin, kFactoryPassword, longest.c_str(), password32.c_str()),
            STATUS_OK);
  EXPECT_EQ(manager.ChangePassword(longest.c_str(), password32.c_str(), longest.c_str(), u"pw"),
            STATUS_OK);
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, longest.c_str()), STATUS_OK);
}

TEST_F(AccountOperations, AddedAccountsLogInAndDeletedOnesLeaveTheList) {
  EXPECT_EQ(manager.AddUser(kAdmin, kFactoryPassword, u"j\u00E9r\u00F4me", u"pw"), STATUS_OK);
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, u"bob"), STATUS_OK);
  EXPECT_EQ(List(64), "admin\ncarol\nj\xE9r\xF4me\n");
  EXPECT_EQ(manager.ChangePassword(u"j\u00E9r\u00F4me", u"pw", u"j\u00E9r\u00F4me", u"new"),
            STATUS_OK);
  EXPECT_EQ(Users(), kFactoryLine + Line("carol", "carolpw") + Line("j\xE9r\xF4me", "new"));
}

TEST_F(AccountOperations, AdminCanDeleteItself) {
  EXPECT_EQ(manager.DeleteUser(kAdmin, kFactoryPassword, kAdmin), STATUS_OK);
  EXPECT_EQ(manager.Login(kAdmin, kFactoryPassword), STATUS_AUTH_FAILED);
  EXPECT_EQ(Users(), Line("bob", "bobpw") + Line("carol", "carolpw"));
}

TEST_F(AccountOperations, NoFactoryAccountReturnsOnceTheLastIsDeleted) {
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
}

TEST_F(AccountOperations, ListRefusesACapacityBelowOneLeavingTheText) {
  for (std::int32_t capacity : {0, -1}) {
    char16_t list[8] = u"keep";
    EXPECT_EQ(manager.ListUsers(kAdmin, kFactoryPassword, list, capacity), STATUS_LIST_USERS_FAILED)
        << capacity;
    EXPECT_EQ(std::u16string(list), u"keep") << capacity;
  }
}

TEST_F(AccountOperations, ListOfAFullTableFitsItsExactCapacity) {
  std::string text = kFactoryLine, expected = "admin\n";
  for (int i = 1; i < 256; ++i) {
    const std::string name = std::string(16, 'n') + std::to_string(100 + i);
    text += name + ":D\n";
    expected += name + "\n";
  }
  WriteUsers(text);
  static char16_t list[256 * 20 + 2];
  const auto exact = static_cast<std::int32_t>(expected.size()) + 2;
  const struct {
    const char* name;
    std::int32_t capacity;
    std::string expected;
  } cases[] = {{"huge", 0x7FFFFFFF, expected},
               {"exact", exact, expected},
               {"one unit short", exact - 1, expected.substr(0, expected.size() - 20)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(manager.ListUsers(kAdmin, kFactoryPassword, list, c.capacity), STATUS_OK);
    EXPECT_EQ(Narrowed(list), c.expected);
  }
}

}  // namespace
}  // namespace nolva::test
