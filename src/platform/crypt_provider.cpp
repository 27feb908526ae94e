#include "platform/crypt_provider.h"

#include <openssl/evp.h>

#include <algorithm>

namespace sealdesk::platform {
namespace {

const EVP_MD* digest_of(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::Md5: return EVP_md5();
    case HashAlgorithm::Sha1: return EVP_sha1();
    case HashAlgorithm::Sha256: return EVP_sha256();
    }
    return nullptr;
}

}  // namespace

std::size_t hash_length(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::Md5: return 16;
    case HashAlgorithm::Sha1: return 20;
    case HashAlgorithm::Sha256: return 32;
    }
    return 0;
}

const Bytes& digest_info_prefix(HashAlgorithm algorithm) {
    static const Bytes md5 = hex_decode("3020300c06082a864886f70d020505000410");
    static const Bytes sha1 = hex_decode("3021300906052b0e03021a05000414");
    static const Bytes sha256 = hex_decode("3031300d060960864801650304020105000420");
    switch (algorithm) {
    case HashAlgorithm::Md5: return md5;
    case HashAlgorithm::Sha1: return sha1;
    case HashAlgorithm::Sha256: return sha256;
    }
    static const Bytes none;
    return none;
}

std::unique_ptr<CryptProvider> CryptProvider::acquire(const CertificateHandle& certificate) {
    std::shared_ptr<PrivateKey> key = acquire_private_key(certificate);
    if (!key) return nullptr;
    return std::unique_ptr<CryptProvider>(new CryptProvider(std::move(key)));
}

std::unique_ptr<CryptHash> CryptProvider::create_hash(HashAlgorithm algorithm) const {
    if (!digest_of(algorithm)) return nullptr;
    return std::make_unique<CryptHash>(key_, algorithm);
}

CryptHash::CryptHash(std::shared_ptr<PrivateKey> key, HashAlgorithm algorithm)
    : key_(std::move(key)), algorithm_(algorithm) {
    context_ = EVP_MD_CTX_new();
    if (context_ && EVP_DigestInit_ex(context_, digest_of(algorithm), nullptr) != 1) {
        EVP_MD_CTX_free(context_);
        context_ = nullptr;
    }
}

CryptHash::~CryptHash() { EVP_MD_CTX_free(context_); }

bool CryptHash::set_hash_value(const Bytes& value) {
    if (final_ || value.size() != hash_length(algorithm_)) return false;
    value_ = value;
    final_ = true;
    return true;
}

bool CryptHash::hash_data(const void* data, std::size_t size) {
    if (final_ || !context_) return false;
    return EVP_DigestUpdate(context_, data, size) == 1;
}

bool CryptHash::finish() {
    if (final_) return true;
    if (!context_) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_, digest, &size) != 1) return false;
    value_.assign(digest, digest + size);
    final_ = true;
    return true;
}

std::optional<std::size_t> CryptHash::signature_length() const {
    if (!key_) return std::nullopt;
    EVP_PKEY* public_key = X509_get0_pubkey(key_->certificate()->x509());
    if (!public_key || EVP_PKEY_get_base_id(public_key) != EVP_PKEY_RSA) return std::nullopt;
    const int size = EVP_PKEY_get_size(public_key);
    if (size <= 0) return std::nullopt;
    return static_cast<std::size_t>(size);
}

std::optional<Bytes> CryptHash::sign(KeyUse* outcome) {
    if (outcome) *outcome = KeyUse::Failed;
    if (!key_ || !finish()) return std::nullopt;
    Bytes digest_info = digest_info_prefix(algorithm_);
    digest_info.insert(digest_info.end(), value_.begin(), value_.end());
    std::optional<Bytes> signature = key_->sign_pkcs1(digest_info, outcome);
    if (!signature) return std::nullopt;
    std::reverse(signature->begin(), signature->end());
    return signature;
}

}  // namespace sealdesk::platform
