#include "certificates/session.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "text/text.h"

namespace sealdesk {
namespace {

std::mutex g_lock;
std::u16string g_token;
std::int64_t g_expiry = 0;

}  // namespace

std::u16string make_session_token(std::int64_t seconds) {
    // The same sequence as srand(seconds) and rand(), on a private state so
    // that no other thread's draws interleave.
    char state[128] = {};
    random_data data{};
    initstate_r(static_cast<unsigned>(seconds), state, sizeof state, &data);
    std::u16string token;
    for (int i = 0; i < 16; ++i) {
        std::int32_t value = 0;
        random_r(&data, &value);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(value) & 0xFFu);
        token += ascii_to_wide(hex);
    }
    return token;
}

std::u16string new_session() {
    std::time_t now = std::time(nullptr);
    std::u16string token = make_session_token(static_cast<std::int64_t>(now));
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_min += 30;
    std::int64_t expiry = static_cast<std::int64_t>(std::mktime(&local));
    std::lock_guard guard(g_lock);
    g_token = token;
    g_expiry = expiry;
    return token;
}

bool check_session(std::string_view session_id) {
    std::u16string token;
    std::int64_t expiry;
    {
        std::lock_guard guard(g_lock);
        token = g_token;
        expiry = g_expiry;
    }
    if (expiry - static_cast<std::int64_t>(std::time(nullptr)) < 0) return false;
    std::u16string wide;
    try {
        wide = from_utf8(session_id);
    } catch (const bad_conversion&) {
        return false;
    }
    return !wide.empty() && wide == token;
}

void reset_session() {
    std::lock_guard guard(g_lock);
    g_token.clear();
    g_expiry = 0;
}

void set_session_expiry_for_test(std::int64_t expiry) {
    std::lock_guard guard(g_lock);
    g_expiry = expiry;
}

}  // namespace sealdesk
