#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/account_board_test.h"

namespace nolva {
namespace {

using UserFile = AccountBoardTest;
using Rows = std::vector<std::pair<std::string, std::string>>;

Rows Load(DeviceManager& manager, std::int32_t expected = 0) {
  UserTable table;
  EXPECT_EQ(manager.LoadUsers(&table), expected);
  Rows rows;
  for (int i = 0; i < table.count; ++i)
    rows.emplace_back(table.entries[i].name, table.entries[i].digest);
  return rows;
}

TEST_F(UserFile, FreshBoardGetsTheFactoryAccountOnFirstUse) {
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), 0);
  EXPECT_EQ(Users(), kFactoryLine);
}

TEST_F(UserFile, OtherCallersThanAdminNeverReachTheFile) {
  EXPECT_EQ(manager.Login(u"Admin", u"kevla"), STATUS_AUTH_FAILED);
  EXPECT_EQ(manager.DeleteUser(u"bob", u"kevla", u"admin"), STATUS_AUTH_FAILED);
  EXPECT_FALSE(BoardFileExists(kUserFile));
}

TEST_F(UserFile, ExistingEmptyFileIsKeptAndHoldsNoAccount) {
  WriteUsers("");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), -4);
  EXPECT_EQ(Users(), "");
}

TEST_F(UserFile, LinesSplitAtTheFirstColonKeepingACarriageReturn) {
  WriteUsers("bob:AB:CD\nno colon\n:leading\ncarol:\ndave:xy\r\nerin:" + Digest("pw") +
             "\r\nfrank:");
  EXPECT_EQ(Load(manager), (Rows{{"bob", "AB:CD"},
                                 {"carol", ""},
                                 {"dave", "xy\r"},
                                 {"erin", Digest("pw") + "\r"},
                                 {"frank", ""}}));
  EXPECT_EQ(manager.VerifyUser("erin", "pw"), -1);
  EXPECT_EQ(manager.VerifyUser("carol", ""), -1);
}

TEST_F(UserFile, ReadsAtMost256LinesCountingIgnoredOnes) {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += "u" + std::to_string(i) + ":D\n";
  WriteUsers(text);
  Rows rows = Load(manager);
  ASSERT_EQ(rows.size(), 256u);
  EXPECT_EQ(rows.back().first, "u255");

  std::string ignored;
  for (int i = 0; i < 256; ++i)
    ignored += ":no name\n";
  WriteUsers(ignored + "late:D\n");
  EXPECT_TRUE(Load(manager).empty());
}

TEST_F(UserFile, PartsTooLongForTheirFieldsAreIgnoredNotCut) {
  std::string name19(19, 'n'), digest39(39, 'd');
  WriteUsers(name19 + "x:D\n" + "bob:" + digest39 + "x\n" + name19 + ":" + digest39 + "\n" +
             "carol:" + std::string(300, 'D') + "\n" + "dave:D\n");
  EXPECT_EQ(Load(manager), (Rows{{name19, digest39}, {"dave", "D"}}));
}

TEST_F(UserFile, FailedSaveLeavesTheOldFileWhole) {
  const std::string before = kFactoryLine + Line("bob", "old");
  for (const char* fault :
       {"flash-full", "flash-readonly", "flash-fsync-fails", "flash-rename-fails"}) {
    WriteUsers(before);
    SetFault(fault);
    EXPECT_EQ(manager.SetUserPassword("bob", "new"), -1) << fault;
    EXPECT_EQ(manager.RemoveUser("bob"), -1) << fault;
    EXPECT_EQ(manager.AddUser(u"admin", u"kevla", u"carol", u"pw"), STATUS_ADD_USER_FAILED)
        << fault;
    ClearFault(fault);
    EXPECT_EQ(Users(), before) << fault;
    EXPECT_EQ(FlashFileNames(), std::vector<std::string>{"nolva_user"}) << fault;
  }
}

TEST_F(UserFile, FileThatCannotBeReadIsNeitherResetNorReplaced) {
  std::filesystem::create_directory(Board() + "/flash/nolva_user");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), -3);
  EXPECT_EQ(manager.AppendUser("bob", "pw"), -3);
  std::filesystem::remove(Board() + "/flash/nolva_user");
  std::filesystem::create_symlink("nolva_user", Board() + "/flash/nolva_user");
  EXPECT_EQ(manager.Login(u"admin", u"kevla"), STATUS_AUTH_FAILED);
  EXPECT_TRUE(std::filesystem::is_symlink(Board() + "/flash/nolva_user"));
}

TEST_F(UserFile, FullTableOfLongestFieldsIsSavedWholeInFewWrites) {
  UserTable table = {};
  std::string expected;
  for (int i = 0; i < kMaxUsers; ++i) {
    UserEntry& entry = table.entries[table.count++];
    std::snprintf(entry.name, sizeof entry.name, "%019d", i);
    std::snprintf(entry.digest, sizeof entry.digest, "%039d", i);
    expected += std::string(entry.name) + ":" + entry.digest + "\n";
  }
  ASSERT_EQ(manager.SaveUsers(&table), 0);
  EXPECT_EQ(Users(), expected);
  int writes = 0;
  for (const std::string& line : LogLines())
    writes += line.rfind("write /flash/nolva_user.tmp", 0) == 0 ? 1 : 0;
  EXPECT_EQ(writes, 4);  // 15616 bytes in 4 KiB pieces, not a write per account
}

TEST_F(UserFile, FreshBoardWithReadOnlyFlashAdmitsNobody) {
  SetFault("flash-readonly");
  EXPECT_EQ(manager.VerifyUser("admin", "kevla"), -3);
  EXPECT_EQ(manager.Login(u"admin", u"kevla"), STATUS_AUTH_FAILED);
  EXPECT_FALSE(BoardFileExists(kUserFile));
}

}  // namespace
}  // namespace nolva
