// The token layer against real software tokens (SoftHSM2 and NSS's token)
// made by the test PKI fixture: certificates, key acquisition, login through
// the PIN dialog, signatures checked with OpenSSL against the certificate.
// ctest runs each test in a process of its own (fresh tokens and logins);
// they assume that, since a module's login lasts as long as the process.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>

#include "platform/cert_names.h"
#include "platform/dialogs.h"
#include "platform/crypt_provider.h"
#include "platform/token_store.h"

using namespace sealdesk;
using namespace sealdesk::platform;

namespace {

const char* kSoftHsm = "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so";

// The person at the machine, answering PIN prompts from a list.
class PinAnswers final : public Dialogs {
public:
    std::deque<std::optional<std::string>> answers;
    std::vector<PinRequest> asked;
    std::optional<std::size_t> choose_certificate(const std::vector<CertificateChoice>&) override { return {}; }
    std::optional<std::string> enter_pin(const PinRequest& request) override {
        asked.push_back(request);
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::u16string> open_file(const FileRequest&) override { return {}; }
    std::optional<std::u16string> save_file(const FileRequest&) override { return {}; }
};

// A person who types the right PIN at every prompt, but takes their time
// over prompt number `hold_at` until the test lets them answer.
class SlowPinAnswer final : public Dialogs {
public:
    explicit SlowPinAnswer(int hold_at) : hold_at_(hold_at) {}
    std::optional<std::size_t> choose_certificate(const std::vector<CertificateChoice>&) override { return {}; }
    std::optional<std::string> enter_pin(const PinRequest&) override {
        std::unique_lock lock(mutex_);
        if (++asked_ == hold_at_) {
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        }
        return std::string("123456");
    }
    std::optional<std::u16string> open_file(const FileRequest&) override { return {}; }
    std::optional<std::u16string> save_file(const FileRequest&) override { return {}; }

    // Waits until the held prompt is open; false after `limit`.
    bool wait_until_held(std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return asked_ >= hold_at_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    int asked() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    const int hold_at_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int asked_ = 0;
    bool released_ = false;
};

struct Fixture {
    std::filesystem::path root;
    std::vector<ModuleEntry> modules;
    ~Fixture() {
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }
};

Fixture& pki() {
    static Fixture fixture = [] {
        Fixture f;
        const char* source = std::getenv("SEALDESK_SOURCE_DIR");
        std::string top = source ? source : ".";
        f.root = std::filesystem::temp_directory_path() / ("sealdesk-token-test-" + std::to_string(getpid()));
        std::string command = "/usr/bin/python3 " + top + "/tests/fixtures/pki.py " + f.root.string() + " >/dev/null";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("fixture failed");
        setenv("SOFTHSM2_CONF", (f.root / "softhsm2.conf").c_str(), 1);
        f.modules.push_back({"Darvolk-Group-CSP-V6.0", kSoftHsm, u"Darvolk Group CSP V6.0", ""});
        // A second registration of the same library must not load it twice.
        f.modules.push_back({"softhsm2", kSoftHsm, u"softhsm2", ""});
        f.modules.push_back({"missing", "/nonexistent/libnothing.so", u"missing", ""});
        return f;
    }();
    return fixture;
}

CertificateHandle find(const CertificateStore& store, const std::string& cn) {
    for (const auto& c : store.certificates())
        if (simple_display_name(c->x509(), false) == ascii_to_wide(cn)) return c;
    return nullptr;
}

bool verifies(const CertificateHandle& cert, const Bytes& digest_info, const Bytes& signature) {
    EVP_PKEY* pub = X509_get0_pubkey(cert->x509());
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pub, nullptr);
    bool ok = EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest_info.data(), digest_info.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

Bytes sha256_digest_info() {
    Bytes info = hex_decode("3031300d060960864801650304020105000420");
    for (int i = 0; i < 32; ++i) info.push_back(static_cast<std::uint8_t>(i));
    return info;
}

class TokenStore : public ::testing::Test {
protected:
    void SetUp() override {
        auto answers = std::make_unique<PinAnswers>();
        pins = answers.get();
        set_dialogs(std::move(answers));
        store = CertificateStore::open_modules(pki().modules);
    }
    PinAnswers* pins = nullptr;
    std::unique_ptr<CertificateStore> store;
};

}  // namespace

TEST_F(TokenStore, ListsCertificatesOfInitialisedTokensOnceWithTheirProvider) {
    std::size_t vn = 0;
    for (const auto& c : store->certificates()) {
        EXPECT_EQ(c->provider_name(), u"Darvolk Group CSP V6.0");
        if (simple_display_name(c->x509(), false) == u"Nguyễn Văn A") {
            ++vn;
            EXPECT_EQ(c->token().label, "SealDesk Test");
            EXPECT_FALSE(c->key_id().empty());
        }
    }
    EXPECT_EQ(vn, 1u);
    EXPECT_TRUE(find(*store, "Spare Token User"));
    EXPECT_TRUE(find(*store, "No Key User"));
    // Before any login: the key's public half decides.
    EXPECT_TRUE(acquire_private_key(find(*store, "Expired User")));
    EXPECT_FALSE(acquire_private_key(find(*store, "No Key User")));
}

TEST_F(TokenStore, WrongPinIsAskedAgainThenTheKeySigns) {
    auto cert = find(*store, "Revoked User");
    ASSERT_TRUE(cert);
    auto key = acquire_private_key(cert);
    ASSERT_TRUE(key);
    pins->answers = {std::string("000000"), std::string("123456")};
    Bytes info = sha256_digest_info();
    auto signature = key->sign_pkcs1(info);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifies(cert, info, *signature));
    ASSERT_EQ(pins->asked.size(), 2u);
    EXPECT_EQ(pins->asked[0].token_label, u"SealDesk Test");
    EXPECT_FALSE(pins->asked[0].after_wrong_pin);
    EXPECT_TRUE(pins->asked[1].after_wrong_pin);

