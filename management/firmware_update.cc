#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-user.h>  // after sys/ioctl.h: its request codes need _IOR/_IOW

#include <cstring>

#include "management/credentials.h"
#include "store/device_manager.h"
#include "store/handles.h"

namespace nolva {
namespace {

static_assert(MEMGETINFO == 0x80204D01u && MEMERASE == 0x40084D02u, "the platform's MTD requests");

constexpr std::uint64_t kBlocksPerWrite = 128;
constexpr std::int32_t kVerifyBlockSize = 4096;
constexpr useconds_t kEraseSettleMicroseconds = 10000000;

// An image must hold its whole name field: it becomes the version text, and
// a shorter image would leave part of it to whatever the flash held.
const char* PartitionFor(const std::uint8_t* image, std::int32_t length) {
  const FirmwareRoute* route = FirmwareRouteOf(image, length);
  return route ? route->device : nullptr;
}

// QUIRK: erases one block more than the image fills whole. A request that would
// reach past the partition's end is not made at all.
bool MakeEraseRequest(const mtd_info_user& info, std::int32_t length, erase_info_user* erase) {
  const std::uint64_t blocks = static_cast<std::uint32_t>(length) / info.erasesize + 1;
  const std::uint64_t bytes = blocks * info.erasesize;
  if (bytes > info.size) return false;
  erase->start = 0;
  erase->length = static_cast<std::uint32_t>(bytes);
  return true;
}

}  // namespace

std::int32_t DeviceManager::WriteFirmwareImage(const std::uint8_t* image, std::int32_t length) {
  const char* partition = PartitionFor(image, length);
  if (!partition) return kFirmwareWriteFailed;
  FileDescriptor device(open(partition, O_RDWR | O_SYNC | O_CLOEXEC));
  if (!device.IsOpen()) return kFirmwareWriteFailed;
  mtd_info_user info;
  memset(&info, 0, sizeof info);
  if (ioctl(device.Get(), MEMGETINFO, &info) < 0 || info.erasesize == 0)
    return kFirmwareWriteFailed;
  erase_info_user erase;
  if (!MakeEraseRequest(info, length, &erase)) return kFirmwareEraseRefused;
  if (ioctl(device.Get(), MEMERASE, &erase) < 0) return kFirmwareEraseRefused;
  usleep(kEraseSettleMicroseconds);

  const std::uint64_t chunk = std::uint64_t{info.erasesize} * kBlocksPerWrite;
  for (std::int32_t offset = 0; offset < length;) {
    const std::uint64_t left = static_cast<std::uint64_t>(length - offset);
    const std::size_t count = static_cast<std::size_t>(left < chunk ? left : chunk);
    const ssize_t written = write(device.Get(), image + offset, count);
    // A write that takes nothing would be offered the same bytes forever.
    if (written <= 0) return kFirmwareWriteFailed;
    offset += static_cast<std::int32_t>(written);
  }
  return kFirmwareWritten;
}

std::int32_t DeviceManager::CompareFirmwareImage(const std::uint8_t* image, std::int32_t length) {
  const char* partition = PartitionFor(image, length);
  if (!partition) return -1;
  FileDescriptor device(open(partition, O_RDONLY | O_CLOEXEC));
  if (!device.IsOpen()) return -1;
  std::uint8_t block[kVerifyBlockSize];
  for (std::int32_t offset = 0; offset < length;) {
    const std::int32_t wanted =
        length - offset < kVerifyBlockSize ? length - offset : kVerifyBlockSize;
    const ssize_t got = read(device.Get(), block, static_cast<std::size_t>(wanted));
    // The partition ending before the image does is a failed verification.
    if (got <= 0) return -1;
    // Whole blocks are compared at once; only one that differs is searched
    // for its first differing byte.
    if (memcmp(block, image + offset, static_cast<std::size_t>(got)) != 0) {
      std::int32_t i = 0;
      while (block[i] == image[offset + i])
        ++i;
      // QUIRK: a difference at offset 0 gives -1, as a failure would.
      return offset + i == 0 ? -1 : -(offset + i);
    }
    offset += static_cast<std::int32_t>(got);
  }
  return 0;
}

StatusCode DeviceManager::UpdateFirmware(const char16_t* userName, const char16_t* password,
                                         const std::uint8_t* image, std::int32_t length) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  if (!PartitionFor(image, length)) return STATUS_FIRMWARE_UPDATE_FAILED;
  if (WriteFirmwareImage(image, length) < 0) return STATUS_FIRMWARE_UPDATE_FAILED;
  if (CompareFirmwareImage(image, length) < 0) return STATUS_FIRMWARE_UPDATE_FAILED;
  return STATUS_OK;
}

}  // namespace nolva
