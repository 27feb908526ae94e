// Text and encoding helpers shared by every operation.
//
// Wide text is UTF-16 held unit by unit (std::u16string, treated as UCS-2:
// surrogates are never paired). Narrow text is bytes (std::string), UTF-8
// where it carries text. All helpers are reentrant.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sealdesk {

using Bytes = std::vector<std::uint8_t>;

// Raised by from_utf8 on malformed input; what() is "bad conversion".
struct bad_conversion : std::range_error {
    bad_conversion() : std::range_error("bad conversion") {}
};

// Raised by base64_decode on input that is not base64.
struct bad_base64 : std::invalid_argument {
    bad_base64() : std::invalid_argument("bad base64") {}
};

// Each unit on its own: 1, 2 or 3 bytes (surrogates too, as three bytes).
std::string to_utf8(std::u16string_view text);

// Lead bytes C0..FF take 1..5 continuation bytes; overlong forms pass,
// values above 0x10FFFF and broken sequences throw bad_conversion (no partial
// result). Values U+10000..U+10FFFF (outside the supported range) become a
// UTF-16 surrogate pair; three-byte surrogate values (ED A0 80..ED BF BF)
// become that one unit, so from_utf8(to_utf8(t)) == t for every wide text.
// Lead bytes FE and FF always fail (their value is above 0x10FFFF).
std::u16string from_utf8(std::string_view bytes);

// EF BB BF followed by to_utf8(text); the mark alone for an empty text.
std::string utf8_response(std::u16string_view text);

// Folds precomposed Vietnamese letters to plain Latin ones, in place.
void fold_accents(std::u16string& text);

// 0 to 6 bytes; values from 0x80000000 give none and a warning on stderr.
std::string uint_to_utf8(std::uint32_t code_point);
std::string code_points_to_utf8(const std::vector<std::uint32_t>& code_points);

// RFC 4648 alphabet with padding, no line breaks.
std::string base64_encode(const void* data, std::size_t size);
std::string base64_encode(std::string_view bytes);
std::string base64_encode(const Bytes& bytes);
// The same characters broken into lines of 64 with "\n" between them: no
// leading or trailing line break, so 64 characters or fewer stay one line.
std::string base64_encode_wrapped(const void* data, std::size_t size);
std::string base64_encode_wrapped(const Bytes& bytes);
// Skips white space (space, tab, CR, LF, VT, FF) anywhere. Throws bad_base64
// on any other character outside the alphabet, a group of four left incomplete
// (padding is required), "=" other than in the third/fourth place of the last
// group, or data after a padded group. Unused low bits of the last character
// are not checked. An empty (or all-white-space) text gives no bytes.
Bytes base64_decode(std::string_view text);

std::string hex_upper(const void* data, std::size_t size);
std::string hex_upper(const Bytes& bytes);
// One byte per two characters, either case; an odd last character is
// ignored. A pair that is not two hex digits gives what its leading digits
// give: "1G" -> 0x01, "G1" or "GG" -> 0x00. Reads nothing beyond the input.
Bytes hex_decode(std::string_view text);

// Lower-case hex, most significant byte first, of a least-significant-first
// integer blob (the platform's serial number form). Leading zeros are kept.
std::string serial_hex(const Bytes& blob_lsb_first);

// Certificate time (seconds since 1970, UTC) as local "MM/DD/YYYY  HH:MM"
// (two spaces) or "MM/DD/YYYY HH:MM" (one space), by the system's time-zone
// rules (TZ, localtime_r). A time whose local year does not fit gives "".
enum class DateForm { TwoSpaces, OneSpace };
std::u16string cert_date_text(std::int64_t unix_seconds, DateForm form);

// Convenience for code that builds wide texts from ASCII literals.
std::u16string ascii_to_wide(std::string_view ascii);

}  // namespace sealdesk
