// MD5_* is the digest the device's user files use.
#define OPENSSL_API_COMPAT 10101

#include "bench/floors.h"

#include <fcntl.h>
#include <openssl/md5.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace nolva::bench {

void ReadWhole(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return;
  // Room for the largest user file the device reads (256 lines of 255 bytes).
  static char bytes[64 * 1024];
  benchmark::DoNotOptimize(std::fread(bytes, 1, sizeof bytes, file));
  std::fclose(file);
}

void ReadRecord(const char* path, std::size_t size) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return;
  unsigned char record[64];
  benchmark::DoNotOptimize(std::fread(record, 1, size, file));
  std::fclose(file);
}

void Digest() {
  unsigned char salted[128] = {};
  std::snprintf(reinterpret_cast<char*>(salted), sizeof salted, "%s salt", "password");
  unsigned char md5[MD5_DIGEST_LENGTH];
  MD5_CTX context;
  MD5_Init(&context);
  MD5_Update(&context, salted, sizeof salted);
  MD5_Final(md5, &context);
  benchmark::DoNotOptimize(md5);
}

void SaveBytes(const char* path, const void* data, std::size_t size) {
  char temporary[128];
  std::snprintf(temporary, sizeof temporary, "%s.floor", path);
  int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  benchmark::DoNotOptimize(write(fd, data, size));
  fsync(fd);
  close(fd);
  rename(temporary, path);
  fd = open("/flash", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  fsync(fd);
  close(fd);
}

}  // namespace nolva::bench
