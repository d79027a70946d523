#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "management/credentials.h"
#include "store/device_manager.h"
#include "store/handles.h"

namespace nolva {
namespace {

constexpr const char* kRebootScript = "/tmp/.nolva_reboot";

// QUIRK: what the shell commands do is not examined: once the caller is admitted,
// the operations report success whatever happened.
void RunShell(const char* command) {
  int ignored = system(command);
  (void)ignored;
}

// Writes the script afresh: whatever stood at the path, a link included, is
// removed first, and the open refuses anything that reappears there.
bool WriteRebootScript(std::int32_t seconds) {
  char text[48];
  int length = snprintf(text, sizeof text, "sleep %d\n/sbin/reboot\n", seconds);
  remove(kRebootScript);
  FileDescriptor script(
      open(kRebootScript, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!script.IsOpen()) return false;
  bool written = write(script.Get(), text, static_cast<std::size_t>(length)) == length;
  if (script.Close() == 0 && written) return true;
  remove(kRebootScript);  // never leave half a script to be run later
  return false;
}

}  // namespace

void DeviceManager::ScheduleReboot(std::int32_t seconds) {
  if (WriteRebootScript(seconds)) {
    RunShell("/bin/sh /tmp/.nolva_reboot &");
    return;
  }
  // Without a script the shell takes the same two steps itself, so that a
  // reboot reported as scheduled does happen.
  char command[64];
  snprintf(command, sizeof command, "(sleep %d; /sbin/reboot) &", seconds);
  RunShell(command);
}

StatusCode DeviceManager::Reboot(const char16_t* userName, const char16_t* password) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  ScheduleReboot(kRebootDelaySeconds);
  return STATUS_OK;
}

StatusCode DeviceManager::FactoryReset(const char16_t* userName, const char16_t* password) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  // Every record and the user file go; each comes back with its factory
  // default on first use.
  RunShell("/bin/rm -f /flash/nolva_*");
  RunShell("/bin/rm -r -f /flash/ocp");
  ScheduleReboot(kRebootDelaySeconds);
  return STATUS_OK;
}

}  // namespace nolva
