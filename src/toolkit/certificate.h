// A certificate with an optional private key, and a set of them that a TLS
// server takes its identity from.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace SignCore {

// Result codes of the load calls.
constexpr int kCertLoadOk = 0;
constexpr int kCertFileUnreadable = 1;
constexpr int kCertFormatInvalid = 2;
constexpr int kCertWrongPassword = 3;

class TElX509Certificate {
public:
    TElX509Certificate() = default;
    ~TElX509Certificate();
    TElX509Certificate(const TElX509Certificate&) = delete;
    TElX509Certificate& operator=(const TElX509Certificate&) = delete;

    // PEM or DER certificate. Returns one of the codes above.
    int LoadFromFileAuto(const std::string& path, const std::string& password);
    // PEM or DER private key, possibly encrypted with `password`.
    int LoadKeyFromFileAuto(const std::string& path, const std::string& password);
    void LoadFromBuffer(const std::uint8_t* der, std::size_t size);  // raises on bad data

    bool PrivateKeyExists() const { return key_ != nullptr; }
    X509* Handle() const { return x509_; }
    EVP_PKEY* KeyHandle() const { return key_; }
    std::vector<std::uint8_t> DER() const;

private:
    X509* x509_ = nullptr;
    EVP_PKEY* key_ = nullptr;
};

class TElMemoryCertStorage {
public:
    ~TElMemoryCertStorage();
    // Adds a copy of the certificate (and of its private key when asked).
    void Add(const TElX509Certificate& certificate, bool copy_private_key = true);
    std::size_t Count() const;

    // The TLS server context built from the first certificate that has a key
    // (or the first one, then the handshakes fail); made once, shared by all
    // connections, with a reference taken for the caller.
    SSL_CTX* AcquireServerContext();

private:
    mutable std::mutex lock_;
    std::vector<std::pair<X509*, EVP_PKEY*>> items_;
    SSL_CTX* context_ = nullptr;
};

}  // namespace SignCore
