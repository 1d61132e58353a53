#pragma once

#include <filesystem>

namespace quillant::testing {

// A fresh self-signed P-256 certificate for 127.0.0.1 and localhost, valid for a
// day and its own authority (so the certificate file is also the one to trust),
// and its private key, both in PEM.
void writeSelfSignedCertificate(const std::filesystem::path& certificate, const std::filesystem::path& privateKey);

}  // namespace quillant::testing
