// A caller the gate refuses reaches no device and gets no output.
#include <functional>
#include <string>
#include <vector>

#include "store/device_manager.h"
#include "tests/device_test_support.h"
#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

class DeviceOperations : public BoardTest {
 protected:
  DeviceManager manager;
};

TEST_F(DeviceOperations, RefusedCallersReachNoDeviceAndTouchNoOutput) {
  const std::vector<std::uint8_t> image = Image("nolva-os 4.2.0", 10000);
  char16_t text[64];
  char16_t second[64];
  using Operation = std::function<StatusCode(const char16_t*, const char16_t*)>;
  const struct {
    const char* name;
    Operation run;
  } operations[] = {
      {"GetMacAddress", [&](auto u, auto p) { return manager.GetMacAddress(u, p, text); }},
      {"GetFirmwareVersions",
       [&](auto u, auto p) { return manager.GetFirmwareVersions(u, p, text, second); }},
      {"GetUsbPorts", [&](auto u, auto p) { return manager.GetUsbPorts(u, p, text, 64); }},
      {"UpdateFirmware",
       [&](auto u, auto p) { return manager.UpdateFirmware(u, p, image.data(), 10000); }},
      {"FactoryReset", [&](auto u, auto p) { return manager.FactoryReset(u, p); }},
      {"Reboot", [&](auto u, auto p) { return manager.Reboot(u, p); }},
  };
  const struct {
    const char16_t* userName;
    const char16_t* password;
  } callers[] = {{kAdmin, u"wrong"}, {u"Admin", kFactoryPassword}, {u"", u""}};
  for (const auto& operation : operations) {
    for (const auto& caller : callers) {
      SCOPED_TRACE(std::string(operation.name) + " by " + Narrowed(caller.userName));
      board::CreateBoard(Board(), Options());
      WriteBoardFile("/flash/nolva_system", "settings");
      std::fill(std::begin(text), std::end(text), u'?');
      std::fill(std::begin(second), std::end(second), u'?');
      EXPECT_EQ(operation.run(caller.userName, caller.password), STATUS_AUTH_FAILED);
      EXPECT_EQ(std::u16string(text, 64), std::u16string(64, u'?'));
      EXPECT_EQ(std::u16string(second, 64), std::u16string(64, u'?'));
      // Only the user file, read by the gate, is reached.
      for (const std::string& line : LogLines()) {
        for (const char* reached : {"/dev/", "/proc/", "/tmp/", "ioctl", "system", "usleep"})
          EXPECT_EQ(line.find(reached), std::string::npos) << line;
      }
      EXPECT_EQ(ReadBoardFile("/flash/nolva_system"), "settings");
      EXPECT_EQ(ReadBoardFile("/dev/mtd3"), std::string(256 << 10, '\xFF'));
    }
  }
}

}  // namespace
}  // namespace nolva::test
