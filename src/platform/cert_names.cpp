#include "platform/cert_names.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <array>
#include <ctime>
#include <memory>
#include <string_view>
#include <vector>

namespace sealdesk::platform {
namespace {

struct Key {
    const char* oid;
    const char16_t* text;
};
constexpr std::array<Key, 20> kKeys = {{
    {"2.5.4.3", u"CN"},
    {"2.5.4.7", u"L"},
    {"2.5.4.10", u"O"},
    {"2.5.4.11", u"OU"},
    {"1.2.840.113549.1.9.1", u"E"},
    {"2.5.4.6", u"C"},
    {"2.5.4.8", u"S"},
    {"2.5.4.9", u"STREET"},
    {"2.5.4.12", u"T"},
    {"2.5.4.42", u"G"},
    {"2.5.4.43", u"I"},
    {"2.5.4.4", u"SN"},
    {"0.9.2342.19200300.100.1.25", u"DC"},
    {"2.5.4.5", u"SERIALNUMBER"},
    {"2.5.4.17", u"PostalCode"},
    {"2.5.4.13", u"Description"},
    {"2.5.4.18", u"POBox"},
    {"2.5.4.20", u"Phone"},
    {"2.5.4.24", u"X21Address"},
    {"2.5.4.46", u"dnQualifier"},
}};

std::string dotted_oid(const ASN1_OBJECT* object) {
    char buffer[128];
    int n = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    if (n <= 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    OBJ_obj2txt(big.data(), static_cast<int>(big.size()), object, 1);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

std::u16string attribute_key(const ASN1_OBJECT* object) {
    std::string oid = dotted_oid(object);
    for (const Key& key : kKeys)
        if (oid == key.oid) return key.text;
    return u"OID." + ascii_to_wide(oid);
}

std::u16string latin1(const unsigned char* data, std::size_t size) {
    std::u16string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<char16_t>(data[i]));
    return out;
}

// UTF-8 as the platform's converter reads it: malformed bytes become U+FFFD.
std::u16string utf8_lenient(const unsigned char* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        return from_utf8(bytes);
    } catch (const bad_conversion&) {
        std::u16string out;
        for (unsigned char c : bytes) out.push_back(c < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD');
        return out;
    }
}

bool valid_utf8(const unsigned char* data, std::size_t size) {
    try {
        from_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
        return true;
    } catch (const bad_conversion&) {
        return false;
    }
}

// The whole DER encoding of an attribute value (tag, length and content).
Bytes value_der(const X509_NAME_ENTRY* entry) {
    unsigned char* der = nullptr;
    int len = i2d_X509_NAME_ENTRY(entry, &der);
    if (len <= 0) return {};
    Bytes out;
    const unsigned char* p = der;
    const unsigned char* end = der + len;
    long content = 0;
    int tag = 0, cls = 0;
    // AttributeTypeAndValue ::= SEQUENCE { type OID, value ANY }: skip the
    // sequence header and the type; the rest is the value.
    if (!(ASN1_get_object(&p, &content, &tag, &cls, len) & 0x80)) {
        const unsigned char* type = p;
        long type_len = 0;
        if (!(ASN1_get_object(&p, &type_len, &tag, &cls, end - type) & 0x80) && p + type_len <= end)
            out.assign(p + type_len, end);
    }
    OPENSSL_free(der);
    return out;
}

}  // namespace

std::u16string name_value_text(const X509_NAME_ENTRY* entry) {
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    if (!value) return {};
    const unsigned char* data = ASN1_STRING_get0_data(value);
    std::size_t size = static_cast<std::size_t>(ASN1_STRING_length(value));
    switch (ASN1_STRING_type(value)) {
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_VISIBLESTRING:
        return latin1(data, size);
    case V_ASN1_UTF8STRING:
        return utf8_lenient(data, size);
    case V_ASN1_T61STRING:
        return valid_utf8(data, size) ? utf8_lenient(data, size) : latin1(data, size);
    case V_ASN1_BMPSTRING: {
        std::u16string out;
        for (std::size_t i = 0; i + 1 < size; i += 2)
            out.push_back(static_cast<char16_t>((data[i] << 8) | data[i + 1]));
        return out;
    }
    case V_ASN1_UNIVERSALSTRING: {
        std::u16string out;
        for (std::size_t i = 0; i + 3 < size; i += 4) {
            std::uint32_t c = (std::uint32_t{data[i]} << 24) | (std::uint32_t{data[i + 1]} << 16) |
                              (std::uint32_t{data[i + 2]} << 8) | data[i + 3];
            if (c >= 0x10000 && c <= 0x10FFFF) {
                c -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            } else if (c < 0x10000) {
                out.push_back(static_cast<char16_t>(c));
            } else {
                out.push_back(u'\uFFFD');
            }
        }
        return out;
    }
    default: {
        Bytes der = value_der(entry);
        return u"#" + ascii_to_wide(hex_upper(der));
    }
    }
}

namespace {

bool is_string_type(const X509_NAME_ENTRY* entry) {
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
    switch (value ? ASN1_STRING_type(value) : -1) {
    case V_ASN1_PRINTABLESTRING: case V_ASN1_IA5STRING: case V_ASN1_NUMERICSTRING:
    case V_ASN1_VISIBLESTRING: case V_ASN1_UTF8STRING: case V_ASN1_T61STRING:
    case V_ASN1_BMPSTRING: case V_ASN1_UNIVERSALSTRING:
        return true;
    default:
        return false;
    }
}

bool edge_space(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

std::u16string quoted_value(const std::u16string& value) {
    if (value.empty()) return u"\"\"";
    bool quote = edge_space(value.front()) || edge_space(value.back());
    for (char16_t c : value) {
        if (c == u',' || c == u'+' || c == u'=' || c == u'"' || c == u'<' || c == u'>' || c == u'#' ||
            c == u';' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) return value;
    std::u16string out = u"\"";
    for (char16_t c : value) {
        out.push_back(c);
        if (c == u'"') out.push_back(u'"');
    }
    out.push_back(u'"');
    return out;
}

std::u16string first_attribute(const X509_NAME* name, int nid) {
    if (!name) return {};
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) return {};
    return name_value_text(X509_NAME_get_entry(name, index));
}

std::optional<std::int64_t> asn1_time_seconds(const ASN1_TIME* time) {
    if (!time) return std::nullopt;
    std::tm tm{};
    if (ASN1_TIME_to_tm(time, &tm) != 1) return std::nullopt;
    return static_cast<std::int64_t>(timegm(&tm));
}

std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::u16string name_to_x500_reverse(const X509_NAME* name) {
    if (!name) return {};
    int count = X509_NAME_entry_count(name);
    // Group the attributes by the RDN they belong to, in encoded order.
    std::vector<std::vector<const X509_NAME_ENTRY*>> rdns;
    int current_set = -1;
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        int set = X509_NAME_ENTRY_set(entry);
        if (rdns.empty() || set != current_set) rdns.emplace_back();
        current_set = set;
        rdns.back().push_back(entry);
    }
    std::u16string out;
    for (auto rdn = rdns.rbegin(); rdn != rdns.rend(); ++rdn) {
        if (!out.empty()) out += u", ";
        bool first = true;
        for (const X509_NAME_ENTRY* entry : *rdn) {
            if (!first) out += u" + ";
            first = false;
            out += attribute_key(X509_NAME_ENTRY_get_object(entry));
            out += u'=';
            std::u16string value = name_value_text(entry);
            out += is_string_type(entry) ? quoted_value(value) : value;
        }
    }
    return out;
}

std::u16string simple_display_name(X509* certificate, bool issuer) {
    if (!certificate) return {};
    const X509_NAME* name = issuer ? X509_get_issuer_name(certificate) : X509_get_subject_name(certificate);
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
        if (name && X509_NAME_get_index_by_NID(name, nid, -1) >= 0) return first_attribute(name, nid);
    }
    auto* names = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, issuer ? NID_issuer_alt_name : NID_subject_alt_name, nullptr, nullptr));
    std::u16string out;
    if (names) {
        for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
            const GENERAL_NAME* general = sk_GENERAL_NAME_value(names, i);
            if (general->type == GEN_EMAIL) {
                const ASN1_IA5STRING* mail = general->d.rfc822Name;
                out = latin1(ASN1_STRING_get0_data(mail), static_cast<std::size_t>(ASN1_STRING_length(mail)));
                break;
            }
        }
        GENERAL_NAMES_free(names);
    }
    return out;
}

