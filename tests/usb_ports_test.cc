// The USB port list: which product sits on each port of the hub.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "store/device_manager.h"
#include "tests/device_test_support.h"
#include "tests/support/board_test.h"

namespace nolva::test {
namespace {

// The kernel's topology line of a device, followed by its product line
// when it has one.
std::string Device(int bus, int level, int parent, int port, const char* product = nullptr) {
  char line[256];
  std::snprintf(line, sizeof line,
                "T:  Bus=%02d Lev=%02d Prnt=%02d Port=%02d Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
                "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n"
                "P:  Vendor=0951 ProdID=1666 Rev= 1.00\n",
                bus, level, parent, port);
  std::string text = line;
  if (product) text += "S:  Manufacturer=Acme\nS:  Product=" + std::string(product) + "\n";
  return text + "C:* #Ifs= 1 Cfg#= 1 Atr=80 MxPwr=300mA\n\n";
}

std::string OnHub(int port, const char* product = nullptr) {
  return Device(1, 2, 2, port, product);
}

constexpr char kEmptyPorts[] = "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  \n";

class UsbPorts : public BoardTest {
 protected:
  void SetList(const std::string& text) const { board::SetUsbDevices(Board(), text); }
  void RemoveList() const {
    std::filesystem::remove(board::HostPath(Board(), "/proc/bus/usb/devices"));
  }

  DeviceManager manager;
};

TEST_F(UsbPorts, ListTheHubsPortsWithTheirProducts) {
  const std::string hub = board::kEmptyHubUsbDevices;
  const struct {
    const char* name;
    std::string list;
    std::string expected;
  } cases[] = {
      {"nothing plugged in", hub, kEmptyPorts},
      {"empty list", "", kEmptyPorts},
      {"ports 0 and 2", hub + OnHub(0, "Flash Disk") + OnHub(2, "GPS Receiver"),
       "PORT 0:  Flash Disk\nPORT 1:  \nPORT 2:  GPS Receiver\nPORT 3:  \n"},
      {"a lone port 5", hub + OnHub(5, "Modem"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  \nPORT 4:  \nPORT 5:  Modem\n"},
      {"foreign buses, levels and parents",
       hub + Device(2, 2, 2, 0, "Other Bus") + Device(1, 3, 2, 1, "Behind A Hub") +
           Device(1, 2, 3, 2, "Other Parent") + OnHub(3, "Keyboard"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  \nPORT 3:  Keyboard\n"},
      {"a device without a product gets an empty one", hub + OnHub(1) + OnHub(2, "Flash Disk"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  Flash Disk\nPORT 3:  \n"},
      {"a device without a product at the end", hub + OnHub(0, "Flash Disk") + OnHub(1),
       "PORT 0:  Flash Disk\nPORT 1:  \nPORT 2:  \nPORT 3:  \n"},
      {"ports out of order", hub + OnHub(2, "B") + OnHub(0, "A"),
       "PORT 0:  \nPORT 1:  \nPORT 2:  B\nPORT 0:  A\nPORT 1:  \nPORT 2:  \nPORT 3:  \n"},
      {"no number at column 31 or a negative one",
       "T:  Bus=01 Lev=02 Prnt=02 Port=\nS:  Product=Cut\n"
       "T:  Bus=01 Lev=02 Prnt=02 Port=xx Cnt=01\nS:  Product=Letters\n"
       "T:  Bus=01 Lev=02 Prnt=02 Port=-1 Cnt=01\nS:  Product=Negative\n" +
           OnHub(1, "Real"),
       "PORT 0:  \nPORT 1:  Real\nPORT 2:  \nPORT 3:  \n"},
      {"a last line without its line feed", "T:  Bus=01 Lev=02 Prnt=02 Port=00\nS:  Product=Pen",
       "PORT 0:  Pen\nPORT 1:  \nPORT 2:  \nPORT 3:  \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetList(c.list);
    char16_t text[512];
    EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, text, 512), STATUS_OK);
    EXPECT_EQ(Narrowed(text), c.expected);
  }
}

TEST_F(UsbPorts, TextHoldsOnlyWholeLinesWithinTheCapacity) {
  SetList(OnHub(0, "Flash Disk") + OnHub(2, "GPS Receiver"));
  const std::string full = "PORT 0:  Flash Disk\nPORT 1:  \nPORT 2:  GPS Receiver\nPORT 3:  \n";
  const int size = static_cast<int>(full.size());
  const struct {
    int capacity;
    std::string expected;  // "?": refused, nothing written
  } cases[] = {
      {INT_MIN, "?"},
      {-1, "?"},
      {0, "?"},
      {1, ""},
      {20, ""},
      {21, "PORT 0:  Flash Disk\n"},
      {size, full.substr(0, size - 10)},
      {size + 1, full},
      {1000, full},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.capacity);
    char text[1024] = "?";
    std::memset(text + 2, '#', sizeof text - 2);
    EXPECT_EQ(ReadUsbPorts(text, c.capacity), c.expected == "?" ? -1 : 0);
    EXPECT_EQ(std::string(text), c.expected);
    for (int i = std::max(c.capacity, 2); i < static_cast<int>(sizeof text); ++i)
      ASSERT_EQ(text[i], '#') << "written past the capacity at " << i;
  }
  char16_t wide[64] = u"?";
  EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, wide, 0), STATUS_USB_PORTS_FAILED);
  EXPECT_EQ(Narrowed(wide), "?");
  EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, wide, INT_MAX), STATUS_OK);
  EXPECT_EQ(Narrowed(wide), full);
}

TEST_F(UsbPorts, HugePortNumberCostsNoMoreThanTheTextHolds) {
  SetList(OnHub(2000000000, "Far Away"));
  char text[4096];
  ASSERT_EQ(ReadUsbPorts(text, sizeof text), 0);
  const std::string got = text;
  EXPECT_EQ(got.compare(0, 20, "PORT 0:  \nPORT 1:  \n"), 0);
  EXPECT_GT(got.size(), sizeof text - 20);
}

TEST_F(UsbPorts, MissingListFailsLeavingTheTextUntouched) {
  RemoveList();
  char16_t text[64] = u"before";
  EXPECT_EQ(manager.GetUsbPorts(kAdmin, kFactoryPassword, text, 64), STATUS_USB_PORTS_FAILED);
  EXPECT_EQ(Narrowed(text), "before");
}

}  // namespace
}  // namespace nolva::test
