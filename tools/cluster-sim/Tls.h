// The server's TLS identity: a self-signed certificate made at start that clients trust as its
// own CA, or a certificate and key loaded from files.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace clustersim {

// Writes a self-signed certificate for localhost and 127.0.0.1 (its own CA) and its key, valid
// from `fromDays` to `untilDays` days from now; tests make expired ones with it.
bool WriteSelfSignedCertificate(const std::string& certFile, const std::string& keyFile,
                                long fromDays, long untilDays, std::string* error);

class TlsIdentity {
  public:
    static std::unique_ptr<TlsIdentity> Generate(std::string* error);
    static std::unique_ptr<TlsIdentity> Load(const std::string& certFile,
                                             const std::string& keyFile, std::string* error);
    ~TlsIdentity();  // removes the files it generated
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;

    SSL_CTX* Context() const { return m_context; }
    const std::string& CaFile() const { return m_caFile; }

  private:
    TlsIdentity() = default;

    SSL_CTX* m_context = nullptr;
    std::string m_caFile;
    std::string m_directory;  // generated files live here; empty for a loaded identity
};

}  // namespace clustersim
