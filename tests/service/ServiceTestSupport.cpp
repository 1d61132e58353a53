#include "ServiceTestSupport.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace quillant::service::testing {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillant-service-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::filesystem::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

WallTime sampleTime() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = 1;
    tm.tm_hour = 10;
    tm.tm_min = 30;
    return WallClock::from_time_t(timegm(&tm));
}

RunningService::RunningService(const ServiceConfig& config, KeyStore& keys, QuotaTracker& quota, Corrector& corrector,
                               Logger& log)
    : service_(config, keys, quota, corrector, log), port_(service_.bind()), thread_([this] { service_.run(); }) {}

RunningService::~RunningService() { stop(); }

void RunningService::stop() {
    if (stopped_) return;
    stopped_ = true;
    service_.stop();
    thread_.join();
}

void writeSelfSignedCertificate(const std::filesystem::path& certificate, const std::filesystem::path& privateKey) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    if (!key || !cert) throw std::runtime_error("cannot make a key");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1, DNS:localhost"},
                              std::pair{NID_basic_constraints, "critical, CA:TRUE"}}) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        if (!ext) throw std::runtime_error("cannot make an extension");
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) throw std::runtime_error("cannot sign");

    std::unique_ptr<FILE, decltype(&std::fclose)> certFile(std::fopen(certificate.c_str(), "w"), std::fclose);
    std::unique_ptr<FILE, decltype(&std::fclose)> keyFile(std::fopen(privateKey.c_str(), "w"), std::fclose);
    if (!certFile || !keyFile || PEM_write_X509(certFile.get(), cert.get()) != 1 ||
        PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("cannot write the certificate");
}

Answer toAnswer(const httplib::Result& result) {
    if (!result) return {-1, "transport error: " + httplib::to_string(result.error()), {}};
    return {result->status, result->body, result->headers};
}

std::string fixBody(const std::string& text) { return nlohmann::json{{"text", text}}.dump(); }

}  // namespace quillant::service::testing
