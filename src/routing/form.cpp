#include "routing/form.h"

#include <climits>

namespace sealdesk {

namespace {
const std::string kEmpty;

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string decode(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '+') {
            out += ' ';
        } else if (in[i] == '%' && i + 2 < in.size() &&
                   hex_value(in[i + 1]) >= 0 && hex_value(in[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(in[i + 1]) * 16 + hex_value(in[i + 2]));
            i += 2;
        } else {
            out += in[i];
        }
    }
    return out;
}
}  // namespace

FormMap FormMap::parse(std::string_view body) {
    FormMap map;
    // The body is a C string to the parser: a NUL byte ends it.
    if (auto nul = body.find('\0'); nul != std::string_view::npos) body = body.substr(0, nul);
    if (body.empty()) return map;

    std::size_t token_start = 0;
    std::size_t value_start = 0;
    bool name_pending = false;
    std::string name;
    for (std::size_t i = 0; i <= body.size(); ++i) {
        const bool at_end = i == body.size();
        const unsigned char c = at_end ? 0 : static_cast<unsigned char>(body[i]);
        if (!at_end && c >= 0x01 && c <= 0x1F) {
            // A control byte (line feed, tab, ...) voids the whole form.
            map.fields_.clear();
            return map;
        }
        if (!at_end && c == '=' && !name_pending) {
            name.assign(body.substr(token_start, i - token_start));
            name_pending = true;
            value_start = i + 1;
        } else if (at_end || c == '&') {
            if (name_pending)
                map.fields_[name] = std::string(body.substr(value_start, i - value_start));
            else
                map.fields_[std::string(body.substr(token_start, i - token_start))] = std::string();
            name_pending = false;
            token_start = i + 1;
        }
    }
    return map;
}

const std::string& FormMap::text(const std::string& name) const {
    auto it = fields_.find(name);
    return it == fields_.end() ? kEmpty : it->second;
}

int FormMap::integer(const std::string& name) const { return c_atoi(text(name)); }

void FormMap::percent_decode() {
    std::map<std::string, std::string> decoded;
    for (const auto& [name, value] : fields_) decoded[decode(name)] = decode(value);
    fields_.swap(decoded);
}

int c_atoi(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace sealdesk
