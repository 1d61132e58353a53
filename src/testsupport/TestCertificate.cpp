#include "testsupport/TestCertificate.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace quillant::testing {

namespace {

[[noreturn]] void fail(const std::string& what) {
    char buffer[256];
    ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
    throw std::runtime_error("test certificate: " + what + ": " + buffer);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || !X509_add_ext(cert, ext, -1)) fail("certificate extension");
    X509_EXTENSION_free(ext);
}

}  // namespace

void writeSelfSignedCertificate(const std::filesystem::path& certificate, const std::filesystem::path& privateKey) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    if (!key || !cert) fail("key generation");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(std::random_device{}() & 0x7fffffff));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(cert.get(), NID_subject_key_identifier, "hash");
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    if (!X509_sign(cert.get(), key.get(), EVP_sha256())) fail("signing");

    std::unique_ptr<FILE, decltype(&std::fclose)> certFile(std::fopen(certificate.c_str(), "w"), std::fclose);
    std::unique_ptr<FILE, decltype(&std::fclose)> keyFile(std::fopen(privateKey.c_str(), "w"), std::fclose);
    if (!certFile || !keyFile || PEM_write_X509(certFile.get(), cert.get()) != 1 ||
        PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        fail("writing the certificate");
}

}  // namespace quillant::testing
