// The key provider of a certificate's token, as the hash-signing operations
// use it: hash objects computed here (OpenSSL) and signed on the token with
// PKCS#1 v1.5 over the DigestInfo, so the key never leaves the token.
//
// The signature comes back least significant byte first, the byte order the
// platform's signing call has always used; callers reverse it to get the
// PKCS#1 (most significant first) form.
#pragma once

#include <memory>
#include <optional>

#include "platform/token_store.h"
#include "text/text.h"

namespace sealdesk::platform {

// The platform's hash algorithm identifiers.
enum class HashAlgorithm : unsigned {
    Md5 = 0x8003,
    Sha1 = 0x8004,
    Sha256 = 0x800C,
};

// Length in bytes of a hash of `algorithm`.
std::size_t hash_length(HashAlgorithm algorithm);

// DER prefix of the DigestInfo of `algorithm`, before the hash bytes.
const Bytes& digest_info_prefix(HashAlgorithm algorithm);

class CryptHash;

class CryptProvider {
public:
    // The private key of `certificate`; none when it cannot be acquired
    // (token absent, no such key).
    static std::unique_ptr<CryptProvider> acquire(const CertificateHandle& certificate);

    // A new, empty hash object; none for an algorithm the provider lacks.
    std::unique_ptr<CryptHash> create_hash(HashAlgorithm algorithm) const;

private:
    explicit CryptProvider(std::shared_ptr<PrivateKey> key) : key_(std::move(key)) {}
    std::shared_ptr<PrivateKey> key_;
};

class CryptHash {
public:
    CryptHash(std::shared_ptr<PrivateKey> key, HashAlgorithm algorithm);
    ~CryptHash();
    CryptHash(const CryptHash&) = delete;
    CryptHash& operator=(const CryptHash&) = delete;

    // Takes a hash computed elsewhere as the object's value. False when its
    // length is not the algorithm's, or the value is already final.
    bool set_hash_value(const Bytes& value);
    // Feeds data; false once the value is final (set, or signed).
    bool hash_data(const void* data, std::size_t size);

    // Length of the signature the key makes (the modulus length); none when
    // the certificate's key is not an RSA key.
    std::optional<std::size_t> signature_length() const;
    // Signs the hash on the token, least significant byte first. None when
    // the token is gone, the PIN prompt is cancelled, the token refuses or
    // holds no such key; `outcome` (when given) tells which.
    std::optional<Bytes> sign(KeyUse* outcome = nullptr);

private:
    bool finish();

    std::shared_ptr<PrivateKey> key_;
    HashAlgorithm algorithm_;
    EVP_MD_CTX* context_ = nullptr;
    Bytes value_;
    bool final_ = false;
};

}  // namespace sealdesk::platform
