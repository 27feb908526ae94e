// The token's provider as signing code sees it: a hash object that hashes in
// OpenSSL (or takes a hash value computed elsewhere) and signs PKCS#1 v1.5
// over the DigestInfo on the token. Like the platform's, the signature comes
// back least significant byte first, so callers reverse it.
#pragma once

#include <memory>
#include <optional>

#include "platform/token_store.h"

namespace sealdesk::platform {

// Algorithm identifiers of the platform.
constexpr unsigned kCalgMd5 = 0x8003;
constexpr unsigned kCalgSha1 = 0x8004;
constexpr unsigned kCalgSha256 = 0x800C;

class HashObject {
public:
    // Null for an algorithm other than the three above.
    static std::unique_ptr<HashObject> create(unsigned algorithm);
    ~HashObject();
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;

    // Sets the hash value directly; false when its size is not the
    // algorithm's.
    bool set_hash_value(const Bytes& value);
    bool hash_data(const void* data, std::size_t size);
    // The hash value (finishes the hashing; further data is refused).
    std::optional<Bytes> value();
    // PKCS#1 v1.5 signature over DigestInfo(value) with the key, least
    // significant byte first; nothing when the token refuses or is gone.
    std::optional<Bytes> sign(const PrivateKey& key);

private:
    HashObject(unsigned algorithm, const void* md);
    unsigned algorithm_;
    void* ctx_ = nullptr;  // EVP_MD_CTX
    std::optional<Bytes> value_;
};

// The DigestInfo prefix of an algorithm (empty for an unknown one).
Bytes digest_info_prefix(unsigned algorithm);

}  // namespace sealdesk::platform
