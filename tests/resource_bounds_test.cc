// Every operation, on its success and its failure paths, runs on a thread
// with a 64 KiB stack and leaves no descriptor open.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "operation_table/operations.h"
#include "tests/device_test_support.h"

namespace nolva::test {
namespace {

using operation_table::Call;
using operation_table::kOperations;
using operation_table::Operation;

constexpr std::size_t kDeviceStack = 64 * 1024;
constexpr std::size_t kGuard = 64 * 1024;  // larger than any one frame may jump
constexpr unsigned char kUnused = 0xA5;

// Sanitizers' frames are far larger than the device's: there the bound is
// not measured.
constexpr bool kSanitized = NOLVA_SANITIZED;

void* Start(void* body) {
  (*static_cast<const std::function<void()>*>(body))();
  return nullptr;
}

// Runs `body` on a thread whose stack holds `size` bytes above a guard that
// ends the process on an overflow; the thread's own bookkeeping sits at the
// stack's top, as with a stack size attribute. Returns the deepest use.
std::size_t RunOnStack(std::size_t size, const std::function<void()>& body) {
  void* mapped =
      mmap(nullptr, kGuard + size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) std::abort();
  unsigned char* stack = static_cast<unsigned char*>(mapped) + kGuard;
  mprotect(mapped, kGuard, PROT_NONE);
  std::memset(stack, kUnused, size);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstack(&attributes, stack, size);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, Start, const_cast<std::function<void()>*>(&body)) != 0)
    std::abort();
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  std::size_t untouched = 0;
  while (untouched < size && stack[untouched] == kUnused)
    ++untouched;
  munmap(mapped, kGuard + size);
  return size - untouched;
}

// Descriptor number -> what it is open on.
std::map<int, std::string> OpenDescriptors() {
  std::map<int, std::string> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    fds[std::stoi(entry.path().filename())] = std::filesystem::read_symlink(entry, error);
  }
  return fds;
}

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
    {"ReadOnlyFlash", [](const std::string& b, Call&) { board::SetFault(b, "flash-readonly"); }},
    {"FullFlash", [](const std::string& b, Call&) { board::SetFault(b, "flash-full", "0"); }},
    {"RenameFails", [](const std::string& b, Call&) { board::SetFault(b, "flash-rename-fails"); }},
    {"FullUserTable",
     [](const std::string& b, Call&) { Put(b, "/flash/nolva_user", UserLines(300)); }},
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
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    board::CreateBoard(Board());
    static Call call;
    call = Call();
    scenario.arrange(Board(), call);
    const std::map<int, std::string> before = OpenDescriptors();
    DeviceManager manager;
    // Sanitizers multiply frame sizes: there the bound is not measured.
    deepest = std::max(deepest, RunOnStack(kSanitized ? 8 << 20 : kDeviceStack,
                                           [&] { operation.run(manager, call); }));
    EXPECT_EQ(OpenDescriptors(), before);
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
  if (!kSanitized) std::printf("stack: %s uses %zu bytes at most\n", operation.name, deepest);
}

INSTANTIATE_TEST_SUITE_P(Operations, Resources, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nolva::test
