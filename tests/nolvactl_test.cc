// nolvactl run as a process on the simulated board: command lines with the
// output (standard error, then standard output) and exit status they give.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/handles.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::ProgramResult;
using Lines = std::vector<std::string>;

const Lines kAdmin = {"NOLVA_PASSWORD=kevla", "NOLVA_NEW_PASSWORD=bobpw"};

// "user add bob; user del bob": the lines before the last run first as admin
// and must work; "fault NAME [VALUE]" switches a board fault on.
struct Row {
  std::string lines;
  int exitStatus;
  std::string output;  // of the last line; "nolvactl: " left out when it fails
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.lines;
}

Lines Split(const std::string& line, const std::string& separator = " ") {
  Lines words;
  for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + separator.size()) {
    end = line.find(separator, start);
    words.push_back(line.substr(start, end - start));
  }
  return words;
}

// A firmware image: its name field at bytes 32 to 63.
std::string Image(const std::string& name, std::size_t size) {
  return std::string(32, 'x') + name + std::string(size - 32 - name.size(), '\0');
}

class Nolvactl : public test::BoardTest {
 protected:
  board::BoardOptions Options() const override {
    board::BoardOptions options = test::TestBoardOptions();
    options.usbDevices =
        "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=480  MxCh= 4\n"
        "S:  Product=USB2.0 Hub\n"
        "T:  Bus=01 Lev=02 Prnt=02 Port=01 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
        "S:  Product=Flash Disk\n";
    return options;
  }

  // "@DIR@" names a scratch directory beside the board, holding the files
  // that command lines name. nolvactl inherits this process's stdin: no
  // terminal, so no prompt can wait.
  void SetUp() override {
    BoardTest::SetUp();
    unsetenv("NOLVA_PASSWORD");
    unsetenv("NOLVA_NEW_PASSWORD");
    const FileDescriptor devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(dup2(devNull.Get(), STDIN_FILENO), STDIN_FILENO);
    std::filesystem::create_directories(scratch_);
    const std::pair<const char*, std::string> files[] = {
        {"pw", "kevla\n"},
        {"wrong", "kevlb\n"},
        {"long", std::string(33, 'p')},
        {"new", "filepw\r\n"},
        {"filepw", "filepw\n"},
        {"os.img", Image("nolva-os 2.1", 5000)},
        {"os3.img", Image("nolva-os 3.0", 5000)},
        {"fs.img", Image("nolva-fs 2.1-rc1", 9000)},
        {"bad.img", Image("nolva-xx 2.1", 5000)},
        {"short.img", std::string(63, 'x')},
        {"big.img", Image("nolva-os 9", (256 << 10) + 1)},  // more than the partition
        {"huge.img", ""},
    };
    for (const auto& [name, bytes] : files)
      board::WriteFile(scratch_ + "/" + name, bytes);
    std::filesystem::resize_file(scratch_ + "/huge.img", 2147483648u);  // sparse
  }

  std::string Expand(std::string text) const {
    for (std::size_t at; (at = text.find("@DIR@")) != std::string::npos;)
      text.replace(at, 5, scratch_);
    return text;
  }

