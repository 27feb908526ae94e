#include "platform/provider.h"

#include <openssl/evp.h>

#include <algorithm>

namespace sealdesk::platform {
namespace {

const EVP_MD* digest_of(unsigned algorithm) {
    switch (algorithm) {
    case kCalgMd5: return EVP_md5();
    case kCalgSha1: return EVP_sha1();
    case kCalgSha256: return EVP_sha256();
    default: return nullptr;
    }
}

}  // namespace

Bytes digest_info_prefix(unsigned algorithm) {
    switch (algorithm) {
    case kCalgMd5: return hex_decode("3020300c06082a864886f70d020505000410");
    case kCalgSha1: return hex_decode("3021300906052b0e03021a05000414");
    case kCalgSha256: return hex_decode("3031300d060960864801650304020105000420");
    default: return {};
    }
}

std::unique_ptr<HashObject> HashObject::create(unsigned algorithm) {
    const EVP_MD* md = digest_of(algorithm);
    if (!md) return nullptr;
    auto object = std::unique_ptr<HashObject>(new HashObject(algorithm, md));
    if (!object->ctx_) return nullptr;
    return object;
}

HashObject::HashObject(unsigned algorithm, const void* md) : algorithm_(algorithm) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx && EVP_DigestInit_ex(ctx, static_cast<const EVP_MD*>(md), nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        ctx = nullptr;
    }
    ctx_ = ctx;
}

HashObject::~HashObject() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

bool HashObject::set_hash_value(const Bytes& value) {
    if (value.size() != static_cast<std::size_t>(EVP_MD_get_size(digest_of(algorithm_)))) return false;
    value_ = value;
    return true;
}

bool HashObject::hash_data(const void* data, std::size_t size) {
    if (value_) return false;
    return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size) == 1;
}

std::optional<Bytes> HashObject::value() {
    if (!value_) {
        Bytes digest(EVP_MAX_MD_SIZE);
        unsigned size = 0;
        if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), digest.data(), &size) != 1) return std::nullopt;
        digest.resize(size);
        value_ = std::move(digest);
    }
    return value_;
}

std::optional<Bytes> HashObject::sign(const PrivateKey& key) {
    auto hash = value();
    if (!hash) return std::nullopt;
    Bytes info = digest_info_prefix(algorithm_);
    info.insert(info.end(), hash->begin(), hash->end());
    auto signature = key.sign_pkcs1(info);
    if (!signature) return std::nullopt;
    std::reverse(signature->begin(), signature->end());
    return signature;
}

}  // namespace sealdesk::platform
