// nolvactl run as a process on the simulated board: command lines with the
// output (standard output and error together), exit status and board state
// they must leave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/device_manager.h"
#include "store/handles.h"
#include "tests/support/board_test.h"

namespace nolva {
namespace {

using test::BoardTest;
using test::ProgramResult;
using Lines = std::vector<std::string>;

struct BoardFile {
  std::string path;  // a device path, or a host path under "@DIR@" or "@BOARD@"
  std::string bytes;
};

struct Case {
  const char* name;
  Lines args;
  Lines env;  // "NAME=value"; no password is set unless given here
  int exitStatus;
  std::string output;
  Lines flashFiles;                   // names in /flash afterwards
  BoardFile after = {};               // a device file's bytes afterwards, when named
  Lines setup = {};                   // nolvactl command lines run first, as admin
  std::vector<BoardFile> files = {};  // written before anything runs
  const char* fault = nullptr;        // switched on after the setup
};

std::string Words(const std::vector<std::int32_t>& words) {
  return std::string(reinterpret_cast<const char*>(words.data()), words.size() * 4);
}

const std::string kDefaultService = Words({1, 1, 1, 9100, 300000, 1, 0, 1, 11110, 300000, 1});
const std::string kDefaultNetwork(
    "\x01\x00\x00\x00\xC0\xA8\x00\xDF\xFF\xFF\xFF\x00\xC0\xA8\x00\x01", 16);
const std::string kAuthRefused = "authentication refused (0x80000300)\n";
const std::string kNothingCalled = "";  // bad input: the flash stays empty

std::string UserLine(const char* name, const char* password) {
  char digest[40];
  DeviceManager().MakePasswordDigest(digest, password);
  return std::string(name) + ":" + digest + "\n";
}

class Nolvactl : public BoardTest {
 protected:
  std::string Scratch() const { return Board() + "/../scratch"; }

