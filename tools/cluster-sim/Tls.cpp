#include "Tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace clustersim {
namespace {

struct Free {
    void operator()(X509* cert) const { X509_free(cert); }
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    void operator()(BIGNUM* number) const { BN_free(number); }
    void operator()(FILE* file) const { std::fclose(file); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

constexpr long kDaySeconds = 24L * 60 * 60;

std::string OpenSslError(const std::string& what) {
    char reason[256] = "unknown error";
    if (const unsigned long code = ERR_get_error())
        ERR_error_string_n(code, reason, sizeof(reason));
    return what + ": " + reason;
}

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    const bool added = extension && X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// CA:TRUE (critical) so that OpenSSL-based clients, libcurl among them, accept the certificate
// itself as the CA file; the subject key id goes before the authority key id that refers to it.
bool AddExtensions(X509* cert) {
    const std::pair<int, const char*> extensions[] = {
        {NID_basic_constraints, "critical,CA:TRUE"},
        {NID_key_usage, "critical,digitalSignature,keyCertSign"},
        {NID_ext_key_usage, "serverAuth"},
        {NID_subject_key_identifier, "hash"},
        {NID_authority_key_identifier, "keyid:always"},
        {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
    };
    for (const auto& [nid, value] : extensions) {
        if (!AddExtension(cert, nid, value)) return false;
    }
    return true;
}

bool SetRandomSerial(X509* cert) {
    Owned<BIGNUM> serial(BN_new());
    return serial && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) != nullptr;
}

Owned<X509> SelfSigned(EVP_PKEY* key, long fromDays, long untilDays) {
    Owned<X509> cert(X509_new());
    X509_NAME* name = cert ? X509_get_subject_name(cert.get()) : nullptr;
    const auto text = [](const char* value) {
        return reinterpret_cast<const unsigned char*>(value);
    };
    const bool made =
        name && X509_set_version(cert.get(), 2) == 1 && SetRandomSerial(cert.get()) &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * kDaySeconds) &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), untilDays * kDaySeconds) &&
        X509_set_pubkey(cert.get(), key) == 1 &&
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, text("cluster-sim"), -1, -1, 0) == 1 &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, text("localhost"), -1, -1, 0) == 1 &&
        X509_set_issuer_name(cert.get(), name) == 1 && AddExtensions(cert.get()) &&
        X509_sign(cert.get(), key, EVP_sha256()) > 0;
    return made ? std::move(cert) : nullptr;
}

bool WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    Owned<FILE> file(std::fopen(path.c_str(), "w"));
    if (!file) return false;
    return cert ? PEM_write_X509(file.get(), cert) == 1
                : PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

std::string MakePrivateDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/cluster-sim-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

Owned<SSL_CTX> NewServerContext() {
    Owned<SSL_CTX> context(SSL_CTX_new(TLS_server_method()));
    if (context) SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    return context;
}

}  // namespace

bool WriteSelfSignedCertificate(const std::string& certFile, const std::string& keyFile,
                                long fromDays, long untilDays, std::string* error) {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> cert = key ? SelfSigned(key.get(), fromDays, untilDays) : nullptr;
    if (!cert) {
        *error = OpenSslError("cannot make a certificate");
        return false;
    }
    if (!WritePem(certFile, cert.get(), nullptr) || !WritePem(keyFile, nullptr, key.get())) {
        *error = "cannot write " + certFile + " and " + keyFile;
        return false;
    }
    return true;
}

std::unique_ptr<TlsIdentity> TlsIdentity::Generate(std::string* error) {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> cert = key ? SelfSigned(key.get(), -1, 365) : nullptr;
    if (!cert) {
        *error = OpenSslError("cannot make a certificate");
        return nullptr;
    }
    std::unique_ptr<TlsIdentity> identity(new TlsIdentity());
    identity->m_directory = MakePrivateDirectory();
    if (identity->m_directory.empty()) {
        *error = "cannot make a private temporary directory";
        return nullptr;
    }
    identity->m_caFile = identity->m_directory + "/ca.pem";
    if (!WritePem(identity->m_caFile, cert.get(), nullptr) ||
        !WritePem(identity->m_directory + "/key.pem", nullptr, key.get())) {
        *error = "cannot write the certificate to " + identity->m_directory;
        return nullptr;
    }
    Owned<SSL_CTX> context = NewServerContext();
    if (!context || SSL_CTX_use_certificate(context.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1) {
        *error = OpenSslError("cannot set up TLS");
        return nullptr;
    }
    identity->m_context = context.release();
    return identity;
}

std::unique_ptr<TlsIdentity> TlsIdentity::Load(const std::string& certFile,
                                               const std::string& keyFile, std::string* error) {
    Owned<SSL_CTX> context = NewServerContext();
    if (!context || SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
        *error = OpenSslError("cannot use " + certFile + " and " + keyFile);
        return nullptr;
    }
    std::unique_ptr<TlsIdentity> identity(new TlsIdentity());
    identity->m_caFile = certFile;
    identity->m_context = context.release();
    return identity;
}

TlsIdentity::~TlsIdentity() {
    SSL_CTX_free(m_context);
    if (m_directory.empty()) return;
    unlink((m_directory + "/ca.pem").c_str());
    unlink((m_directory + "/key.pem").c_str());
    rmdir(m_directory.c_str());
}

}  // namespace clustersim
