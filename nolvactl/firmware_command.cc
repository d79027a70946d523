// update-firmware: the operation blocks for ten seconds and more, so on a
// terminal a second thread keeps telling how long it has been running.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

constexpr std::size_t kNameOffset = 32;
constexpr std::size_t kNameSize = 32;
constexpr std::size_t kShortestImage = kNameOffset + kNameSize;

struct Partition {
  const char* prefix;  // first 8 bytes of the name field
  const char* label;
};

constexpr Partition kPartitions[] = {
    {"nolva-os", "operating-system"},
    {"nolva-fs", "file-system"},
};

const Partition* PartitionOf(const std::string& name) {
  for (const Partition& partition : kPartitions)
    if (name.compare(0, 8, partition.prefix) == 0) return &partition;
  return nullptr;
}

std::string ImageName(const std::vector<std::uint8_t>& image) {
  const char* field = reinterpret_cast<const char*>(image.data() + kNameOffset);
  return std::string(field, strnlen(field, kNameSize));
}

std::string ReadImage(const std::string& path, std::vector<std::uint8_t>* image) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "cannot read " + path + ": " + strerror(errno);
  if (!S_ISREG(info.st_mode)) return path + " is not a regular file";
  const auto size = static_cast<unsigned long long>(info.st_size);
  if (size > static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max()))
    return path + " is too large: " + std::to_string(size) +
           " bytes, the device takes at most 2147483647";
  if (size < kShortestImage)
    return path + " is too short to be a firmware image (" + std::to_string(size) + " bytes)";
  std::ifstream in(path, std::ios::binary);
  image->resize(static_cast<std::size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(image->data()), static_cast<long>(size)))
    return "cannot read " + path;
  return "";
}

// Prints "<what> ... 12 s" on stderr every second until stopped.
class ElapsedTime {
 public:
  explicit ElapsedTime(std::string what) : what_(std::move(what)), thread_([this] { Tick(); }) {}
  ~ElapsedTime() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
    std::fputc('\n', stderr);
  }
  ElapsedTime(const ElapsedTime&) = delete;
  ElapsedTime& operator=(const ElapsedTime&) = delete;

 private:
  void Tick() {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (int seconds = 0; !done_; ++seconds) {
      std::fprintf(stderr, "\r%s ... %d s", what_.c_str(), seconds);
      std::fflush(stderr);
      wake_.wait_until(lock, start + std::chrono::seconds(seconds + 1), [this] { return done_; });
    }
  }

  std::string what_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

std::string CheckImage(Invocation& call) {
  return ReadImage(call.operands[0], &call.image);
}

// The name field of each partition, or "" when it cannot be read.
struct Versions {
  std::string os;
  std::string fs;
  const std::string& Of(const Partition& partition) const {
    return &partition == &kPartitions[0] ? os : fs;
  }
};

Versions ReadVersions(const Invocation& call, const Credentials& who) {
  char16_t os[33] = {};
  char16_t fs[33] = {};
  if (call.manager->GetFirmwareVersions(who.caller.Name(), who.caller.Password(), os, fs) !=
      nolva::STATUS_OK)
    return {};
  return {Narrow(os), Narrow(fs)};
}

bool Erased(const std::string& name) {
  return !name.empty() && name.find_first_not_of('\xFF') == std::string::npos;
}

// A failed update says nothing of how far it got. Erasing starts with the
// block that holds the name field, so a name that outlived the update, and
// that is not the new image's own, shows that nothing was erased.
std::string FailedUpdateHint(const Partition& partition, const std::string& name,
                             const std::string& before, const std::string& after) {
  const std::string where = std::string("the ") + partition.label + " partition";
  if (Erased(after)) return where + " is erased and holds no valid image now; update again";
  if (!after.empty() && after == before && after != name)
    return "nothing was erased: " + where + " still holds " + Printable(after);
  return "the partition may hold no valid image now; check versions and update again";
}

Outcome RunUpdateFirmware(const Invocation& call, const Credentials& who) {
  const std::vector<std::uint8_t>& image = call.image;
  const std::string name = ImageName(image);
  const Partition* partition = PartitionOf(name);
  const std::int32_t length = static_cast<std::int32_t>(image.size());
  const Versions before = partition != nullptr ? ReadVersions(call, who) : Versions{};
  std::optional<ElapsedTime> progress;
  if (!call.json && isatty(STDERR_FILENO))
    progress.emplace("erasing, writing and verifying flash with " + Printable(name) + " (" +
                     std::to_string(length) + " bytes)");
  const nolva::StatusCode status =
      call.manager->UpdateFirmware(who.caller.Name(), who.caller.Password(), image.data(), length);
  progress.reset();
  const char* label = partition != nullptr ? partition->label : "selected";
  Outcome outcome{status,
                  "firmware updated: " + Printable(name) + " written to the " + label +
                      " partition and verified (" + std::to_string(length) + " bytes)\n",
                  JsonObject()
                      .Add("image", name)
                      .Add("partition", label)
                      .Add("bytes", static_cast<std::int64_t>(length))};
  if (status != nolva::STATUS_FIRMWARE_UPDATE_FAILED) return outcome;
  if (partition == nullptr) {
    outcome.hint =
        "the image name '" + Printable(name) + "' begins with neither nolva-os nor nolva-fs";
  } else {
    outcome.hint = FailedUpdateHint(*partition, name, before.Of(*partition),
                                    ReadVersions(call, who).Of(*partition));
  }
  return outcome;
}

const char kDetails[] =
    "Writes the image in FILE to the flash partition that its name field selects\n"
    "(bytes 32 to 39: nolva-os for the OS image, nolva-fs for the FS image) and\n"
    "reads it back. Takes ten seconds or more; on a terminal the elapsed time is\n"
    "shown. The new image runs after the next reboot.\n";

}  // namespace

const std::vector<Command> kFirmwareCommands = {
    {"update-firmware", "FILE", "write a firmware image to flash and verify it", kNoOptions,
     CheckImage, Needs::kCredentials, RunUpdateFirmware, kDetails},
};

}  // namespace nolvactl