  // "@DIR@": a scratch directory beside the board; "@BOARD@": the board's.
  std::string Expand(std::string text) const {
    const std::pair<std::string, std::string> keys[] = {{"@DIR@", Scratch()}, {"@BOARD@", Board()}};
    for (const auto& [key, value] : keys)
      for (std::size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    return text;
  }

  // nolvactl inherits this process's stdin, stderr and environment: no
  // terminal, so no prompt can wait; no password but the case's.
  void SetUp() override {
    BoardTest::SetUp();
    unsetenv("NOLVA_PASSWORD");
    unsetenv("NOLVA_NEW_PASSWORD");
    const FileDescriptor devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(devNull.IsOpen());
    ASSERT_EQ(dup2(devNull.Get(), STDIN_FILENO), STDIN_FILENO);
    std::filesystem::create_directories(Scratch());
  }

  // Runs nolvactl; the result's output is its standard error followed by its
  // standard output.
  ProgramResult Nolva(const Lines& args, const Lines& env) const {
    Lines expandedArgs;
    for (const std::string& a : args)
      expandedArgs.push_back(Expand(a));
    Lines expandedEnv;
    for (const std::string& e : env)
      expandedEnv.push_back(Expand(e));
    const std::string errors = Scratch() + "/stderr";
    std::fflush(stderr);
    const FileDescriptor savedStderr(dup(STDERR_FILENO));
    {
      const FileDescriptor file(
          open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      if (!file.IsOpen() || dup2(file.Get(), STDERR_FILENO) != STDERR_FILENO) return {-1, ""};
    }
    ProgramResult result = RunProgram(NOLVACTL_PATH, expandedArgs, expandedEnv);
    dup2(savedStderr.Get(), STDERR_FILENO);
    result.out = board::ReadFile(errors) + result.out;
    return result;
  }

  void Check(const Case& c) {
    for (const BoardFile& file : c.files) {
      if (file.path[0] == '@')
        board::WriteFile(Expand(file.path), file.bytes);
      else
        WriteBoardFile(file.path, file.bytes);
    }
    for (const std::string& line : c.setup) {
      Lines args;
      for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = line.find(' ', start);
        args.push_back(line.substr(start, end - start));
      }
      ASSERT_EQ(Nolva(args, {"NOLVA_PASSWORD=kevla", "NOLVA_NEW_PASSWORD=bobpw"}).exitStatus, 0)
          << line;
    }
    if (c.fault != nullptr) SetFault(c.fault);
    const ProgramResult result = Nolva(c.args, c.env);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.out, Expand(c.output));
    EXPECT_EQ(FlashFileNames(), c.flashFiles);
    if (!c.after.path.empty()) {
      EXPECT_EQ(ReadBoardFile(c.after.path), c.after.bytes);
    }
  }
};

class NolvactlCommand : public Nolvactl, public ::testing::WithParamInterface<Case> {};

TEST_P(NolvactlCommand, GivesItsOutputExitStatusAndBoardState) {
  Check(GetParam());
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

const Lines kAdmin = {"NOLVA_PASSWORD=kevla"};
const Lines kWrongPassword = {"NOLVA_PASSWORD=kevlb"};
const Lines kUserFileOnly = {"nolva_user"};

// Credentials, the command line itself, and help.
INSTANTIATE_TEST_SUITE_P(
    Input, NolvactlCommand,
    ::testing::Values(
        Case{"LoginAcceptsAdmin",
             {"login"},
             kAdmin,
             0,
             "credentials accepted for admin\n",
             kUserFileOnly},
        Case{"LoginRefusesAWrongPassword",
             {"login"},
             kWrongPassword,
             3,
             "nolvactl: login: " + kAuthRefused,
             kUserFileOnly},
        Case{"LoginRefusesAnotherUserWithoutReadingTheUserFile",
             {"--user", "bob", "login"},
             kAdmin,
             3,
             "nolvactl: login: " + kAuthRefused,
             {}},
        Case{"JsonReportsTheStatusByNameAndValue",
             {"login", "--json"},
             kWrongPassword,
             3,
             "nolvactl: login: " + kAuthRefused +
                 "{\"ok\":false,\"status\":\"STATUS_AUTH_FAILED\",\"code\":\"0x80000300\","
                 "\"message\":\"authentication refused\"}\n",
             kUserFileOnly},
        Case{"PasswordFileGivesThePassword",
             {"--password-file", "@DIR@/pw", "login"},
             {},
             0,
             "credentials accepted for admin\n",
             kUserFileOnly,
             {},
             {},
             {{"@DIR@/pw", "kevla\n"}}},
        Case{"PasswordFileWinsOverTheEnvironment",
             {"login", "--password-file=@DIR@/pw"},
             kAdmin,
             3,
             "nolvactl: login: " + kAuthRefused,
             kUserFileOnly,
             {},
             {},
             {{"@DIR@/pw", "kevlb\n"}}},
        Case{"MissingPasswordFileIsBadInput",
             {"login", "--password-file", "@DIR@/none"},
             {},
             2,
             "nolvactl: login: cannot read the password file @DIR@/none: No such file or "
             "directory\n",
             {}},
        Case{"NoPasswordAndNoTerminalIsBadInput",
             {"login"},
             {},
             2,
             "nolvactl: login: no password: set NOLVA_PASSWORD, give a password file, or run on "
             "a terminal\n",
             {}},
        Case{"UnknownCommandIsBadInput",
             {"frobnicate"},
             kAdmin,
             2,
             "nolvactl: unknown command frobnicate (see nolvactl --help)\n",
             {}},
        Case{"UnknownOptionIsBadInput",
             {"login", "--verbose"},
             kAdmin,
             2,
             "nolvactl: login: unknown option --verbose\n",
             {}},
        Case{"UnexpectedArgumentIsBadInput",
             {"login", "now"},
             kAdmin,
             2,
             "nolvactl: login: unexpected argument now\n",
             {}},
        Case{"NoCommandIsBadInput",
             {"--json"},
             kAdmin,
             2,
             "nolvactl: no command given (see nolvactl --help)\n{\"ok\":false,\"status\":\"bad-"
             "input\",\"message\":\"no command given (see nolvactl --help)\"}\n",
             {}}),
    CaseName);

const std::string kDefaultNetworkText =
    "dhcp: on\naddress: 192.168.0.223\nnetmask: 255.255.255.0\ngateway: 192.168.0.1\n";
const std::string kStaticNetworkText =
    "dhcp: off\naddress: 10.0.0.5\nnetmask: 255.0.0.0\ngateway: 10.0.0.1\n";
const std::string kStaticNetwork("\x00\x00\x00\x00\x0A\x00\x00\x05\xFF\x00\x00\x00\x0A\x00\x00\x01",
                                 16);
const std::string kDefaultServiceText =
    "primary: enabled, port 9100, value 300000\nsecondary: enabled, port 11110, value 300000\n";
const Lines kNetworkFiles = {"nolva_system", "nolva_user"};
const Lines kServiceFiles = {"nolva_ocp", "nolva_service", "nolva_user"};
const std::string kRefused =
    "settings refused (0xFFFFFFFF): two enabled services would share a port, or the other "
    "record could not be read\n";

// Settings: read-modify-write with named fields; bad values refused before any call.
INSTANTIATE_TEST_SUITE_P(
    Settings, NolvactlCommand,
    ::testing::Values(
        Case{"NetworkGetShowsTheDefaults",
             {"network", "get"},
             kAdmin,
             0,
             kDefaultNetworkText,
             kNetworkFiles,
             {"/flash/nolva_system", kDefaultNetwork}},
        Case{"NetworkSetStoresAStaticConfiguration",
             {"network", "set", "--static", "10.0.0.5", "--netmask", "255.0.0.0", "--gateway",
              "10.0.0.1"},
             kAdmin,
             0,
             kStaticNetworkText,
             kNetworkFiles,
             {"/flash/nolva_system", kStaticNetwork}},
        Case{"NetworkSetChangesOnlyTheGivenFields",
             {"network", "set", "--dhcp"},
             kAdmin,
             0,
             "dhcp: on\naddress: 10.0.0.5\nnetmask: 255.0.0.0\ngateway: 10.0.0.1\n",
             kNetworkFiles,
             {"/flash/nolva_system", "\x01" + kStaticNetwork.substr(1)},
             {"network set --static 10.0.0.5 --netmask 255.0.0.0 --gateway 10.0.0.1"}},
        Case{"NetworkSetByAWrongPasswordStoresNothing",
             {"network", "set", "--dhcp"},
             kWrongPassword,
             3,
             "nolvactl: network set: " + kAuthRefused,
             kUserFileOnly},
        Case{"NetworkSetOnReadOnlyFlashFails",
             {"network", "set", "--dhcp"},
             kAdmin,
             1,
             "nolvactl: network set: storing the network settings failed (0x80000306)\n",
             kNetworkFiles,
             {"/flash/nolva_system", kDefaultNetwork},
             {"network get"},
             {},
             "flash-readonly"},
        Case{"AddressOfThreeOctetsIsBadInput",
             {"network", "set", "--static", "10.0.0"},
             kAdmin,
             2,
             "nolvactl: network set: --static: '10.0.0' is not a dotted-quad address\n",
             {}},
        Case{"OctetAbove255IsBadInput",
             {"network", "set", "--gateway", "10.0.0.256"},
             kAdmin,
             2,
             "nolvactl: network set: --gateway: '10.0.0.256' is not a dotted-quad address\n",
             {}},
        Case{"NonContiguousNetmaskIsBadInput",
             {"network", "set", "--netmask", "255.0.255.0"},
             kAdmin,
             2,
             "nolvactl: network set: --netmask: '255.0.255.0' is not a netmask\n",
             {}},
        Case{"DhcpAndStaticTogetherAreBadInput",
             {"network", "set", "--dhcp", "--static", "10.0.0.5"},
             kAdmin,
             2,
             "nolvactl: network set: --dhcp and --static exclude each other\n",
             {}},
        Case{"SetWithNothingToChangeIsBadInput",
             {"network", "set"},
             kAdmin,
             2,
             "nolvactl: network set: nothing to change (see --help)\n",
             {}},
        Case{"ServiceGetShowsTheDefaults",
             {"service", "get"},
             kAdmin,
             0,
             kDefaultServiceText,
             {"nolva_service", "nolva_user"}},
        Case{"ServiceSetChangesOnlyTheGivenFields",
             {"service", "set", "--primary-port", "9101", "--secondary", "off"},
             kAdmin,
             0,
             "primary: enabled, port 9101, value 300000\nsecondary: disabled, port 11110, value "
             "300000\n",
             kServiceFiles,
             {"/flash/nolva_service", Words({1, 1, 0, 9101, 300000, 1, 0, 1, 11110, 300000, 1})}},
        Case{"ServiceSetOnTheOcpPortIsRefused",
             {"service", "set", "--primary-port", "23"},
             kAdmin,
             4,
             "nolvactl: service set: " + kRefused,
             kServiceFiles,
             {"/flash/nolva_service", kDefaultService}},
        Case{"ServiceSetOnTheOcpPortOnceOcpIsOff",
             {"service", "set", "--primary-port", "23"},
             kAdmin,
             0,
             "primary: enabled, port 23, value 300000\nsecondary: enabled, port 11110, value "
             "300000\n",
             kServiceFiles,
             {"/flash/nolva_ocp", Words({0, 1, 0, 0, 1, 23, 300000})},
             {"ocp set --enabled off"}},
        Case{"OcpSetOnThePrimaryPortIsRefusedInJson",
             {"ocp", "set", "--port", "9100", "--json"},
             kAdmin,
             4,
             "nolvactl: ocp set: " + kRefused +
                 "{\"ok\":false,\"status\":\"STATUS_REFUSED\",\"code\":\"0xFFFFFFFF\","
                 "\"message\":\"settings refused\"}\n",
             kServiceFiles,
             {"/flash/nolva_ocp", Words({1, 1, 0, 0, 1, 23, 300000})}},
        Case{"SetReachesEveryWordByItsFieldName",
             {"--json", "ocp", "set", "--set", "ocpWord2=-7,ocpValue=5"},
             kAdmin,
             0,
             "{\"ok\":true,\"result\":{\"ocpEnabled\":1,\"ocpWord1\":1,\"ocpWord2\":-7,"
             "\"ocpWord3\":0,\"ocpWord4\":1,\"ocpPort\":23,\"ocpValue\":5}}\n",
             {"nolva_ocp", "nolva_service", "nolva_user"}},
        Case{"PortThatIsNotANumberIsBadInput",
             {"service", "set", "--primary-port", "91OO"},
             kAdmin,
             2,
             "nolvactl: service set: --primary-port: '91OO' is not a port (1 to 65535)\n",
             {}},
        Case{"PortAbove65535IsBadInput",
             {"ocp", "set", "--port", "65536"},
             kAdmin,
             2,
             "nolvactl: ocp set: --port: '65536' is not a port (1 to 65535)\n",
             {}},
        Case{"SwitchOtherThanOnOrOffIsBadInput",
             {"service", "set", "--secondary", "maybe"},
             kAdmin,
             2,
             "nolvactl: service set: --secondary: 'maybe' is not on or off\n",
             {}},
        Case{"UnknownFieldIsBadInput",
             {"service", "set", "--set", "svcWord6=1,colour=2"},
             kAdmin,
             2,
             "nolvactl: service set: --set: unknown field 'colour'\n",
             {}},
        Case{"LoadSettingsTakesNoCredentials",
             {"load-settings"},
             {},
             0,
             kDefaultServiceText + "ocp: enabled, port 23, value 300000\n",
             {"nolva_ocp", "nolva_service"}}),
    CaseName);

const Lines kBobsPasswords = {"NOLVA_PASSWORD=bobpw", "NOLVA_NEW_PASSWORD=newpw"};
const Lines kAdminAddsBob = {"NOLVA_PASSWORD=kevla", "NOLVA_NEW_PASSWORD=bobpw"};
const std::string kNewPasswordMissing =
    "no password: set NOLVA_NEW_PASSWORD, give a password file, or run on a terminal\n";

// Accounts: names checked and new passwords taken before any call.
INSTANTIATE_TEST_SUITE_P(
    Accounts, NolvactlCommand,
    ::testing::Values(
        Case{"UserAddAppendsTheAccount",
             {"user", "add", "bob"},
             kAdminAddsBob,
             0,
             "account bob added\n",
             kUserFileOnly,
             {"/flash/nolva_user", UserLine("admin", "kevla") + UserLine("bob", "bobpw")}},
        Case{"UserAddOfAnExistingNameFails",
             {"user", "add", "bob"},
             kAdminAddsBob,
             1,
             "nolvactl: user add: adding the account failed (0x8000030A)\n",
             kUserFileOnly,
             {"/flash/nolva_user", UserLine("admin", "kevla") + UserLine("bob", "bobpw")},
             {"user add bob"}},
        Case{"UserAddTakesTheNewPasswordFromAFile",
             {"user", "add", "bob", "--new-password-file", "@DIR@/new"},
             kAdmin,
             0,
             "account bob added\n",
             kUserFileOnly,
             {"/flash/nolva_user", UserLine("admin", "kevla") + UserLine("bob", "filepw")},
             {},
             {{"@DIR@/new", "filepw\r\n"}}},
        Case{"UserAddWithoutANewPasswordIsBadInput",
             {"user", "add", "bob"},
             kAdmin,
             2,
             "nolvactl: user add: " + kNewPasswordMissing,
             {}},
        Case{"NewPasswordOver32BytesIsBadInput",
             {"user", "add", "bob"},
             {"NOLVA_PASSWORD=kevla", "NOLVA_NEW_PASSWORD=" + std::string(33, 'p')},
             2,
             "nolvactl: user add: the new password is longer than 32 bytes\n",
             {}},
        Case{"NameWithAColonIsBadInput",
             {"user", "add", "bo:b"},
             kAdminAddsBob,
             2,
             "nolvactl: user add: the account name holds a ':'\n",
             {}},
        Case{"NameOver16BytesIsBadInput",
             {"user", "add", "abcdefghijklmnopq"},
             kAdminAddsBob,
             2,
             "nolvactl: user add: the account name is longer than 16 bytes\n",
             {}},
        Case{"UserAddWithoutANameIsBadInput",
             {"user", "add"},
             kAdminAddsBob,
             2,
             "nolvactl: user add: NAME missing\n",
             {}},
        Case{"UserListShowsTheAccountsInOrder",
             {"user", "list"},
             kAdmin,
             0,
             "admin\nbob\n",
             kUserFileOnly,
             {},
             {"user add bob"}},
        Case{"UserListInJson",
             {"user", "list", "--json"},
             kAdmin,
             0,
             "{\"ok\":true,\"result\":{\"users\":[\"admin\",\"bob\"]}}\n",
             kUserFileOnly,
             {},
             {"user add bob"}},
        Case{"PasswdLetsAnAccountChangeItsOwnPassword",
             {"--user", "bob", "passwd", "bob"},
             kBobsPasswords,
             0,
             "password changed for bob\n",
             kUserFileOnly,
             {"/flash/nolva_user", UserLine("admin", "kevla") + UserLine("bob", "newpw")},
             {"user add bob"}},
        Case{"PasswdOfAnotherAccountByBobIsRefused",
             {"--user", "bob", "passwd", "admin"},
             kBobsPasswords,
             3,
             "nolvactl: passwd: " + kAuthRefused,
             kUserFileOnly,
             {"/flash/nolva_user", UserLine("admin", "kevla") + UserLine("bob", "bobpw")},
             {"user add bob"}},
        Case{"PasswdOfAMissingAccountFails",
             {"passwd", "carol"},
             {"NOLVA_PASSWORD=kevla", "NOLVA_NEW_PASSWORD=x"},
             1,
             "nolvactl: passwd: changing the password failed (0x8000030C)\n",
             kUserFileOnly},
        Case{"UserDelRemovesTheAccount",
             {"user", "del", "bob"},
             kAdmin,
             0,
             "account bob deleted\n",
             kUserFileOnly,
             {"/flash/nolva_user", UserLine("admin", "kevla")},
             {"user add bob"}},
        Case{"UserDelOfAMissingAccountFails",
             {"user", "del", "carol"},
             kAdmin,
             1,
             "nolvactl: user del: deleting the account failed (0x8000030B)\n",
             kUserFileOnly},
        Case{"UserDelOfAdminNeedsForce",
             {"user", "del", "admin"},
             kAdmin,
             2,
             "nolvactl: user del: deleting admin locks everyone out of the device; add --force\n",
             {}},
        Case{"UserDelOfAdminWithForce",
             {"user", "del", "admin", "--force"},
             kAdmin,
             0,
             "account admin deleted\n",
             kUserFileOnly,
             {"/flash/nolva_user", ""}}),
    CaseName);

// A firmware image: its name field at bytes 32 to 63, the rest a pattern.
std::string Image(const std::string& name, std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    image[i] = static_cast<char>(i * 7 + 3);
  image.replace(32, 32, std::string(32, '\0'));
  image.replace(32, name.size(), name);
  return image;
}

const std::string kOneDiskOnPort1 =
    "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=480  MxCh= 4\n"
    "S:  Product=USB2.0 Hub\n"
    "T:  Bus=01 Lev=02 Prnt=02 Port=01 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
    "S:  Manufacturer=Generic\n"
    "S:  Product=Flash Disk\n";
const std::string kRebootScript = "sleep 5\n/sbin/reboot\n";
const std::vector<BoardFile> kImages = {{"@DIR@/os.img", Image("nolva-os 2.1", 5000)},
                                        {"@DIR@/fs.img", Image("nolva-fs 2.1-rc1", 9000)},
                                        {"@DIR@/bad.img", Image("nolva-xx 2.1", 5000)},
                                        {"@DIR@/short.img", Image("nolva-os", 64).substr(0, 63)}};

// Device information, firmware, reboot and factory reset.
INSTANTIATE_TEST_SUITE_P(
    Device, NolvactlCommand,
    ::testing::Values(
        Case{"MacShowsTheHardwareAddressOfEth0",
             {"mac"},
             kAdmin,
             0,
             "mac: 00:1A:2B:3C:4D:5E\n",
             kUserFileOnly,
             {},
             {},
             {{"@BOARD@/eth0/hwaddr", "00:1a:2b:3c:4d:5e\n"}}},
        Case{"UsbShowsEachPortOfTheHub",
             {"usb"},
             kAdmin,
             0,
             "port 0: empty\nport 1: Flash Disk\nport 2: empty\nport 3: empty\n",
             kUserFileOnly,
             {},
             {},
             {{"/proc/bus/usb/devices", kOneDiskOnPort1}}},
        Case{"UsbInJson",
             {"usb", "--json"},
             kAdmin,
             0,
             "{\"ok\":true,\"result\":{\"ports\":[{\"port\":0,\"product\":null},{\"port\":1,"
             "\"product\":\"Flash Disk\"},{\"port\":2,\"product\":null},{\"port\":3,"
             "\"product\":null}]}}\n",
             kUserFileOnly,
             {},
             {},
             {{"/proc/bus/usb/devices", kOneDiskOnPort1}}},
        Case{"UpdateFirmwareWritesAndVerifiesTheImage",
             {"update-firmware", "@DIR@/os.img"},
             kAdmin,
             0,
             "firmware updated: nolva-os 2.1 written to the operating-system partition and "
             "verified (5000 bytes)\n",
             kUserFileOnly,
             {},
             {},
             kImages},
        Case{"VersionsShowTheImagesInFlash",
             {"versions", "--json"},
             kAdmin,
             0,
             "{\"ok\":true,\"result\":{\"os\":\"nolva-os 2.1\",\"fs\":\"nolva-fs 2.1-rc1\"}}\n",
             kUserFileOnly,
             {},
             {"update-firmware @DIR@/os.img", "update-firmware @DIR@/fs.img"},
             kImages},
        Case{"VersionsOfAnErasedPartition",
             {"versions"},
             kAdmin,
             0,
             "os: nolva-os 2.1\nfs: none (erased)\n",
             kUserFileOnly,
             {},
             {"update-firmware @DIR@/os.img"},
             kImages},
        Case{"UpdateFirmwareOfAnUnknownImageNameFails",
             {"update-firmware", "@DIR@/bad.img"},
             kAdmin,
             1,
             "nolvactl: update-firmware: firmware update failed (0x80000304): the image name "
             "'nolva-xx 2.1' begins with neither nolva-os nor nolva-fs\n",
             kUserFileOnly,
             {},
             {},
             kImages},
        Case{"MissingImageIsBadInput",
             {"update-firmware", "@DIR@/none.img"},
             kAdmin,
             2,
             "nolvactl: update-firmware: cannot read @DIR@/none.img: No such file or directory\n",
             {}},
        Case{"DirectoryAsImageIsBadInput",
             {"update-firmware", "@DIR@"},
             kAdmin,
             2,
             "nolvactl: update-firmware: @DIR@ is not a regular file\n",
             {}},
        Case{"ImageWithoutANameFieldIsBadInput",
             {"update-firmware", "@DIR@/short.img"},
             kAdmin,
             2,
             "nolvactl: update-firmware: @DIR@/short.img is too short to be a firmware image (63 "
             "bytes)\n",
             {},
             {},
             {},
             kImages},
        Case{"RebootSchedulesTheRestart",
             {"reboot"},
             kAdmin,
             0,
             "reboot scheduled: the device restarts in 5 seconds\n",
             kUserFileOnly,
             {"/tmp/.nolva_reboot", kRebootScript}},
        Case{"FactoryResetDeletesAccountsAndSettings",
             {"factory-reset", "--yes"},
             kAdmin,
             0,
             "factory reset: accounts and settings deleted; the device restarts in 5 seconds\n",
             {},
             {"/tmp/.nolva_reboot", kRebootScript},
             {"network set --dhcp", "user add bob"}},
        Case{"FactoryResetOffATerminalNeedsYes",
             {"factory-reset"},
             kAdmin,
             2,
             "nolvactl: factory-reset: not confirmed: add --yes to reset without a question\n",
             kNetworkFiles,
             {},
             {"network get"}}),
    CaseName);

TEST_F(Nolvactl, ImageTooLargeForASigned32BitLengthIsBadInput) {
  const std::string path = Scratch() + "/huge.img";
  board::WriteFile(path, "");
  std::filesystem::resize_file(path, 2147483648u);  // sparse: no disk space used
  const ProgramResult result = Nolva({"update-firmware", path}, kAdmin);
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "nolvactl: update-firmware: " + path +
                            " is too large: 2147483648 bytes, the device takes at most "
                            "2147483647\n");
  EXPECT_TRUE(FlashFileNames().empty());
}

TEST_F(Nolvactl, HelpExplainsEveryCommandAndItsOptions) {
  const ProgramResult top = Nolva({"--help"}, {});
  EXPECT_EQ(top.exitStatus, 0);
  const Lines commands = {"login",           "mac",          "versions",      "usb",
                          "update-firmware", "reboot",       "factory-reset", "passwd",
                          "user add",        "user del",     "user list",     "network get",
                          "network set",     "service get",  "service set",   "ocp get",
                          "ocp set",         "load-settings"};
  for (const std::string& command : commands) {
    EXPECT_NE(top.out.find("  " + command + " "), std::string::npos) << command;
    Lines args;
    for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
      end = command.find(' ', start);
      args.push_back(command.substr(start, end - start));
    }
    args.push_back("--help");
    const ProgramResult help = Nolva(args, {});
    EXPECT_EQ(help.exitStatus, 0) << command;
    EXPECT_EQ(help.out.rfind("usage: nolvactl " + command, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("exit status:"), std::string::npos) << command;
  }
  EXPECT_NE(Nolva({"network", "set", "--help"}, {}).out.find("--netmask MASK"), std::string::npos);
  EXPECT_TRUE(FlashFileNames().empty());
}

}  // namespace
}  // namespace nolva
