// Hexadecimal texts and certificate serial numbers.
#include "text/text.h"

namespace sealdesk {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string hex_upper(const void* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[p[i] >> 4]);
        out.push_back(kDigits[p[i] & 0x0F]);
    }
    return out;
}

std::string hex_upper(const Bytes& bytes) {
    return hex_upper(bytes.data(), bytes.size());
}

Bytes hex_decode(std::string_view text) {
    Bytes out(text.size() / 2, 0);
    for (std::size_t k = 0; k < out.size(); ++k) {
        const int hi = hex_digit(text[2 * k]);
        const int lo = hex_digit(text[2 * k + 1]);
        if (hi < 0) continue;                                   // "G1", "GG": 0
        out[k] = static_cast<std::uint8_t>(lo < 0 ? hi : hi * 16 + lo);  // "1G": 0x01
    }
    return out;
}

std::string serial_hex(const Bytes& blob_lsb_first) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(blob_lsb_first.size() * 2);
    for (auto it = blob_lsb_first.rbegin(); it != blob_lsb_first.rend(); ++it) {
        out.push_back(kDigits[*it >> 4]);
        out.push_back(kDigits[*it & 0x0F]);
    }
    return out;
}

}  // namespace sealdesk
