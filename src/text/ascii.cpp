#include "text/text.h"

namespace sealdesk {

std::u16string ascii_to_wide(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace sealdesk
