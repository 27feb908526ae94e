// Base64 with the RFC 4648 alphabet and "=" padding.
#include "text/text.h"

namespace sealdesk {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::size_t kWrapColumns = 64;

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string base64_encode(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        // A group of up to three bytes, most significant first, zero-filled.
        const std::size_t take = size - i < 3 ? size - i : 3;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) v = (v << 8) | (k < take ? p[i + k] : 0u);
        // n bytes give n + 1 characters; "=" fills the group up to four.
        for (std::size_t k = 0; k < 4; ++k)
            out.push_back(k <= take ? kAlphabet[(v >> (18 - 6 * k)) & 0x3F] : '=');
    }
    return out;
}

std::string base64_encode(std::string_view bytes) {
    return base64_encode(bytes.data(), bytes.size());
}

std::string base64_encode(const Bytes& bytes) {
    return base64_encode(bytes.data(), bytes.size());
}

std::string base64_encode_wrapped(const void* data, std::size_t size) {
    const std::string flat = base64_encode(data, size);
    if (flat.size() <= kWrapColumns) return flat;
    std::string out;
    out.reserve(flat.size() + flat.size() / kWrapColumns);
    for (std::size_t pos = 0; pos < flat.size(); pos += kWrapColumns) {
        if (pos != 0) out.push_back('\n');
        out.append(flat, pos, kWrapColumns);
    }
    return out;
}

std::string base64_encode_wrapped(const Bytes& bytes) {
    return base64_encode_wrapped(bytes.data(), bytes.size());
}

Bytes base64_decode(std::string_view text) {
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t quad[4];
    int filled = 0;   // characters of the current group of four
    int padding = 0;  // "=" characters seen in the current group
    bool finished = false;  // a padded group ended the data
    for (char c : text) {
        if (is_space(c)) continue;
        if (finished) throw bad_base64();  // nothing may follow the padding
        if (c == '=') {
            // Padding only in the third or fourth place of a group.
            if (filled < 2) throw bad_base64();
            ++padding;
            quad[filled++] = 0;
        } else {
            const int v = sextet(c);
            if (v < 0 || padding != 0) throw bad_base64();
            quad[filled++] = static_cast<std::uint32_t>(v);
        }
        if (filled == 4) {
            const std::uint32_t v = (quad[0] << 18) | (quad[1] << 12) | (quad[2] << 6) | quad[3];
            out.push_back(static_cast<std::uint8_t>(v >> 16));
            if (padding < 2) out.push_back(static_cast<std::uint8_t>(v >> 8));
            if (padding < 1) out.push_back(static_cast<std::uint8_t>(v));
            finished = padding != 0;
            filled = 0;
            padding = 0;
        }
    }
    if (filled != 0) throw bad_base64();  // incomplete last group
    return out;
}

}  // namespace sealdesk
