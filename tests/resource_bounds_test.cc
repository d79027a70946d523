// Every operation, on its success and its failure paths, runs on a thread
// with a 64 KiB stack and leaves no descriptor open.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "tests/device_test_support.h"
#include "tests/support/descriptors.h"
#include "tests/support/operations.h"
#include "tests/support/small_stack.h"

namespace nolva::test {
namespace {

constexpr std::size_t kDeviceStack = 64 * 1024;

void Put(const std::string& board, const char* device, const std::string& bytes) {
  board::WriteFile(board::HostPath(board, device), bytes);
}

// "admin" with its factory password, then accounts named after their row.
std::string UserLines(int count) {
  std::string lines = kFactoryLine;
  for (int i = 1; i < count; ++i)
    lines += "user" + std::to_string(i) + ":D\n";
  return lines;
}

// What the board holds, and who calls, on one path through the operations.
struct Scenario {
  const char* name;
  void (*arrange)(const std::string& board, Call& call);
};

const Scenario kScenarios[] = {
    {"FactoryFreshBoard", [](const std::string&, Call&) {}},
    {"AccountBobExists",
     [](const std::string& b, Call&) { Put(b, "/flash/nolva_user", UserLines(1) + "bob:00\n"); }},
    {"WrongPassword", [](const std::string&, Call& c) { c.password = u"wrong"; }},
    {"OverlongCredentials",
     [](const std::string&, Call& c) {
       c.user = u"adminadminadminadminadminadmin";
       c.password = u"kevlakevlakevlakevlakevlakevlakevlakevlakevla";
     }},
    {"ReadOnlyFlash", [](const std::string& b, Call&) { board::SetFault(b, "flash-readonly"); }},
    {"FullFlash", [](const std::string& b, Call&) { board::SetFault(b, "flash-full", "0"); }},
    {"RenameFails", [](const std::string& b, Call&) { board::SetFault(b, "flash-rename-fails"); }},
    {"ShortFiles",
     [](const std::string& b, Call&) {
       for (const char* file : {"/flash/nolva_system", "/flash/nolva_service", "/flash/nolva_ocp"})
         Put(b, file, "\x01\x02\x03");
     }},
    {"FullUserTable",
     [](const std::string& b, Call&) { Put(b, "/flash/nolva_user", UserLines(300)); }},
    {"SmallCapacities",
     [](const std::string& b, Call& c) {
       Put(b, "/flash/nolva_user", UserLines(40));
       c.capacity = 3;
     }},
    {"ConflictingPorts",
     [](const std::string&, Call& c) {
       c.service.primaryPort = 23;
       c.ocp.ocpPort = 9100;
     }},
    {"NoDevices",
     [](const std::string& b, Call&) {
       for (const char* device : {"/dev/mtd3", "/dev/mtd4", "/proc/bus/usb/devices"})
         std::filesystem::remove(board::HostPath(b, device));
     }},
    {"EraseFails", [](const std::string& b, Call&) { board::SetFault(b, "mtd-erase-fails"); }},
    {"FirmwareWriteFails",
     [](const std::string& b, Call&) { board::SetFault(b, "mtd-write-fails"); }},
    {"TmpReadOnly", [](const std::string& b, Call&) { board::SetFault(b, "tmp-readonly"); }},
};

class Resources : public BoardTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(Resources, EveryPathFitsA64KiBStackAndClosesEveryDescriptor) {
  const Operation& operation = GetParam();
  std::size_t deepest = 0;
  const char* deepestPath = "";
  bool succeeded = false;
  bool failed = false;
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    board::CreateBoard(Board());
    static Call call;
    call = Call();
    scenario.arrange(Board(), call);
    const std::map<int, std::string> before = OpenDescriptors();
    DeviceManager manager;
    // Sanitizers multiply frame sizes: there the bound is not measured.
    StatusCode status = STATUS_OK;
    const std::size_t used = RunOnStack(kSanitized ? 8 << 20 : kDeviceStack,
                                        [&] { status = operation.run(manager, call); });
    EXPECT_EQ(OpenDescriptors(), before);
    (status == STATUS_OK ? succeeded : failed) = true;
    if (used > deepest) {
      deepest = used;
      deepestPath = scenario.name;
    }
  }
  // Descriptor 0 counts as a failed open on the device, yet is closed like
  // any other: with it free, the first file the operation opens gets it.
  board::CreateBoard(Board());
  static Call call;
  call = Call();
  const int input = dup(0);
  close(0);
  DeviceManager manager;
  operation.run(manager, call);
  const bool leaked = fcntl(0, F_GETFD) != -1;
  dup2(input, 0);
  close(input);
  EXPECT_FALSE(leaked) << "descriptor 0 left open";

  EXPECT_TRUE(succeeded) << "no scenario reaches the success path";
  EXPECT_TRUE(failed) << "no scenario reaches a failure path";
  if (kSanitized) return;
  EXPECT_LT(deepest, kDeviceStack);
  std::printf("stack: %s uses %zu bytes at most (%s)\n", operation.name, deepest, deepestPath);
}

INSTANTIATE_TEST_SUITE_P(Operations, Resources, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nolva::test
