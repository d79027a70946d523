// Text files longer than one read of the device's line reader (16 KiB):
// lines that fall across the end of a read, at every offset around it, are
// taken like any other.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

constexpr std::size_t kRead = 16 * 1024;

// Ignored lines of 255 bytes up to some 300 bytes before the end of the
// first read, then a line of `shift` bytes, so that what follows starts
// `shift` bytes further on.
std::string Preamble(std::size_t shift, char filler) {
  std::string text;
  while (text.size() + 2 * 255 < kRead)
    text += std::string(254, filler) + "\n";
  return text + std::string(shift, filler) + "\n";
}

using LinesAcrossARead = DeviceTest;

TEST_F(LinesAcrossARead, UserFileRowsLoadVerifyAndList) {
  for (std::size_t shift = 0; shift < 300; shift += 7) {
    SCOPED_TRACE(shift);
    // The tail of a line longer than 255 bytes is a line of its own, and a
    // NUL byte ends a line's text.
    WriteUsers(Preamble(shift, 'x') + Line("bob", "pw") + std::string(255, 'z') + "carol:C\n" +
               std::string("dave:D\0junk\n", 12) + std::string("\0eve:E\n", 7) + kFactoryLine);
    UserTable table;
    ASSERT_EQ(manager.LoadUsers(&table), kAccountDone);
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < table.count; ++i)
      rows.emplace_back(table.entries[i].name, table.entries[i].digest);
    EXPECT_EQ(
        rows,
        (std::vector<std::pair<std::string, std::string>>{
            {"bob", Digest("pw")}, {"carol", "C"}, {"dave", "D"}, {"admin", Digest("kevla")}}));
    EXPECT_EQ(manager.VerifyUser("bob", "pw"), kAccountDone);
    EXPECT_EQ(manager.VerifyUser("eve", "pw"), kAccountNotFound);
    char names[64];
    ASSERT_EQ(manager.ListUserNames(names, sizeof names), kNameListDone);
    EXPECT_STREQ(names, "bob\ncarol\ndave\nadmin\n");
  }
}

TEST_F(LinesAcrossARead, UsbDevicesAreListed) {
  const std::string device =
      "T:  Bus=01 Lev=02 Prnt=02 Port=01 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
      "S:  Product=Flash Disk\n";
  for (std::size_t shift = 0; shift < 300; shift += 7) {
    SCOPED_TRACE(shift);
    board::SetUsbDevices(Board(), Preamble(shift, ' ') + device);
    char text[128];
    ASSERT_EQ(ReadUsbPorts(text, sizeof text), 0);
    EXPECT_STREQ(text, "PORT 0:  \nPORT 1:  Flash Disk\nPORT 2:  \nPORT 3:  \n");
  }
}

}  // namespace
}  // namespace nolva::test