    // Logged in now: no prompt, and a certificate whose key is not on the
    // token can no longer be acquired.
    pins->asked.clear();
    auto again = key->sign_pkcs1(info);
    ASSERT_TRUE(again);
    EXPECT_TRUE(pins->asked.empty());
    EXPECT_FALSE(acquire_private_key(find(*store, "No Key User")));
}

TEST_F(TokenStore, KeyDemandingPinForEveryUseRecoversFromACancelledPrompt) {
    auto cert = find(*store, "Always Authenticate User");
    ASSERT_TRUE(cert);
    auto key = acquire_private_key(cert);
    ASSERT_TRUE(key);
    Bytes info = sha256_digest_info();
    // Login PIN given, the per-use prompt cancelled: the operation fails ...
    pins->answers = {std::string("123456"), std::nullopt};
    EXPECT_FALSE(key->sign_pkcs1(info));
    EXPECT_EQ(pins->asked.size(), 2u);
    // ... and the token is usable again afterwards (login and per-use PIN).
    pins->answers = {std::string("123456"), std::string("123456"), std::string("123456")};
    auto signature = key->sign_pkcs1(info);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifies(cert, info, *signature));
}

TEST_F(TokenStore, OpenPerUsePinPromptLetsOtherRequestsUseTheToken) {
    auto cert = find(*store, "Always Authenticate User");
    auto other = find(*store, "Unknown User");
    ASSERT_TRUE(cert && other);
    auto key = acquire_private_key(cert);
    ASSERT_TRUE(key);
    // The login prompt comes first, the key's own prompt second: that one
    // stays open.
    auto slow = std::make_unique<SlowPinAnswer>(2);
    SlowPinAnswer& person = *slow;
    set_dialogs(std::move(slow));
    Bytes info = sha256_digest_info();
    auto signing = std::async(std::launch::async, [&] { return key->sign_pkcs1(info); });
    bool held = person.wait_until_held(std::chrono::seconds(60));
    // Meanwhile listing the certificates and acquiring a key on the same
    // token go on.
    auto others = std::async(std::launch::async, [&] {
        auto listed = CertificateStore::open_modules(pki().modules);
        return find(*listed, "Unknown User") && acquire_private_key(other);
    });
    bool others_done = others.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    person.release();
    EXPECT_TRUE(held);
    EXPECT_TRUE(others_done) << "the token stayed locked while its PIN prompt was open";
    EXPECT_TRUE(others.get());
    auto signature = signing.get();
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifies(cert, info, *signature));
    EXPECT_EQ(person.asked(), 2);
}

TEST_F(TokenStore, CancelledLoginFailsAndLeavesTheTokenUsable) {
    auto cert = find(*store, "Future User");
    ASSERT_TRUE(cert);
    auto key = acquire_private_key(cert);
    ASSERT_TRUE(key);
    // Whether a login is still needed depends on the earlier tests; a cancel
    // must never break the token.
    pins->answers = {std::nullopt};
    (void)key->sign_pkcs1(sha256_digest_info());
    pins->answers = {std::string("123456")};
    EXPECT_TRUE(key->sign_pkcs1(sha256_digest_info()));
}

TEST_F(TokenStore, TokenPulledOutFailsAcquisitionAndUse) {
    auto cert = find(*store, "Spare Token User");
    ASSERT_TRUE(cert);
    auto key = acquire_private_key(cert);
    ASSERT_TRUE(key);
    std::string command = "SOFTHSM2_CONF=" + (pki().root / "softhsm2.conf").string() +
                          " softhsm2-util --delete-token --token 'SealDesk Spare' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_FALSE(acquire_private_key(cert));
    pins->answers = {std::string("123456")};
    EXPECT_FALSE(key->sign_pkcs1(sha256_digest_info()));
    auto reopened = CertificateStore::open_modules(pki().modules);
    EXPECT_FALSE(find(*reopened, "Spare Token User"));
    EXPECT_TRUE(find(*reopened, "Future User"));
}

TEST_F(TokenStore, ProviderSignsTheDigestInfoLeastSignificantByteFirst) {
    auto cert = find(*store, "Unknown User");
    ASSERT_TRUE(cert);
    auto provider = CryptProvider::acquire(cert);
    ASSERT_TRUE(provider);
    pins->answers = {std::string("123456")};
    const std::string data = "xin chào";
    const std::pair<HashAlgorithm, const EVP_MD*> algorithms[] = {
        {HashAlgorithm::Md5, EVP_md5()}, {HashAlgorithm::Sha1, EVP_sha1()}, {HashAlgorithm::Sha256, EVP_sha256()}};
    for (const auto& [algorithm, md] : algorithms) {
        auto hash = provider->create_hash(algorithm);
        ASSERT_TRUE(hash);
        ASSERT_TRUE(hash->hash_data(data.data(), data.size()));
        auto signature = hash->sign();
        ASSERT_TRUE(signature) << static_cast<unsigned>(algorithm);
        std::reverse(signature->begin(), signature->end());
        Bytes info = digest_info_prefix(algorithm);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        ASSERT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr), 1);
        info.insert(info.end(), digest, digest + length);
        EXPECT_TRUE(verifies(cert, info, *signature)) << static_cast<unsigned>(algorithm);
    }
    // A hash value given directly must have the algorithm's size.
    auto hash = provider->create_hash(HashAlgorithm::Sha256);
    EXPECT_FALSE(hash->set_hash_value(Bytes(20)));
    EXPECT_TRUE(hash->set_hash_value(Bytes(32, 7)));
    EXPECT_FALSE(hash->hash_data("x", 1));
}
