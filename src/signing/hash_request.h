// The start that the hash-signing operations share ("/signHash",
// "/signPKCS7Hash", "/DCSigner"), and their signing step on the provider.
#pragma once

#include <memory>
#include <string>

#include "platform/crypt_provider.h"
#include "platform/token_store.h"

namespace sealdesk {

struct HashRequest {
    platform::HashAlgorithm algorithm = platform::HashAlgorithm::Sha1;
    Bytes hash;                                  // the decoded HashVal
    platform::CertificateHandle certificate;     // the selected certificate
    std::unique_ptr<platform::CryptProvider> provider;
};

// Session (a failure drops the selection: 100205), the hash value (empty or
// of the wrong length: 100200; over 100 characters: 100204), all before any
// certificate work, then the certificate and its key (100201). Returns 0
// with `request` filled, or the code, written into the last-error text.
int begin_hash_signing(std::string& result, const std::string& hash_opt, const std::string& hash_val,
                       const std::string& session_id, HashRequest& request);

// Where signing on the provider stopped.
enum class ProviderFailure { None, HashObject, Signature, KeyAbsent };

// Signs `input` on the provider: as the hash value itself (`input_is_hash`),
// or as data the provider hashes with `algorithm`. Leaves the signature most
// significant byte first in `signature`. HashObject: the hash object could
// not be made or take the input; Signature: no signature length or no
// signature (token gone, PIN prompt cancelled, token refused); KeyAbsent:
// the token, once logged in, showed no key for the certificate (its private
// key cannot be acquired after all).
ProviderFailure sign_on_provider(const platform::CryptProvider& provider, platform::HashAlgorithm algorithm,
                                 const Bytes& input, bool input_is_hash, Bytes& signature);

// The "/signHash" steps up to the signature: the common start, then the
// request's hash value signed as it is. Returns 0 with the signature (most
// significant byte first) and `request` filled, or the code (those of the
// start, 100200 hash object, 100203 signature, 100201 no key after all),
// written into the last-error text. "/DCSigner" signs exactly so.
int sign_hash_steps(std::string& result, const std::string& hash_opt, const std::string& hash_val,
                    const std::string& session_id, HashRequest& request, Bytes& signature);

}  // namespace sealdesk
