#pragma once

#include <string>

#include "store/device_manager.h"
#include "tests/support/board_test.h"

namespace nolva {

inline constexpr char kUserFile[] = "/flash/nolva_user";
// The factory account's line, as every device in the field holds it.
inline const std::string kFactoryLine = "admin:3E19B245F7F7053535AA24100E20217B\n";

// A fresh board and a manager, with the user file at hand.
class AccountBoardTest : public test::BoardTest {
 protected:
  std::string Digest(const char* password) {
    char digest[40];
    manager.MakePasswordDigest(digest, password);
    return digest;
  }
  std::string Line(const std::string& name, const char* password) {
    return name + ":" + Digest(password) + "\n";
  }
  void WriteUsers(const std::string& text) { WriteBoardFile(kUserFile, text); }
  std::string Users() { return ReadBoardFile(kUserFile); }

  DeviceManager manager;
};

}  // namespace nolva
