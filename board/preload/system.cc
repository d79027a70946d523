// Shell commands as the board runs them. Nothing reaches the host's shell:
// each known command line has an emulation, any other is logged, not run.
// Directories are read with the 64-bit calls: in a 32-bit process the plain
// ones stop early (EOVERFLOW) on a host file system's 64-bit entries.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/preload/sim.h"

namespace nolva::board::sim {
namespace {

int ExitStatus(int code) {
  return code << 8;
}

// A command that fails with its message on standard error.
int Failed(const char* message) {
  (void)!NOLVA_REAL(write)(2, message, std::strlen(message));
  return ExitStatus(1);
}

// "0a:1b:2c:3d:4e:5f" -> its six bytes.
bool ParseMac(const char* text, unsigned char (&mac)[6]) {
  if (std::strlen(text) != 17) return false;
  for (int i = 0; i < 17; ++i) {
    const bool colon = i % 3 == 2;
    if (colon ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  for (int i = 0; i < 6; ++i)
    mac[i] = static_cast<unsigned char>(std::strtoul(text + 3 * i, nullptr, 16));
  return true;
}

// The kernel gives an Ethernet interface only a unicast address that is not
// all zero; it refuses anything else and the interface keeps its address.
bool IsAssignable(const unsigned char (&mac)[6]) {
  const unsigned char zero[6] = {};
  return (mac[0] & 1) == 0 && std::memcmp(mac, zero, sizeof zero) != 0;
}

int SetMac(const char* args) {
  unsigned char mac[6];
  if (!ParseMac(args, mac)) return Failed("ifconfig: invalid hardware address\n");
  char path[kPathMax + 16];
  BoardFile(path, sizeof path, "/eth0");
  if (NOLVA_REAL(access)(path, F_OK) != 0)
    return Failed("ifconfig: SIOCSIFHWADDR: No such device\n");
  if (!IsAssignable(mac))
    return Failed("ifconfig: SIOCSIFHWADDR: Cannot assign requested address\n");
  char text[32];
  BoardFile(path, sizeof path, "/eth0/hwaddr");
  std::snprintf(text, sizeof text, "%s\n", args);
  return ExitStatus(WriteSmallFile(path, text) ? 0 : 1);
}

int CatInterfaces(const char*) {
  std::fflush(stdout);
  char path[kPathMax + 32];
  BoardFile(path, sizeof path, "/etc/network/interfaces");
  const int fd = NOLVA_REAL(open)(path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return Failed("cat: /etc/network/interfaces: No such file or directory\n");
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    (void)!NOLVA_REAL(write)(1, buffer, static_cast<std::size_t>(n));
  NOLVA_REAL(close)(fd);
  return ExitStatus(0);
}

// rm -f /flash/nolva_*: regular files only, as rm without -r would.
int RemoveNolvaFiles(const char*) {
  char dirPath[kPathMax + 8];
  BoardFile(dirPath, sizeof dirPath, "/flash");
  DIR* dir = NOLVA_REAL(opendir)(dirPath);
  if (dir == nullptr) return ExitStatus(0);
  int status = 0;
  while (const dirent64* entry = readdir64(dir)) {
    if (std::strncmp(entry->d_name, "nolva_", 6) != 0) continue;
    char device[kPathMax];
    char host[2 * kPathMax];
    std::snprintf(device, sizeof device, "/flash/%s", entry->d_name);
    std::snprintf(host, sizeof host, "%s/%s", dirPath, entry->d_name);
    if (Step(Event::Remove, {Area::Flash, device}) != 0 || NOLVA_REAL(unlink)(host) != 0)
      status = 1;
  }
  closedir(dir);
  return ExitStatus(status);
}

bool RemoveTree(const char* path) {
  struct stat64 st;
  if (NOLVA_REAL(lstat64)(path, &st) != 0) return true;
  if (!S_ISDIR(st.st_mode)) return NOLVA_REAL(unlink)(path) == 0;
  DIR* dir = NOLVA_REAL(opendir)(path);
  if (dir == nullptr) return false;
  bool ok = true;
  while (const dirent64* entry = readdir64(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    char child[kPathMax];
    std::snprintf(child, sizeof child, "%s/%s", path, entry->d_name);
    ok = RemoveTree(child) && ok;
  }
  closedir(dir);
  return NOLVA_REAL(rmdir)(path) == 0 && ok;
}

int RemoveOcpDir(const char*) {
  char host[kPathMax + 16];
  BoardFile(host, sizeof host, "/flash/ocp");
  if (NOLVA_REAL(access)(host, F_OK) != 0) return ExitStatus(0);
  if (Step(Event::Remove, {Area::Flash, "/flash/ocp"}) != 0) return ExitStatus(1);
  return ExitStatus(RemoveTree(host) ? 0 : 1);
}

// "sleep 5\n" -> "sleep 5\\n": the log keeps one line per event.
void Escape(const char* text, std::size_t length, char* out, std::size_t size) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < length && used + 5 < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\\' || c == '"') {
      out[used++] = '\\';
      out[used++] = c == '\n' ? 'n' : static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      used += static_cast<std::size_t>(std::snprintf(out + used, size - used, "\\x%02x", c));
    } else {
      out[used++] = static_cast<char>(c);
    }
  }
  out[used] = '\0';
}

void RecordReboot(const char* steps, std::size_t length) {
  char text[4 * 512 + 1];
  Escape(steps, length, text, sizeof text);
  Log("reboot scheduled \"%s\"", text);
}

// /bin/sh SCRIPT &: the background shell runs the script as it stands now.
int RunRebootScript(const char*) {
  char host[kPathMax + 32];
  BoardFile(host, sizeof host, "/tmp/.nolva_reboot");
  const int fd = NOLVA_REAL(open)(host, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  if (fd < 0) {
    Log("reboot not scheduled: /tmp/.nolva_reboot cannot be read");
    return ExitStatus(0);  // the shell fails in the background
  }
  char script[512];
  const ssize_t n = NOLVA_REAL(read)(fd, script, sizeof script);
  NOLVA_REAL(close)(fd);
  RecordReboot(script, n > 0 ? static_cast<std::size_t>(n) : 0);
  return ExitStatus(0);
}

// (sleep N; /sbin/reboot) &: the same two steps without a script.
int RunRebootSteps(const char* args) {
  char* end = nullptr;
  const long seconds = std::strtol(args, &end, 10);
  if (end == args || std::strcmp(end, "; /sbin/reboot) &") != 0) {
    Log("reboot not scheduled: unknown steps");
    return ExitStatus(127);
  }
  char steps[64];
  const int n = std::snprintf(steps, sizeof steps, "sleep %ld\n/sbin/reboot\n", seconds);
  RecordReboot(steps, static_cast<std::size_t>(n));
  return ExitStatus(0);
}

struct Command {
  const char* text;
  bool prefix;                   // the rest of the line is the handler's argument
  int (*run)(const char* args);  // nullptr: only recorded
};

constexpr Command kCommands[] = {
    {"ifconfig eth0 hw ether ", true, SetMac},
    {"/bin/cat /etc/network/interfaces", false, CatInterfaces},
    {"/sbin/ifup -a", false, nullptr},
    {"/bin/rm -f /flash/nolva_*", false, RemoveNolvaFiles},
    {"/bin/rm -r -f /flash/ocp", false, RemoveOcpDir},
    {"/bin/sh /tmp/.nolva_reboot &", false, RunRebootScript},
    {"(sleep ", true, RunRebootSteps},
};

}  // namespace

int EmulateSystem(const char* command) {
  RequireBoard();
  if (command == nullptr) return 1;  // "a shell is available"
  for (const Command& row : kCommands) {
    const std::size_t n = std::strlen(row.text);
    if (std::strncmp(command, row.text, n) != 0) continue;
    if (!row.prefix && command[n] != '\0') continue;
    Log("system %s", command);
    return row.run ? row.run(command + n) : ExitStatus(0);
  }
  Log("system (not run) %s", command);
  return ExitStatus(127);
}

}  // namespace nolva::board::sim
