// Every operation's wide-string arguments. The input's first byte picks the
// operation; the rest is UTF-16 units, split at zero units into the user
// name, the password, the account name and the new password. Each string
// sits in a buffer of exactly its length, so a read past its terminator is a
// finding. On a factory-fresh device the gate admits exactly "admin" with
// "kevla" (and, for a change of password, no one else: the account must
// exist), and a refused call touches no output and reaches nothing but the
// user file.
#include <cstring>
#include <string>
#include <vector>

#include "board/control/board_control.h"
#include "board/control/process_board.h"
#include "fuzz/fuzz_check.h"
#include "operation_table/operations.h"

namespace {

using nolva::STATUS_AUTH_FAILED;
using nolva::StatusCode;
using nolva::operation_table::Call;
using nolva::operation_table::kOperations;
using nolva::operation_table::Operation;

constexpr char16_t kUntouched = 0xBEEF;
constexpr std::size_t kStrings = 4;

struct Narrowed {
  std::string text;  // up to the first zero byte
  bool fits;
};

// What the operation must make of a string: the low byte of each unit up to
// the first zero unit; it fits when its units leave room for the terminator.
Narrowed Narrow(const std::u16string& units, std::size_t buffer) {
  std::string text;
  for (char16_t unit : units) {
    if ((unit & 0xFF) == 0) break;
    text += static_cast<char>(unit & 0xFF);
  }
  return {text, units.size() < buffer};
}

Call call;
Call untouched;

bool OutputsUntouched() {
  return std::memcmp(&call.network, &untouched.network, sizeof call.network) == 0 &&
         std::memcmp(&call.service, &untouched.service, sizeof call.service) == 0 &&
         std::memcmp(&call.ocp, &untouched.ocp, sizeof call.ocp) == 0 &&
         std::memcmp(call.text, untouched.text, sizeof call.text) == 0 &&
         std::memcmp(call.text2, untouched.text2, sizeof call.text2) == 0;
}

bool ReachedOnlyTheUserFile() {
  for (const std::string& line : nolva::board::LogLines(nolva::board::BoardDirectory())) {
    if (line.find("/flash/nolva_") != line.find("/flash/nolva_user")) return false;
    for (const char* reached : {"/dev/", "/proc/", "/tmp/", "ioctl", "system", "usleep"})
      if (line.find(reached) != std::string::npos) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nolva::board::StartBoard();
  for (char16_t& unit : untouched.text)
    unit = kUntouched;
  for (char16_t& unit : untouched.text2)
    unit = kUntouched;
  std::memset(&untouched.network, 0xEE, sizeof untouched.network);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Operation& operation = kOperations[data[0] % std::size(kOperations)];
  std::vector<std::u16string> strings(kStrings);
  std::size_t which = 0;
  for (std::size_t i = 1; i + 1 < size && which < kStrings; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) {
      ++which;
      continue;
    }
    strings[which] += unit;
  }
  // Exactly sized copies: the terminator is the last unit of each buffer.
  std::vector<std::vector<char16_t>> buffers;
  for (const std::u16string& s : strings) {
    buffers.emplace_back(s.begin(), s.end());
    buffers.back().push_back(0);
  }

  nolva::board::WipeBoard();
  call = untouched;
  call.user = buffers[0].data();
  call.password = buffers[1].data();
  call.account = buffers[2].data();
  call.newPassword = buffers[3].data();
  nolva::DeviceManager manager;
  const StatusCode status = operation.run(manager, call);

  const Narrowed user = Narrow(strings[0], 20);
  const Narrowed password = Narrow(strings[1], 40);
  const bool admin = user.fits && user.text == "admin";
  const bool factoryPassword = password.fits && password.text == "kevla";
  if (!admin || !factoryPassword) FUZZ_CHECK(status == STATUS_AUTH_FAILED);
  if (admin && factoryPassword) FUZZ_CHECK(status != STATUS_AUTH_FAILED);
  if (status == STATUS_AUTH_FAILED) FUZZ_CHECK(OutputsUntouched() && ReachedOnlyTheUserFile());
  return 0;
}
