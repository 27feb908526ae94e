// Certificate texts as the platform writes them, the provider rule, the
// session token's generator, the CA information file and the reading of OCSP
// responses.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "certificates/selection.h"
#include "certificates/session.h"
#include "platform/cert_names.h"
#include "revocation/ocsp.h"

using namespace sealdesk;
using namespace sealdesk::platform;

namespace {

struct Attribute {
    const char* field;
    int type;             // MBSTRING_UTF8 or a V_ASN1_* type taken byte for byte
    std::string value;
    bool same_rdn = false;  // joins the previous attribute's RDN
};

// A name built from attributes in encoded order, read back from its DER.
std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> make_name(const std::vector<Attribute>& attributes) {
    X509_NAME* built = X509_NAME_new();
    for (const Attribute& a : attributes) {
        ASN1_OBJECT* object = OBJ_txt2obj(a.field, 0);
        EXPECT_EQ(X509_NAME_add_entry_by_OBJ(built, object, a.type,
                                             reinterpret_cast<const unsigned char*>(a.value.data()),
                                             static_cast<int>(a.value.size()), -1, a.same_rdn ? -1 : 0),
                  1)
            << a.field;
        ASN1_OBJECT_free(object);
    }
    unsigned char* der = nullptr;
    int len = i2d_X509_NAME(built, &der);
    X509_NAME_free(built);
    const unsigned char* p = der;
    X509_NAME* parsed = d2i_X509_NAME(nullptr, &p, len);
    OPENSSL_free(der);
    return {parsed, X509_NAME_free};
}

EVP_PKEY* test_key() {
    static EVP_PKEY* key = EVP_RSA_gen(2048);
    return key;
}

// A certificate with the given subject, issued by `issuer_name` and signed
// with the test key.
X509* make_cert(const std::vector<Attribute>& subject, const std::vector<Attribute>& issuer, long serial,
                const char* email_alt_name = nullptr) {
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_set_subject_name(cert, make_name(subject).get());
    X509_set_issuer_name(cert, make_name(issuer).get());
    ASN1_TIME_set(X509_getm_notBefore(cert), 1'700'000'000);
    ASN1_TIME_set(X509_getm_notAfter(cert), 1'800'000'000);
    X509_set_pubkey(cert, test_key());
    if (email_alt_name) {
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        X509_EXTENSION* ext =
            X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, (std::string("email:") + email_alt_name).c_str());
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert, test_key(), EVP_sha256());
    return cert;
}

const std::vector<Attribute> kIssuer = {{"C", MBSTRING_UTF8, "VN"}, {"CN", MBSTRING_UTF8, "Test CA"}};

}  // namespace

TEST(CertificateTexts, DnInReverseOrderWithKeysAndQuoting) {
    struct Case {
        std::vector<Attribute> name;
        std::u16string text;
    };
    const Case cases[] = {
        {{{"C", MBSTRING_UTF8, "VN"}, {"O", MBSTRING_UTF8, "A, B"}, {"CN", MBSTRING_UTF8, "Nguyễn Văn A"}},
         u"CN=Nguyễn Văn A, O=\"A, B\", C=VN"},
        // multi-valued RDN: encoded order inside, " + " between
        {{{"O", MBSTRING_UTF8, "X"}, {"OU", MBSTRING_UTF8, "Sales"}, {"title", MBSTRING_UTF8, "Boss", true}},
         // DER sorts the attributes of one RDN: the shorter encoding first
         u"T=Boss + OU=Sales, O=X"},
        {{{"CN", MBSTRING_UTF8, "say \"hi\""}}, u"CN=\"say \"\"hi\"\"\""},
        {{{"CN", MBSTRING_UTF8, " lead"}}, u"CN=\" lead\""},
        {{{"CN", MBSTRING_UTF8, "trail\t"}}, u"CN=\"trail\t\""},
        {{{"CN", MBSTRING_UTF8, "in side"}}, u"CN=in side"},
        {{{"CN", MBSTRING_UTF8, "a+b"}}, u"CN=\"a+b\""},
        {{{"CN", MBSTRING_UTF8, "a=b"}}, u"CN=\"a=b\""},
        {{{"CN", MBSTRING_UTF8, "#1"}}, u"CN=\"#1\""},
        {{{"CN", MBSTRING_UTF8, "a;b<c>"}}, u"CN=\"a;b<c>\""},
        {{{"CN", MBSTRING_UTF8, "line\nfeed"}}, u"CN=\"line\nfeed\""},
        // keys, and OIDs without one
        {{{"DC", MBSTRING_UTF8, "vn"}, {"emailAddress", V_ASN1_IA5STRING, "a@b.vn"}, {"ST", MBSTRING_UTF8, "HN"},
          {"L", MBSTRING_UTF8, "Ba Dinh"}, {"street", MBSTRING_UTF8, "1 Le Loi"}, {"GN", MBSTRING_UTF8, "An"},
          {"SN", MBSTRING_UTF8, "Le"}, {"serialNumber", V_ASN1_PRINTABLESTRING, "CMND:1"},
          {"postalCode", MBSTRING_UTF8, "10000"}, {"UID", MBSTRING_UTF8, "MST:0101234567"},
          {"1.2.3.4", MBSTRING_UTF8, "x"}},
         u"OID.1.2.3.4=x, OID.0.9.2342.19200300.100.1.1=MST:0101234567, PostalCode=10000, "
         u"SERIALNUMBER=CMND:1, SN=Le, G=An, STREET=1 Le Loi, L=Ba Dinh, S=HN, E=a@b.vn, DC=vn"},
    };
    for (const Case& c : cases) {
        auto name = make_name(c.name);
        EXPECT_EQ(name_to_x500_reverse(name.get()), c.text) << to_utf8(c.text);
    }
    EXPECT_EQ(name_to_x500_reverse(make_name({}).get()), u"");
    EXPECT_EQ(name_to_x500_reverse(nullptr), u"");
}

TEST(CertificateTexts, ValueDecodingByStringType) {
    struct Case {
        int type;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {V_ASN1_PRINTABLESTRING, "Ab 1", u"Ab 1"},
        {V_ASN1_IA5STRING, "a@b", u"a@b"},
        {V_ASN1_UTF8STRING, "\xE1\xBA\xA0", u"\u1EA0"},
        {V_ASN1_BMPSTRING, std::string("\x1E\xA0\x00\x41", 4), u"\u1EA0A"},
        {V_ASN1_T61STRING, "\xC3\xA9", u"\u00E9"},  // valid UTF-8: read as UTF-8
        {V_ASN1_T61STRING, "\xE9t\xE9", u"\u00E9t\u00E9"},  // otherwise Latin-1
    };
    for (const Case& c : cases) {
        auto name = make_name({{"CN", c.type, c.bytes}});
        ASSERT_TRUE(name);
        EXPECT_EQ(name_value_text(X509_NAME_get_entry(name.get(), 0)), c.text) << c.bytes;
    }
}

TEST(CertificateTexts, EmptyAndNonStringValues) {
    struct Case {
        const char* der_hex;
        std::u16string text;
    };
    const Case cases[] = {
        {"300b3109300706035504030c00", u"CN=\"\""},                    // empty UTF8String
        {"300d310b300906035504030302 00ff", u"CN=#030200FF"},            // BIT STRING: not a string
    };
    for (const Case& c : cases) {
        std::string hex = c.der_hex;
        hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
        Bytes der = hex_decode(hex);
        const unsigned char* p = der.data();
        X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_TRUE(name) << c.der_hex;
        EXPECT_EQ(name_to_x500_reverse(name), c.text);
        X509_NAME_free(name);
    }
}

TEST(CertificateTexts, SimpleDisplayNameFallbacks) {
    struct Case {
        std::vector<Attribute> subject;
        const char* email;
        std::u16string text;
    };
    const Case cases[] = {
        {{{"O", MBSTRING_UTF8, "Org"}, {"OU", MBSTRING_UTF8, "Unit"}, {"CN", MBSTRING_UTF8, "Common"}}, nullptr,
         u"Common"},
        {{{"O", MBSTRING_UTF8, "Org"}, {"OU", MBSTRING_UTF8, "Unit"}}, nullptr, u"Unit"},
        {{{"C", MBSTRING_UTF8, "VN"}, {"O", MBSTRING_UTF8, "Org"}}, nullptr, u"Org"},
        {{{"C", MBSTRING_UTF8, "VN"}, {"emailAddress", V_ASN1_IA5STRING, "e@x.vn"}}, nullptr, u"e@x.vn"},
        {{{"C", MBSTRING_UTF8, "VN"}}, "alt@x.vn", u"alt@x.vn"},
        {{{"C", MBSTRING_UTF8, "VN"}}, nullptr, u""},
    };
    for (const Case& c : cases) {
        X509* cert = make_cert(c.subject, kIssuer, 1, c.email);
        EXPECT_EQ(simple_display_name(cert, false), c.text);
        EXPECT_EQ(simple_display_name(cert, true), u"Test CA");
        X509_free(cert);
    }
}

TEST(CertificateTexts, SerialBlobKeepsTheDerBytesLeastSignificantFirst) {
    struct Case {
        long serial;
        std::string hex;  // serial_hex of the blob
    };
    for (const Case& c : {Case{0x0A1B, "0a1b"}, Case{0x8F01, "008f01"}, Case{1, "01"}, Case{0x7F, "7f"},
                          Case{0x80, "0080"}, Case{-1, "ff"}, Case{-129, "ff7f"}}) {
        X509* cert = make_cert({{"CN", MBSTRING_UTF8, "x"}}, kIssuer, c.serial);
        EXPECT_EQ(serial_hex(serial_blob(cert)), c.hex) << c.serial;
        X509_free(cert);
    }
}

TEST(CertificateTexts, ValidityBoundsAreInclusive) {
    X509* cert = make_cert({{"CN", MBSTRING_UTF8, "x"}}, kIssuer, 1);
    EXPECT_EQ(verify_time_validity(cert, 1'699'999'999), -1);
    EXPECT_EQ(verify_time_validity(cert, 1'700'000'000), 0);
    EXPECT_EQ(verify_time_validity(cert, 1'800'000'000), 0);
    EXPECT_EQ(verify_time_validity(cert, 1'800'000'001), 1);
    X509_free(cert);
}

TEST(CertificateTexts, SystemTimeConversionRefusesWhatThePlatformRefuses) {
    EXPECT_EQ(system_time_to_unix({2024, 2, 29, 23, 59, 59}), 1'709'251'199);
    EXPECT_EQ(system_time_to_unix({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(system_time_to_unix({1601, 1, 1, 0, 0, 0}), -11'644'473'600);
    for (SystemTime bad : {SystemTime{2020, 0, 23, 4, 3, 3}, SystemTime{2023, 2, 29, 0, 0, 0},
                           SystemTime{2024, 13, 1, 0, 0, 0}, SystemTime{2024, 1, 1, 24, 0, 0},
                           SystemTime{2024, 1, 1, 0, 60, 0}, SystemTime{2024, 1, 1, 0, 0, 60},
                           SystemTime{1600, 12, 31, 0, 0, 0}, SystemTime{0, 1, 1, 0, 0, 0},
                           SystemTime{2024, 1, -1, 0, 0, 0}})
        EXPECT_FALSE(system_time_to_unix(bad)) << bad.year << "-" << bad.month << "-" << bad.day;
}

TEST(Providers, AcceptedTextIsSearchedAsAWhole) {
    for (const char16_t* name : {u"Darvolk Group CSP V6.0", u"Darvolk Group CSP V5.0", u"Darvolk Group CSP",
                                 u"CSP", u"", u"V6.0;Darvolk"})
        EXPECT_TRUE(provider_accepted(name)) << to_utf8(name);
    for (const char16_t* name : {u"Darvolk Group CSP V7.0", u"Microsoft Base Cryptographic Provider v1.0",
                                 u"Microsoft", u"darvolk group csp", u"softhsm2"})
        EXPECT_FALSE(provider_accepted(name)) << to_utf8(name);
}

TEST(Session, TokenIsTheRuntimeGeneratorsSequenceForTheSecond) {
    for (std::int64_t second : {0LL, 1LL, 1'700'000'000LL}) {
        std::srand(static_cast<unsigned>(second));
        std::string expected;
        for (int i = 0; i < 16; ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", std::rand() & 0xFF);
            expected += hex;
        }
        EXPECT_EQ(to_utf8(make_session_token(second)), expected);
    }
    EXPECT_NE(make_session_token(1), make_session_token(2));
}

TEST(Session, ChecksExpiryAndExactToken) {
    reset_session();
    EXPECT_FALSE(check_session(""));
    std::string token = to_utf8(new_session());
    EXPECT_TRUE(check_session(token));
    for (std::string bad : {std::string(), token.substr(1), token + "0", std::string("\xC3\x28", 2)})
        EXPECT_FALSE(check_session(bad));
    set_session_expiry_for_test(std::time(nullptr) - 1);
    EXPECT_FALSE(check_session(token));
    set_session_expiry_for_test(std::time(nullptr) + 60);
    EXPECT_TRUE(check_session(token));
    reset_session();
}

TEST(CaInfo, EntriesAndLineEnds) {
    auto entries = parse_ca_info("A=QUJD==\r\nno equals\nB=x=y\nA=later\n=empty name\nC=");
    EXPECT_EQ(entries.at("A"), "later");
    EXPECT_EQ(entries.at("B"), "x=y");
    EXPECT_EQ(entries.at(""), "empty name");
    EXPECT_EQ(entries.at("C"), "");
    EXPECT_EQ(entries.size(), 4u);
    EXPECT_EQ(parse_ca_info("K=ab==\r\n").at("K"), "ab==");
    EXPECT_TRUE(parse_ca_info("").empty());
}

namespace {

// A basic OCSP response about (cert, status) pairs, signed by `signer_cert`.
OCSP_RESPONSE* make_response(X509* issuer, X509* signer_cert, EVP_PKEY* signer_key,
                             const std::vector<std::pair<X509*, int>>& singles) {
    OCSP_BASICRESP* basic = OCSP_BASICRESP_new();
    ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
    for (auto [cert, status] : singles) {
        OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), cert, issuer);
        OCSP_basic_add1_status(basic, id, status, status == V_OCSP_CERTSTATUS_REVOKED ? 1 : -1,
                               status == V_OCSP_CERTSTATUS_REVOKED ? now : nullptr, now, nullptr);
        OCSP_CERTID_free(id);
    }
    OCSP_basic_sign(basic, signer_cert, signer_key, EVP_sha256(), nullptr, 0);
    OCSP_RESPONSE* response = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic);
    OCSP_BASICRESP_free(basic);
    ASN1_TIME_free(now);
    return response;
}

}  // namespace

TEST(OcspResponse, LastGoodOrRevokedAboutOurCertificateDecides) {
    // A self-signed issuer and two certificates it issued.
    X509* issuer = make_cert(kIssuer, kIssuer, 100);
    X509* ours = make_cert({{"CN", MBSTRING_UTF8, "ours"}}, kIssuer, 1);
    X509* other = make_cert({{"CN", MBSTRING_UTF8, "other"}}, kIssuer, 2);
    OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), ours, issuer);
    const int good = V_OCSP_CERTSTATUS_GOOD, revoked = V_OCSP_CERTSTATUS_REVOKED,
              unknown = V_OCSP_CERTSTATUS_UNKNOWN;
    struct Case {
        std::vector<std::pair<X509*, int>> singles;
        int status;
    };
    const Case cases[] = {
        {{{ours, good}}, kOcspGood},
        {{{ours, revoked}}, kOcspRevoked},
        {{{ours, unknown}}, kOcspNoAnswer},
        {{{ours, good}, {ours, revoked}}, kOcspRevoked},
        {{{ours, revoked}, {ours, good}}, kOcspGood},
        {{{ours, good}, {ours, unknown}}, kOcspGood},
        // an answer about another certificate says nothing about ours
        {{{other, good}}, kOcspNoAnswer},
        {{{ours, revoked}, {other, good}}, kOcspRevoked},
    };
    for (const Case& c : cases) {
        OCSP_RESPONSE* response = make_response(issuer, issuer, test_key(), c.singles);
        EXPECT_EQ(evaluate_ocsp_response(response, id, issuer), c.status);
        OCSP_RESPONSE_free(response);
    }
    // Signed by a key that is not the issuer's: no answer.
    EVP_PKEY* stranger = EVP_RSA_gen(2048);
    X509* stranger_cert = make_cert(kIssuer, kIssuer, 101);
    X509_set_pubkey(stranger_cert, stranger);
    X509_sign(stranger_cert, stranger, EVP_sha256());
    OCSP_RESPONSE* forged = make_response(issuer, stranger_cert, stranger, {{ours, good}});
    EXPECT_EQ(evaluate_ocsp_response(forged, id, issuer), kOcspNoAnswer);
    OCSP_RESPONSE_free(forged);
    // Not a successful response with a basic body at all.
    OCSP_RESPONSE* error = OCSP_response_create(OCSP_RESPONSE_STATUS_TRYLATER, nullptr);
    EXPECT_EQ(evaluate_ocsp_response(error, id, issuer), kOcspNoAnswer);
    OCSP_RESPONSE_free(error);
    EVP_PKEY_free(stranger);
    X509_free(stranger_cert);
    OCSP_CERTID_free(id);
    X509_free(issuer);
    X509_free(ours);
    X509_free(other);
}
