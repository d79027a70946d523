#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/account_board_test.h"

namespace nolva {
namespace {

// The digest worked out apart from the product: OpenSSL's EVP interface over
// the zero-filled 128-byte salted buffer.
std::string ReferenceDigest(const std::string& password) {
  std::string text = password + " QuIeT HaRbOr LaNtErNs 5519027364810293745561029384756102";
  unsigned char salted[128] = {};
  memcpy(salted, text.data(), text.size());
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(salted, sizeof salted, md, &length, EVP_md5(), nullptr);
  char hex[33];
  for (unsigned i = 0; i < length; ++i)
    snprintf(hex + 2 * i, 3, "%02X", md[i]);
  return std::string(hex, 2 * length);
}

using PasswordDigest = AccountBoardTest;

TEST_F(PasswordDigest, FactoryPasswordGivesTheDigestOfDevicesInTheField) {
  EXPECT_EQ(ReferenceDigest("kevla"), "3E19B245F7F7053535AA24100E20217B");
  EXPECT_EQ(Digest("kevla"), "3E19B245F7F7053535AA24100E20217B");
}

TEST_F(PasswordDigest, HashesTheWholeZeroFilledBufferForEveryPassword) {
  const char* passwords[] = {"", "a", "kevla", "0123456789abcdef0123456789ABCDEF", "p\xE9\xFF!"};
  for (const char* password : passwords) {
    char out[40];
    memset(out, '#', sizeof out);
    manager.MakePasswordDigest(out, password);
    EXPECT_EQ(std::string(out), ReferenceDigest(password)) << password;
    EXPECT_EQ(out[33], '#') << "written past the digest and its NUL";
  }
}

}  // namespace
}  // namespace nolva
