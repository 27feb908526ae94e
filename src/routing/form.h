// Form fields of a request body, exactly as received (no percent-decoding
// unless the decoding switch is on). Absent names read as the empty text.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace sealdesk {

class FormMap {
public:
    // Parses an application/x-www-form-urlencoded body. The body is read as a
    // NUL-terminated text; any byte 0x01..0x1F empties the whole map.
    static FormMap parse(std::string_view body);

    const std::string& text(const std::string& name) const;
    // The C runtime's atoi: leading white space, one sign, digits up to the
    // first non-digit; no digits give 0; out-of-range values saturate.
    int integer(const std::string& name) const;
    bool contains(const std::string& name) const { return fields_.count(name) != 0; }
    std::size_t size() const { return fields_.size(); }

    // "+" to space and "%XY" to the byte, for names and values alike.
    void percent_decode();

    std::map<std::string, std::string>& fields() { return fields_; }

private:
    std::map<std::string, std::string> fields_;
};

int c_atoi(std::string_view text);

}  // namespace sealdesk
