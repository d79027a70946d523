// The TLS certificate: made on the first start when neither file exists.
#pragma once

#include <string>

namespace nolvad {

// Reads the PEM certificate and key; when both files are missing, first
// makes a self-signed pair (a P-256 key, subjectAltName and serverAuth, as
// browsers require) and stores it with mode 0600. "" or what went wrong.
std::string LoadOrMakeCertificate(const std::string& certificatePath, const std::string& keyPath,
                                  std::string* certificate, std::string* key);

}  // namespace nolvad
