// The certificate store of the machine: certificates on the PKCS#11 tokens of
// the modules registered with p11-kit, each with the provider name of its
// module, and the private keys on those tokens.
//
// Modules are listed through p11-kit (names, files, options) and then opened
// with libp11, one context per module file, kept loaded for the life of the
// process so that a token's login lasts across requests. Every libp11 call on
// a module runs under that module's lock; no dialog is ever shown while it is
// held (a token with a PIN pad may still keep it while the user types there).
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "text/text.h"

namespace sealdesk::platform {

class TokenModule;

// One entry of the module registry.
struct ModuleEntry {
    std::string name;           // p11-kit's name of the module (file name without ".module")
    std::string path;           // the module's library file
    std::u16string provider;    // x-provider-name, else the name
    std::string init_args;      // x-init-reserved, passed to the module's initialisation
};

// The modules registered with p11-kit, in p11-kit's order, after those of
// the folder named by SEALDESK_PKCS11_MODULES (module files in p11-kit's
// format; p11-kit ignores a user's own registry for root).
std::vector<ModuleEntry> registered_modules();

// Which token a certificate or key lives on. Slot ids change (software
// tokens renumber their slots when one is initialised), so tokens are known
// by what they say about themselves.
struct TokenIdentity {
    std::string label, manufacturer, model, serial;
    bool operator==(const TokenIdentity&) const = default;
};

// A certificate found on a token: the platform's certificate context.
// Immutable and shared; a "duplicate" is another reference.
class CertificateContext {
public:
    CertificateContext(std::shared_ptr<TokenModule> module, TokenIdentity token, Bytes key_id, Bytes der,
                       std::u16string provider);
    ~CertificateContext();
    CertificateContext(const CertificateContext&) = delete;
    CertificateContext& operator=(const CertificateContext&) = delete;

    const Bytes& der() const { return der_; }
    X509* x509() const { return x509_; }  // never null
    const std::u16string& provider_name() const { return provider_; }
    const TokenIdentity& token() const { return token_; }
    const Bytes& key_id() const { return key_id_; }  // CKA_ID
    const std::shared_ptr<TokenModule>& module() const { return module_; }

private:
    std::shared_ptr<TokenModule> module_;
    TokenIdentity token_;
    Bytes key_id_;
    Bytes der_;
    X509* x509_ = nullptr;
    std::u16string provider_;
};
using CertificateHandle = std::shared_ptr<const CertificateContext>;

// The personal store: a snapshot of the certificates on every initialised
// token of every module at the moment it was opened.
class CertificateStore {
public:
    // Reads the p11-kit registry anew; a module that fails to load is skipped
    // with one line on standard error.
    static std::unique_ptr<CertificateStore> open_personal();
    // The same over a given list of modules.
    static std::unique_ptr<CertificateStore> open_modules(const std::vector<ModuleEntry>& modules);

    const std::vector<CertificateHandle>& certificates() const { return certificates_; }

private:
    std::vector<CertificateHandle> certificates_;
};

// What came of using a private key.
enum class KeyUse {
    Done,       // the operation ran and succeeded
    Failed,     // token gone, PIN dialog cancelled, PIN refused, operation failed
    KeyAbsent,  // the token is there (logged in when it needs it) but holds no such key
};

// The private key of a certificate: the key object with the certificate's
// CKA_ID on the same token (the platform's key provider handle).
class PrivateKey {
public:
    explicit PrivateKey(CertificateHandle certificate) : certificate_(std::move(certificate)) {}

    // Runs `operation` with the token's key, logging in through the PIN
    // dialog first when the token needs it, and asking the key's own PIN
    // first when the key wants one at every use. Each call gets a key object
    // of its own; the operation must make its own EVP_PKEY_CTX and must not
    // keep the key. A key the token does not show right after this call's
    // login is KeyAbsent at once, with no further prompt; a login the token
    // lost behind libp11's back is made anew once. A failed operation is
    // tried once more when the token lost the login or the key's handle.
    KeyUse use(const std::function<bool(EVP_PKEY*)>& operation) const;

    // PKCS#1 v1.5 signature (block type 1) over `digest_info` as given,
    // most significant byte first. None on failure; `outcome` (when given)
    // tells why.
    std::optional<Bytes> sign_pkcs1(const Bytes& digest_info, KeyUse* outcome = nullptr) const;

    const CertificateHandle& certificate() const { return certificate_; }

private:
    CertificateHandle certificate_;
};

// The platform's private key acquisition: succeeds when the certificate's
// token is present and either shows the key, or needs a login before its
// private objects can be seen and shows the key's public half (or no public
// keys at all); the key itself is then looked up after login. Once the token
// is logged in, only a key it shows counts.
std::shared_ptr<PrivateKey> acquire_private_key(const CertificateHandle& certificate);

}  // namespace sealdesk::platform
