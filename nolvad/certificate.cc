#include "nolvad/certificate.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace nolvad {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

constexpr long kValidDays = 3650;

bool ReadFile(const std::string& path, std::string* text, int* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  text->clear();
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0 && text->size() < (1 << 20))
    text->append(chunk, static_cast<std::size_t>(n));
  close(fd);
  *error = n < 0 ? errno : 0;
  return n >= 0;
}

// Written whole under a temporary name, synced, then renamed into place.
bool WriteFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = fchmod(fd, 0600) == 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

bool AddExtension(X509* certificate, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

std::string Pem(const Key& key, const Certificate& certificate, bool privatePart) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio) return "";
  const int written = privatePart ? PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr,
                                                             0, nullptr, nullptr)
                                  : PEM_write_bio_X509(bio.get(), certificate.get());
  if (written != 1) return "";
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : "";
}

std::string MakePair(std::string* certificateText, std::string* keyText) {
  Key key(EVP_EC_gen("P-256"));
  Certificate certificate(X509_new());
  if (!key || !certificate) return "cannot make a key";
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return "no randomness for the certificate";
  serial[0] &= 0x7F;
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serialSet =
      number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
  BN_free(number);
  char host[256] = "nolva";
  gethostname(host, sizeof host - 1);
  host[sizeof host - 1] = '\0';
  X509_NAME* name = X509_get_subject_name(certificate.get());
  const std::string names = std::string("DNS:") + host + ",DNS:localhost,IP:127.0.0.1,IP:::1";
  const bool ok =
      serialSet && X509_set_version(certificate.get(), 2) == 1 &&
      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0) &&
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValidDays * 24 * 3600) &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>(host), -1, -1, 0) == 1 &&
      X509_set_issuer_name(certificate.get(), name) == 1 &&
      X509_set_pubkey(certificate.get(), key.get()) == 1 &&
      AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE") &&
      AddExtension(certificate.get(), NID_key_usage, "critical,digitalSignature") &&
      AddExtension(certificate.get(), NID_ext_key_usage, "serverAuth") &&
      AddExtension(certificate.get(), NID_subject_alt_name, names.c_str()) &&
      X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
  if (!ok) return "cannot make a certificate";
  *certificateText = Pem(key, certificate, false);
  *keyText = Pem(key, certificate, true);
  if (certificateText->empty() || keyText->empty()) return "cannot write the certificate as PEM";
  return "";
}

}  // namespace

std::string LoadOrMakeCertificate(const std::string& certificatePath, const std::string& keyPath,
                                  std::string* certificate, std::string* key) {
  int certificateError = 0;
  int keyError = 0;
  const bool haveCertificate = ReadFile(certificatePath, certificate, &certificateError);
  const bool haveKey = ReadFile(keyPath, key, &keyError);
  if (haveCertificate && haveKey) return "";
  if (certificateError != ENOENT || keyError != ENOENT) {
    const std::string& path = haveCertificate ? keyPath : certificatePath;
    return "cannot read " + path + ": " +
           std::strerror(haveCertificate ? keyError : certificateError);
  }
  const std::string problem = MakePair(certificate, key);
  if (!problem.empty()) return problem;
  if (!WriteFile(keyPath, *key) || !WriteFile(certificatePath, *certificate))
    return "cannot store the new certificate in " + certificatePath + " and " + keyPath;
  return "";
}

}  // namespace nolvad
