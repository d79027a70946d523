// MD5_* is the digest every user file in the field was made with.
#define OPENSSL_API_COMPAT 10101

#include <openssl/md5.h>

#include <cstdio>
#include <cstring>

#include "store/device_manager.h"

namespace nolva {

void DeviceManager::MakePasswordDigest(char* out, const char* password) {
  // QUIRK: the whole zero-filled buffer is hashed, not only the text: stored
  // digests depend on it.
  unsigned char salted[128] = {};
  snprintf(reinterpret_cast<char*>(salted), sizeof salted,
           "%s QuIeT HaRbOr LaNtErNs 5519027364810293745561029384756102", password);

  unsigned char md5[MD5_DIGEST_LENGTH];
  MD5_CTX context;
  MD5_Init(&context);
  MD5_Update(&context, salted, sizeof salted);
  MD5_Final(md5, &context);

  static const char kHex[] = "0123456789ABCDEF";
  for (int i = 0; i < MD5_DIGEST_LENGTH; ++i) {
    out[2 * i] = kHex[md5[i] >> 4];
    out[2 * i + 1] = kHex[md5[i] & 0x0F];
  }
  out[2 * MD5_DIGEST_LENGTH] = '\0';
  explicit_bzero(salted, sizeof salted);
}

}  // namespace nolva
