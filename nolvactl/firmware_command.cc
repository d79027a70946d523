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

#include "front/front.h"
#include "nolvactl/command.h"
#include "nolvactl/output.h"
#include "nolvactl/password_input.h"

namespace nolvactl {
namespace {

using nolva::FirmwareRoute;
using nolva::front::Narrow;
using nolva::front::UpdateDamage;

std::string ReadImage(const std::string& path, std::vector<std::uint8_t>* image) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "cannot read " + path + ": " + strerror(errno);
  if (!S_ISREG(info.st_mode)) return path + " is not a regular file";
  const auto size = static_cast<unsigned long long>(info.st_size);
  if (size > static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max()))
    return path + " is too large: " + std::to_string(size) +
           " bytes, the device takes at most 2147483647";
  if (size < static_cast<unsigned long long>(nolva::kShortestImage))
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
  const std::string& Of(const FirmwareRoute& route) const {
    return &route == &nolva::kOsImage ? os : fs;
  }
};

Versions ReadVersions(const Invocation& call, const Credentials& who) {
  char16_t os[nolva::kVersionTextUnits] = {};
  char16_t fs[nolva::kVersionTextUnits] = {};
  if (call.manager->GetFirmwareVersions(who.caller.Name(), who.caller.Password(), os, fs) !=
      nolva::STATUS_OK)
    return {};
  return {Narrow(os), Narrow(fs)};
}

std::string FailedUpdateHint(const FirmwareRoute& route, const std::string& name,
                             const std::string& before, const std::string& after) {
  const std::string where = std::string("the ") + route.label + " partition";
  switch (nolva::front::DiagnoseFailedUpdate(name, before, after)) {
    case UpdateDamage::kErased:
      return where + " is erased and holds no valid image now; update again";
    case UpdateDamage::kOldImageKept:
      return "nothing was erased: " + where + " still holds " + Printable(after);
    case UpdateDamage::kUnknown:
      break;
  }
  return "the partition may hold no valid image now; check versions and update again";
}

std::string Selectors() {
  std::string list;
  for (const FirmwareRoute& route : nolva::kFirmwareRoutes)
    list += (list.empty() ? "" : " nor ") + std::string(route.selector);
  return list;
}

Outcome RunUpdateFirmware(const Invocation& call, const Credentials& who) {
  const std::vector<std::uint8_t>& image = call.image;
  const std::string name = nolva::front::ImageName(image.data(), image.size());
  const FirmwareRoute* partition =
      nolva::FirmwareRouteOf(image.data(), static_cast<std::int64_t>(image.size()));
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
    outcome.hint = "the image name '" + Printable(name) + "' begins with neither " + Selectors();
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
