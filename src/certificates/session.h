// The session token: one per process, 32 lower-case hexadecimal characters,
// valid for 30 minutes after "/getSession" made it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sealdesk {

// The token made in the second `seconds`: the C runtime's generator seeded
// with that second, sixteen draws, the low byte of each as "%02x". Pages of
// the same second get the same token.
std::u16string make_session_token(std::int64_t seconds);

// A new token and its expiry (30 minutes on, in local calendar time).
// Returns the token.
std::u16string new_session();

// True exactly when the session has not expired and `session_id` (UTF-8,
// as received) equals the token, unit by unit.
bool check_session(std::string_view session_id);

// Back to the start-up state: no token, expiry 0 (every check fails).
void reset_session();

// For tests of expiry: moves the expiry (seconds since 1970).
void set_session_expiry_for_test(std::int64_t expiry);

}  // namespace sealdesk
