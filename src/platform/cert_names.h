// Certificate texts and checks exactly as the Windows certificate functions
// give them (name strings, simple display names, validity, thumbprint, serial
// blob), computed over OpenSSL's X509. Pages compare these texts byte for
// byte, so every rule here mirrors the platform's output, not OpenSSL's.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <string>

#include "text/text.h"

namespace sealdesk::platform {

// X.500 form, relative distinguished names in reverse encoded order joined by
// ", ", the attributes of one multi-valued RDN in encoded order joined by
// " + ", keys such as CN/O/OU or "OID." + dotted OID, values quoted where the
// platform quotes them. An absent or empty name gives an empty text.
std::u16string name_to_x500_reverse(const X509_NAME* name);

// The simple display name of the subject (or of the issuer): the first CN,
// else OU, else O, else E, else the first rfc822Name of the subject (issuer)
// alternative name, else empty.
std::u16string simple_display_name(X509* certificate, bool issuer);

// The value of one name attribute decoded as the platform decodes it.
std::u16string name_value_text(const X509_NAME_ENTRY* entry);

// -1 before notBefore, +1 after notAfter, 0 within (bounds inclusive).
int verify_time_validity(X509* certificate, std::int64_t unix_seconds);

// notBefore / notAfter as seconds since 1970 (UTC); nullopt when unreadable.
std::optional<std::int64_t> not_before(X509* certificate);
std::optional<std::int64_t> not_after(X509* certificate);

// The serial number as the platform stores it: the content bytes of the DER
// INTEGER, least significant first (a leading 00 of the DER is kept, last).
Bytes serial_blob(X509* certificate);

// SHA-1 of the DER encoding.
Bytes sha1_thumbprint(const Bytes& der);
// The same as 40 upper-case hexadecimal digits.
std::string thumbprint_hex(const Bytes& der);

// DER encoding of a certificate; empty on failure.
Bytes certificate_der(X509* certificate);

// A calendar time of the platform (year .. second, as stored by a page) that
// the platform would turn into a file time, as seconds since 1970 (UTC);
// nullopt when any field is out of the platform's range.
struct SystemTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
std::optional<std::int64_t> system_time_to_unix(const SystemTime& time);

}  // namespace sealdesk::platform
