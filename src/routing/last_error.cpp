#include "routing/last_error.h"

#include <mutex>

namespace sealdesk {
namespace {
std::mutex g_lock;
std::u16string g_text;
}  // namespace

void last_error_reset() {
    std::lock_guard lock(g_lock);
    g_text.clear();
}

void last_error_set(std::u16string_view text) {
    std::u16string copy(text);
    std::lock_guard lock(g_lock);
    g_text.swap(copy);
}

std::u16string last_error_get() {
    std::lock_guard lock(g_lock);
    return g_text;
}

int fail_with(std::string& result, std::u16string_view code) {
    result.clear();
    last_error_set(code);
    int number = 0;
    for (char16_t c : code) {
        if (c < u'0' || c > u'9') return -1;
        number = number * 10 + (c - u'0');
    }
    return number;
}

}  // namespace sealdesk