std::optional<std::int64_t> not_before(X509* certificate) {
    return certificate ? asn1_time_seconds(X509_get0_notBefore(certificate)) : std::nullopt;
}

std::optional<std::int64_t> not_after(X509* certificate) {
    return certificate ? asn1_time_seconds(X509_get0_notAfter(certificate)) : std::nullopt;
}

int verify_time_validity(X509* certificate, std::int64_t unix_seconds) {
    auto from = not_before(certificate);
    auto to = not_after(certificate);
    // An unreadable bound cannot be met.
    if (!from || unix_seconds < *from) return -1;
    if (!to || unix_seconds > *to) return 1;
    return 0;
}

Bytes serial_blob(X509* certificate) {
    const ASN1_INTEGER* serial = certificate ? X509_get0_serialNumber(certificate) : nullptr;
    if (!serial) return {};
    unsigned char* der = nullptr;
    int len = i2d_ASN1_INTEGER(serial, &der);
    if (len <= 0) return {};
    const unsigned char* p = der;
    long content = 0;
    int tag = 0, cls = 0;
    Bytes blob;
    if (!(ASN1_get_object(&p, &content, &tag, &cls, len) & 0x80))
        blob.assign(std::make_reverse_iterator(p + content), std::make_reverse_iterator(p));
    OPENSSL_free(der);
    return blob;
}

Bytes sha1_thumbprint(const Bytes& der) {
    Bytes digest(20);
    unsigned int size = 0;
    if (EVP_Digest(der.data(), der.size(), digest.data(), &size, EVP_sha1(), nullptr) != 1) return {};
    digest.resize(size);
    return digest;
}

std::string thumbprint_hex(const Bytes& der) { return hex_upper(sha1_thumbprint(der)); }

Bytes certificate_der(X509* certificate) {
    unsigned char* der = nullptr;
    int len = certificate ? i2d_X509(certificate, &der) : -1;
    if (len <= 0) return {};
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

std::optional<std::int64_t> system_time_to_unix(const SystemTime& t) {
    // The platform's file time starts in 1601 and ends in year 30827.
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 || t.hour < 0 ||
        t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return std::nullopt;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    int days_in_month = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    if (t.day > days_in_month) return std::nullopt;
    std::int64_t days = days_from_civil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace sealdesk::platform
