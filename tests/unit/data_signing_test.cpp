// The pieces of the data-signing operations that need no token: the signed
// content of a text, the hash option, the remote-signing answer, and the CMS
// message with a key held in memory, checked by the detached verification.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/message_verify.h"
#include "signing/data_signing.h"
#include "toolkit/cms.h"
#include "toolkit/sb_exception.h"

namespace sealdesk {
namespace {

TEST(TextContent, UnitsOfTheUtf8TextLittleEndian) {
    struct Case {
        const char* in_data;
        std::optional<Bytes> content;
    } cases[] = {
        {"YWJj", Bytes{0x61, 0, 0x62, 0, 0x63, 0}},                // "abc"
        {"4bq/", Bytes{0xBF, 0x1E}},                               // U+1EBF, three UTF-8 bytes
        {"", Bytes{}},                                             // empty text, nothing to sign
        {"YW Jj\n", Bytes{0x61, 0, 0x62, 0, 0x63, 0}},             // white space skipped
        {"YWJj!", std::nullopt},                                   // not base64
        {"/w==", std::nullopt},                                    // FF: not UTF-8
        {"wg==", std::nullopt},                                    // C2 alone: cut short
    };
    for (const Case& c : cases) EXPECT_EQ(text_content(c.in_data), c.content) << c.in_data;

    std::u16string text;
    ASSERT_TRUE(text_content("4bq/", &text));
    EXPECT_EQ(text, u"\u1EBF");
}

TEST(HashOption, WholeTextDecidesAndEverythingElseIsSha1) {
    using platform::HashAlgorithm;
    EXPECT_EQ(hash_algorithm("1"), HashAlgorithm::Md5);
    EXPECT_EQ(hash_algorithm("2"), HashAlgorithm::Sha256);
    for (const char* other : {"", "3", "01", "2 ", " 1", "sha256"}) EXPECT_EQ(hash_algorithm(other), HashAlgorithm::Sha1);
}

TEST(RemoteSignatureJson, MembersInKeyOrderEscapedWithoutWhiteSpace) {
    RemoteSignature answer{"a\"b\\c\b\t\n\f\r\x01\xC3\xA9/", "c2ln", "Y2VydA==", "ABCDEF", "20240229235959"};
    EXPECT_EQ(remote_signature_json(answer),
              "{\"DataToBeSigned\":\"a\\\"b\\\\c\\b\\t\\n\\f\\r\x01\xC3\xA9/\","
              "\"PKCS1Signature\":\"c2ln\",\"SignedCertificate\":\"Y2VydA==\","
              "\"SignedThumbprint\":\"ABCDEF\",\"TimeStamping\":\"20240229235959\"}");
}

TEST(RemoteSignatureJson, TimeStampIsUtcWithAnUnpaddedYear) {
    EXPECT_EQ(utc_time_stamp(1709251199), "20240229235959");
    EXPECT_EQ(utc_time_stamp(0), "19700101000000");
    EXPECT_EQ(utc_time_stamp(253402300800), "100000101000000");  // the year as it is
}

// A self-signed RSA certificate with its key in memory.
struct SoftSigner {
    EVP_PKEY* key = nullptr;
    std::shared_ptr<SignCore::TElX509Certificate> certificate;

    explicit SoftSigner(const char* common_name) {
        key = EVP_RSA_gen(2048);
        X509* x509 = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(x509), 0x0A1B);
        X509_gmtime_adj(X509_getm_notBefore(x509), 0);
        X509_gmtime_adj(X509_getm_notAfter(x509), 86400);
        X509_NAME* name = X509_get_subject_name(x509);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(common_name),
                                   -1, -1, 0);
        X509_set_issuer_name(x509, name);
        X509_set_pubkey(x509, key);
        X509_sign(x509, key, EVP_sha256());
        unsigned char* der = nullptr;
        int size = i2d_X509(x509, &der);
        certificate = std::make_shared<SignCore::TElX509Certificate>();
        certificate->LoadFromBuffer(der, static_cast<std::size_t>(size));
        OPENSSL_free(der);
        X509_free(x509);
    }
    ~SoftSigner() { EVP_PKEY_free(key); }

    SignCore::TElKeyAccess access() const {
        return [this](const std::function<bool(EVP_PKEY*)>& step) { return step(key); };
    }
};

const SoftSigner& alice() {
    static SoftSigner signer("Alice");
    return signer;
}

Bytes sign(const Bytes& content, bool include_content, const SignCore::TElKeyAccess& key,
           int digest = SignCore::SB_ALGORITHM_DGST_SHA1) {
    SignCore::TElSignedCMSMessage message;
    message.SetContent(content.data(), content.size());
    message.IncludeContent = include_content;
    SignCore::TElCMSSignature& signature = message.Signature(message.AddSignature());
    signature.DigestAlgorithm = digest;
    signature.SigningTime = 1700000000;
    signature.SetSigningCertificate(alice().certificate, key);
    SignCore::TMemoryStream stream;
    message.SaveToStream(stream);
    return stream.Data();
}

TEST(SignedCmsMessage, AttachedAndDetachedMessagesVerifyOverTheirContentOnly) {
    const Bytes content{0x61, 0, 0x62, 0, 0x63, 0};
    const Bytes other{0x61, 0, 0x62, 0, 0x64, 0};
    for (bool attached : {true, false}) {
        Bytes message = sign(content, attached, alice().access());
        platform::X509Ptr signer = platform::verify_detached_message_signature(message, 0, content);
        ASSERT_TRUE(signer) << attached;
        EXPECT_EQ(X509_cmp(signer.get(), alice().certificate->Handle()), 0);
        EXPECT_FALSE(platform::verify_detached_message_signature(message, 0, other)) << attached;
        EXPECT_FALSE(platform::verify_detached_message_signature(message, 1, content)) << attached;
        Bytes damaged = message;
        damaged[damaged.size() - 10] ^= 1;  // inside the signature value
        EXPECT_FALSE(platform::verify_detached_message_signature(damaged, 0, content)) << attached;
    }
    EXPECT_TRUE(platform::verify_detached_message_signature(sign({}, false, alice().access()), 0, {}));
    EXPECT_FALSE(platform::verify_detached_message_signature({}, 0, content));
    EXPECT_FALSE(platform::verify_detached_message_signature(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}, 0, content));
}

TEST(SignedCmsMessage, RaisesWhenItCannotSign) {
    const Bytes content{1, 2, 3};
    SoftSigner mallory("Mallory");
    const SignCore::TElKeyAccess refused = [](const std::function<bool(EVP_PKEY*)>&) { return false; };
    const SignCore::TElKeyAccess wrong_key = [&](const std::function<bool(EVP_PKEY*)>& step) {
        return step(mallory.key);
    };
    EXPECT_THROW(sign(content, true, refused), SignCore::SBException);
    EXPECT_THROW(sign(content, true, wrong_key), SignCore::SBException);
    EXPECT_THROW(sign(content, true, alice().access(), 0x7777), SignCore::SBException);

    SignCore::TElSignedCMSMessage message;
    SignCore::TMemoryStream stream;
    EXPECT_THROW(message.SaveToStream(stream), SignCore::SBException);  // no signature
    message.AddSignature();
    EXPECT_THROW(message.SaveToStream(stream), SignCore::SBException);  // no signer
    EXPECT_THROW(message.AddSignature(), SignCore::SBException);
    EXPECT_EQ(stream.Size(), 0);
}

}  // namespace
}  // namespace sealdesk
