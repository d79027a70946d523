// UpdateFirmware with arbitrary image bytes and lengths on the simulated
// board. The input's first byte picks how the call is made (the length the
// caller states, the partitions' erase size, a flash that takes short
// writes); the rest is the image, in a buffer of exactly its size. Whatever
// it holds: no byte past the image is read, an update reported done left
// exactly the image at the start of its partition and the name field there
// as the version, and a refused image touched neither partition.
#include <cstring>
#include <string>
#include <vector>

#include "board/control/board_control.h"
#include "board/control/process_board.h"
#include "fuzz/fuzz_check.h"
#include "store/device_manager.h"

namespace {

using nolva::StatusCode;

constexpr std::uint32_t kPartitionSize = 64 << 10;

std::string Partition(const char* device) {
  return nolva::board::ReadFile(nolva::board::HostPath(nolva::board::BoardDirectory(), device));
}

const char* Selected(const std::uint8_t* image, std::int32_t length) {
  if (length < nolva::kShortestImage) return nullptr;
  for (const nolva::FirmwareRoute& route : nolva::kFirmwareRoutes)
    if (std::memcmp(image + nolva::kImageNameOffset, route.selector, nolva::kImageSelectorSize) ==
        0)
      return route.device;
  return nullptr;
}

// The name field as the partition holds it: the image's bytes, and past a
// short image the erased flash.
std::string VersionOf(const std::string& partition) {
  const char* field = partition.data() + 32;
  return std::string(field, strnlen(field, 32));
}

std::string Narrowed(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text)
    out += static_cast<char>(*text);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nolva::board::BoardOptions options;
  options.mtdSize = kPartitionSize;
  options.mtdEraseSize = 4 << 10;
  nolva::board::StartBoard(options);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const std::uint8_t how = data[0];
  // The image alone, so that a read past its end is a finding.
  std::vector<std::uint8_t> image(data + 1, data + size);
  std::int32_t length = static_cast<std::int32_t>(image.size());
  if (how & 1) length = -length - 1;  // a negative length
  if (how & 2) length = length / 2;   // less than the buffer holds
  const std::string board = nolva::board::BoardDirectory();
  nolva::board::ClearLog();
  nolva::board::ClearFault(board, "mtd-short-writes");
  nolva::board::ClearFault(board, "mtd-erasesize-zero");
  if (how & 4)
    nolva::board::SetFault(board, "mtd-short-writes", std::to_string(512 * (1 + how % 8)));
  if ((how & 0x18) == 0x18) nolva::board::SetFault(board, "mtd-erasesize-zero");

  const char* target = Selected(image.data(), length);
  const std::string osBefore = target ? "" : Partition("/dev/mtd3");
  const std::string fsBefore = target ? "" : Partition("/dev/mtd4");
  nolva::DeviceManager manager;
  const StatusCode status = manager.UpdateFirmware(u"admin", u"kevla", image.data(), length);
  FUZZ_CHECK(status == nolva::STATUS_OK || status == nolva::STATUS_FIRMWARE_UPDATE_FAILED);

  if (target == nullptr) {
    FUZZ_CHECK(status == nolva::STATUS_FIRMWARE_UPDATE_FAILED);
    FUZZ_CHECK(Partition("/dev/mtd3") == osBefore);
    FUZZ_CHECK(Partition("/dev/mtd4") == fsBefore);
    return 0;
  }
  // An image that leaves no room for the extra erased block cannot be taken.
  if (static_cast<std::uint32_t>(length) >= kPartitionSize)
    FUZZ_CHECK(status == nolva::STATUS_FIRMWARE_UPDATE_FAILED);
  if (status != nolva::STATUS_OK) return 0;
  const std::string written = Partition(target);
  FUZZ_CHECK(written.compare(0, static_cast<std::size_t>(length),
                             std::string(image.begin(), image.begin() + length)) == 0);
  char16_t os[nolva::kVersionTextUnits];
  char16_t fs[nolva::kVersionTextUnits];
  FUZZ_CHECK(manager.GetFirmwareVersions(u"admin", u"kevla", os, fs) == nolva::STATUS_OK);
  FUZZ_CHECK(Narrowed(std::strcmp(target, "/dev/mtd3") == 0 ? os : fs) == VersionOf(written));
  return 0;
}