  ProgramResult Nolva(const std::string& line, const Lines& env) const {
    const std::string errors = scratch_ + "/stderr";
    std::fflush(stderr);
    const FileDescriptor savedStderr(dup(STDERR_FILENO));
    {
      const FileDescriptor file(
          open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      if (!file.IsOpen() || dup2(file.Get(), STDERR_FILENO) != STDERR_FILENO) return {-1, ""};
    }
    ProgramResult result = RunProgram(NOLVACTL_PATH, Split(Expand(line)), env);
    dup2(savedStderr.Get(), STDERR_FILENO);
    result.out = board::ReadFile(errors) + result.out;
    return result;
  }

  void Check(const Row& row, const Lines& env) {
    Lines lines = Split(row.lines, "; ");
    const std::string last = lines.back();
    lines.pop_back();
    for (const std::string& line : lines) {
      const Lines words = Split(line);
      if (words[0] == "fault")
        SetFault(words[1], words.size() > 2 ? words[2] : "");
      else
        ASSERT_EQ(Nolva(line, kAdmin).exitStatus, 0) << line;
    }
    const ProgramResult result = Nolva(last, env);
    EXPECT_EQ(result.exitStatus, row.exitStatus);
    EXPECT_EQ(result.out, Expand((row.exitStatus != 0 ? "nolvactl: " : "") + row.output));
  }

  const std::string scratch_ = Board() + "/../scratch";
};

class RefusedLine : public Nolvactl, public ::testing::WithParamInterface<Row> {};
class CommandLine : public Nolvactl, public ::testing::WithParamInterface<Row> {};

TEST_P(RefusedLine, CallsNothingOnTheDevice) {
  Check(GetParam(), {});
  EXPECT_TRUE(FlashFileNames().empty());  // not even the user file was made
}

TEST_P(CommandLine, GivesItsOutputAndExitStatus) {
  Check(GetParam(), kAdmin);
}

// Refused before anything is called, and before a password is looked for:
// run without one.
const Row kRefusedLines[] = {
    {"frobnicate", 2, "unknown command frobnicate (see nolvactl --help)\n"},
    {"login --verbose", 2, "login: unknown option --verbose\n"},
    {"login now", 2, "login: unexpected argument now\n"},
    {"user add", 2, "user add: NAME missing\n"},
    {"--json", 2,
     "no command given (see nolvactl --help)\n"
     "{\"ok\":false,\"status\":\"bad-input\",\"message\":\"no command given (see nolvactl "
     "--help)\"}\n"},
    {"login", 2,
     "login: no password: set NOLVA_PASSWORD, give a password file, or run on a terminal\n"},
    {"login --password-file @DIR@/none", 2,
     "login: cannot read the password file @DIR@/none: No such file or directory\n"},
    {"network set --static 10.0.0", 2,
     "network set: --static: '10.0.0' is not a dotted-quad address\n"},
    {"network set --gateway 10.0.0.256", 2,
     "network set: --gateway: '10.0.0.256' is not a dotted-quad address\n"},
    {"network set --netmask 255.0.255.0", 2,
     "network set: --netmask: '255.0.255.0' is not a netmask\n"},
    {"network set --dhcp --static 10.0.0.5", 2,
     "network set: --dhcp and --static exclude each other\n"},
    {"network set", 2, "network set: nothing to change (see --help)\n"},
    {"service set --primary-port 91OO", 2,
     "service set: --primary-port: '91OO' is not a port (1 to 65535)\n"},
    {"ocp set --port 65536", 2, "ocp set: --port: '65536' is not a port (1 to 65535)\n"},
    {"service set --secondary maybe", 2, "service set: --secondary: 'maybe' is not on or off\n"},
    {"service set --set svcWord6=1,colour=2", 2, "service set: --set: unknown field 'colour'\n"},
    {"user add bo:b", 2, "user add: the account name holds a ':'\n"},
    {"user add bo\tb", 2, "user add: the account name holds a control character\n"},
    {"passwd abcdefghijklmnopq", 2, "passwd: the account name is longer than 16 bytes\n"},
    {"--password-file @DIR@/pw user add bob", 2,
     "user add: no password: set NOLVA_NEW_PASSWORD, give a password file, or run on a terminal\n"},
    {"--password-file @DIR@/pw user add bob --new-password-file @DIR@/long", 2,
     "user add: the new password is longer than 32 bytes\n"},
    {"user del admin", 2,
     "user del: deleting admin locks everyone out of the device; add --force\n"},
    {"factory-reset", 2, "factory-reset: not confirmed: add --yes to reset without a question\n"},
    {"update-firmware @DIR@/none.img", 2,
     "update-firmware: cannot read @DIR@/none.img: No such file or directory\n"},
    {"update-firmware @DIR@", 2, "update-firmware: @DIR@ is not a regular file\n"},
    {"update-firmware @DIR@/short.img", 2,
     "update-firmware: @DIR@/short.img is too short to be a firmware image (63 bytes)\n"},
    {"update-firmware @DIR@/huge.img", 2,
     "update-firmware: @DIR@/huge.img is too large: 2147483648 bytes, the device takes at most "
     "2147483647\n"}};
INSTANTIATE_TEST_SUITE_P(BadInput, RefusedLine, ::testing::ValuesIn(kRefusedLines));

const std::string kDefaultService =
    "primary: enabled, port 9100, value 300000\nsecondary: enabled, port 11110, value 300000\n";
const std::string kFirmwareFailed = "update-firmware: firmware update failed (0x80000304): ";

// One success row per command, and the failures nolvactl words itself; run
// as admin.
const Row kCommandLines[] = {
    {"login", 0, "credentials accepted for admin\n"},
    {"--password-file=@DIR@/wrong login --json", 3,
     "login: authentication refused (0x80000300)\n"
     "{\"ok\":false,\"status\":\"STATUS_AUTH_FAILED\",\"code\":\"0x80000300\","
     "\"message\":\"authentication refused\"}\n"},
    {"mac", 0, "mac: 00:00:00:00:00:00\n"},
    {"usb --json", 0,
     "{\"ok\":true,\"result\":{\"ports\":[{\"port\":0,\"product\":null},{\"port\":1,\"product\":"
     "\"Flash Disk\"},{\"port\":2,\"product\":null},{\"port\":3,\"product\":null}]}}\n"},
    {"update-firmware @DIR@/os.img; versions", 0, "os: nolva-os 2.1\nfs: none (erased)\n"},
    {"update-firmware @DIR@/fs.img", 0,
     "firmware updated: nolva-fs 2.1-rc1 written to the file-system partition and verified (9000 "
     "bytes)\n"},
    {"update-firmware @DIR@/bad.img", 1,
     kFirmwareFailed + "the image name 'nolva-xx 2.1' begins with neither nolva-os nor nolva-fs\n"},
    {"update-firmware @DIR@/os.img; update-firmware @DIR@/big.img", 1,
     kFirmwareFailed +
         "nothing was erased: the operating-system partition still holds nolva-os 2.1\n"},
    {"update-firmware @DIR@/os.img; fault mtd-write-fails; update-firmware @DIR@/os3.img", 1,
     kFirmwareFailed +
         "the operating-system partition is erased and holds no valid image now; update again\n"},
    {"update-firmware @DIR@/os.img; fault mtd-read-flips 100; update-firmware @DIR@/os.img", 1,
     kFirmwareFailed +
         "the partition may hold no valid image now; check versions and update again\n"},
    {"reboot", 0, "reboot scheduled: the device restarts in 5 seconds\n"},
    {"factory-reset --yes", 0,
     "factory reset: accounts and settings deleted; the device restarts in 5 seconds\n"},
    {"user add bob --new-password-file @DIR@/new", 0, "account bob added\n"},
    // The new password, without the line end of its file, is bob's own.
    {"user add bob --new-password-file @DIR@/new; "
     "--user bob --password-file @DIR@/filepw passwd bob",
     0, "password changed for bob\n"},
    {"user add bob; user del bob", 0, "account bob deleted\n"},
    {"user add o\"neil; user list --json", 0,
     "{\"ok\":true,\"result\":{\"users\":[\"admin\",\"o\\\"neil\"]}}\n"},
    {"network get", 0,
     "dhcp: on\naddress: 192.168.0.223\nnetmask: 255.255.255.0\ngateway: 192.168.0.1\n"},
    {"network set --static 10.0.0.5 --netmask 255.0.0.0 --gateway 10.0.0.1; "
     "network set --address 10.0.0.6",
     0, "dhcp: off\naddress: 10.0.0.6\nnetmask: 255.0.0.0\ngateway: 10.0.0.1\n"},
    {"login; fault flash-readonly; network set --dhcp", 1,
     "network set: reading the network settings failed (0x80000305)\n"},
    {"service get", 0, kDefaultService},
    {"login; fault flash-readonly; service set --primary off", 1,
     "service set: reading the service settings failed (0x80000307)\n"},
    {"service set --primary-port 9101 --secondary off", 0,
     "primary: enabled, port 9101, value 300000\nsecondary: disabled, port 11110, value 300000\n"},
    {"service set --primary-port 23", 4,
     "service set: settings refused (0xFFFFFFFF): two enabled services would share a port, or the "
     "other record could not be read\n"},
    {"ocp get", 0, "ocp: enabled, port 23, value 300000\n"},
    {"--json ocp set --set ocpWord2=-7,ocpValue=5", 0,
     "{\"ok\":true,\"result\":{\"ocpEnabled\":1,\"ocpWord1\":1,\"ocpWord2\":-7,\"ocpWord3\":0,"
     "\"ocpWord4\":1,\"ocpPort\":23,\"ocpValue\":5}}\n"},
    {"load-settings", 0, kDefaultService + "ocp: enabled, port 23, value 300000\n"},
    {"fault flash-readonly; load-settings", 1,
     "load-settings: loading the settings failed (-1)\n"}};
INSTANTIATE_TEST_SUITE_P(Commands, CommandLine, ::testing::ValuesIn(kCommandLines));

TEST_F(Nolvactl, HelpExplainsEveryCommand) {
  const std::string top = Nolva("--help", {}).out;
  for (const char* command :
       {"login", "mac", "versions", "usb", "update-firmware", "reboot", "factory-reset", "passwd",
        "user add", "user del", "user list", "network get", "network set", "service get",
        "service set", "ocp get", "ocp set", "load-settings"}) {
    EXPECT_NE(top.find("  " + std::string(command) + " "), std::string::npos) << command;
    const ProgramResult help = Nolva(command + std::string(" --help"), {});
    EXPECT_EQ(help.exitStatus, 0) << command;
    EXPECT_EQ(help.out.rfind("usage: nolvactl " + std::string(command), 0), 0u) << help.out;
    EXPECT_NE(help.out.find("exit status:"), std::string::npos) << command;
  }
  EXPECT_NE(Nolva("network set --help", {}).out.find("--netmask MASK"), std::string::npos);
}

}  // namespace
}  // namespace nolva
