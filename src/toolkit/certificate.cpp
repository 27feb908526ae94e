#include "toolkit/certificate.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "toolkit/sb_exception.h"

namespace SignCore {
namespace {

bool read_file(const std::string& path, std::string& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int password_callback(char* buffer, int size, int, void* user) {
    const auto* password = static_cast<const std::string*>(user);
    const int n = static_cast<int>(std::min<std::size_t>(password->size(), static_cast<std::size_t>(size)));
    std::copy_n(password->data(), n, buffer);
    return n;
}

}  // namespace

TElX509Certificate::~TElX509Certificate() {
    X509_free(x509_);
    EVP_PKEY_free(key_);
}

int TElX509Certificate::LoadFromFileAuto(const std::string& path, const std::string& password) {
    std::string data;
    if (!read_file(path, data)) return kCertFileUnreadable;
    BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    std::string pass = password;
    X509* cert = PEM_read_bio_X509(bio, nullptr, password_callback, &pass);
    if (!cert) {
        (void)BIO_reset(bio);
        cert = d2i_X509_bio(bio, nullptr);
    }
    BIO_free(bio);
    ERR_clear_error();
    if (!cert) return kCertFormatInvalid;
    X509_free(x509_);
    x509_ = cert;
    return kCertLoadOk;
}

int TElX509Certificate::LoadKeyFromFileAuto(const std::string& path, const std::string& password) {
    std::string data;
    if (!read_file(path, data)) return kCertFileUnreadable;
    BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    std::string pass = password;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, password_callback, &pass);
    int result = kCertLoadOk;
    if (!key) {
        const bool encrypted = data.find("ENCRYPTED") != std::string::npos;
        (void)BIO_reset(bio);
        key = d2i_PrivateKey_bio(bio, nullptr);
        if (!key) result = encrypted ? kCertWrongPassword : kCertFormatInvalid;
    }
    BIO_free(bio);
    ERR_clear_error();
    if (key) {
        EVP_PKEY_free(key_);
        key_ = key;
    }
    return result;
}

void TElX509Certificate::LoadFromBuffer(const std::uint8_t* der, std::size_t size) {
    const unsigned char* p = der;
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(size));
    if (!cert) raise_error("ECertificateError", "Invalid certificate data");
    X509_free(x509_);
    x509_ = cert;
}

std::vector<std::uint8_t> TElX509Certificate::DER() const {
    if (!x509_) return {};
    return fetch_grow<std::vector<std::uint8_t>>([this](std::uint8_t* buffer, std::size_t& size) {
        const int needed = i2d_X509(x509_, nullptr);
        if (needed <= 0) return static_cast<int>(kRuntimeError);
        if (static_cast<std::size_t>(needed) > size) {
            size = static_cast<std::size_t>(needed);
            return static_cast<int>(kInsufficientBuffer);
        }
        unsigned char* out = buffer;
        size = static_cast<std::size_t>(i2d_X509(x509_, &out));
        return static_cast<int>(kOk);
    });
}

TElMemoryCertStorage::~TElMemoryCertStorage() {
    for (auto& [cert, key] : items_) {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    SSL_CTX_free(context_);
}

void TElMemoryCertStorage::Add(const TElX509Certificate& certificate, bool copy_private_key) {
    if (!certificate.Handle()) throw SBInvalidParameterException();
    X509_up_ref(certificate.Handle());
    EVP_PKEY* key = copy_private_key ? certificate.KeyHandle() : nullptr;
    if (key) EVP_PKEY_up_ref(key);
    std::lock_guard guard(lock_);
    items_.emplace_back(certificate.Handle(), key);
    SSL_CTX_free(context_);
    context_ = nullptr;
}

std::size_t TElMemoryCertStorage::Count() const {
    std::lock_guard guard(lock_);
    return items_.size();
}

SSL_CTX* TElMemoryCertStorage::AcquireServerContext() {
    std::lock_guard guard(lock_);
    if (!context_) {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        if (!context) raise_error("ETLSError", "Cannot create the TLS context");
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_session_id_context(context, reinterpret_cast<const unsigned char*>("sealdesk"), 8);
        const std::pair<X509*, EVP_PKEY*>* chosen = nullptr;
        for (const auto& item : items_)
            if (item.second) {
                chosen = &item;
                break;
            }
        if (!chosen && !items_.empty()) chosen = &items_.front();
        if (chosen) {
            SSL_CTX_use_certificate(context, chosen->first);
            if (chosen->second) SSL_CTX_use_PrivateKey(context, chosen->second);
        }
        ERR_clear_error();
        context_ = context;
    }
    SSL_CTX_up_ref(context_);
    return context_;
}

}  // namespace SignCore
