// UTF-8 <-> UCS-2 conversion, the response text and code points to UTF-8.
#include "text/text.h"

#include <cstdio>

namespace sealdesk {

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (char16_t unit : text) {
        const std::uint32_t u = unit;
        if (u <= 0x7F) {
            out.push_back(static_cast<char>(u));
        } else if (u <= 0x7FF) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {  // any other unit, surrogates included, on its own
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

std::u16string from_utf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead <= 0x7F) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        std::size_t more;
        std::uint32_t value;
        if (lead <= 0xBF) {
            throw bad_conversion();  // continuation byte where a lead is expected
        } else if (lead <= 0xDF) {
            more = 1;
            value = lead & 0x1F;
        } else if (lead <= 0xEF) {
            more = 2;
            value = lead & 0x0F;
        } else if (lead <= 0xF7) {
            more = 3;
            value = lead & 0x07;
        } else if (lead <= 0xFB) {
            more = 4;
            value = lead & 0x03;
        } else {
            // FC..FF: five continuation bytes. FE and FF keep two payload
            // bits, so their value is at least 0x80000000 and is rejected.
            more = 5;
            value = lead & 0x03;
        }
        if (n - i - 1 < more) throw bad_conversion();  // cut off at the end
        for (std::size_t k = 1; k <= more; ++k) {
            const std::uint8_t c = static_cast<std::uint8_t>(bytes[i + k]);
            if (c < 0x80 || c > 0xBF) throw bad_conversion();
            value = (value << 6) | (c & 0x3F);
        }
        if (value > 0x10FFFF) throw bad_conversion();
        if (value <= 0xFFFF) {
            // Surrogate values (ED A0 80 .. ED BF BF) come back as the one
            // unit, so from_utf8(to_utf8(t)) == t for every wide text t.
            out.push_back(static_cast<char16_t>(value));
        } else {
            // Outside the supported range: stored as a UTF-16 surrogate pair.
            value -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 | (value >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 | (value & 0x3FF)));
        }
        i += 1 + more;
    }
    return out;
}

std::string utf8_response(std::u16string_view text) {
    std::string out("\xEF\xBB\xBF");
    out += to_utf8(text);
    return out;
}

std::string uint_to_utf8(std::uint32_t c) {
    std::string out;
    int continuation;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
        return out;
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        continuation = 1;
    } else if (c <= 0xFFFF) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        continuation = 2;
    } else if (c <= 0x1FFFFF) {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        continuation = 3;
    } else if (c <= 0x3FFFFFF) {
        out.push_back(static_cast<char>(0xF8 | (c >> 24)));
        continuation = 4;
    } else if (c <= 0x7FFFFFFF) {
        out.push_back(static_cast<char>(0xFC | (c >> 30)));
        continuation = 5;
    } else {
        std::fputs("[uint_to_utf8] WARNING: Character not representable by UTF-8.\n", stderr);
        return out;
    }
    for (int k = continuation - 1; k >= 0; --k)
        out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
    return out;
}

std::string code_points_to_utf8(const std::vector<std::uint32_t>& code_points) {
    std::string out;
    for (std::uint32_t c : code_points) out += uint_to_utf8(c);
    return out;
}

}  // namespace sealdesk
