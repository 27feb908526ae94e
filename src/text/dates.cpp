// Certificate date text in local time.
#include "text/text.h"

#include <cstdio>
#include <limits>

namespace sealdesk {

std::u16string cert_date_text(std::int64_t unix_seconds, DateForm form) {
    if (unix_seconds < std::numeric_limits<std::time_t>::min() ||
        unix_seconds > std::numeric_limits<std::time_t>::max())
        return {};
    const std::time_t t = static_cast<std::time_t>(unix_seconds);
    std::tm local{};
    // The system's current time-zone rules (TZ), daylight saving included.
    if (localtime_r(&t, &local) == nullptr) return {};  // year does not fit
    const int month = local.tm_mon + 1;
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    char buf[64];
    const int n = form == DateForm::TwoSpaces
        ? std::snprintf(buf, sizeof buf, "%02d/%02d/%lld  %02d:%02d", month, local.tm_mday,
                        year, local.tm_hour, local.tm_min)
        : std::snprintf(buf, sizeof buf, "%02d/%02d/%lld %02d:%02d", month, local.tm_mday,
                        year, local.tm_hour, local.tm_min);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
    return ascii_to_wide(std::string_view(buf, static_cast<std::size_t>(n)));
}

}  // namespace sealdesk
