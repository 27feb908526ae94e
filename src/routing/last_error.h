// The process-wide last-error text: the latest result code (six digits) or, for
// a few operations, a result text. Pages read it with "/getLastErr" after an
// operation answered with an empty body. Every read and write is a whole copy
// under one lock, so a reader sees the old or the new text, never a mixture.
#pragma once

#include <string>
#include <string_view>

namespace sealdesk {

// Empties the text; done at every service start.
void last_error_reset();
// Empties the text, then writes `text`.
void last_error_set(std::u16string_view text);
std::u16string last_error_get();

// The result convention of a failing operation: writes the six-digit code and
// returns it as a number, e.g. `return fail_with(result, u"100103");`.
// `result` (the response body) is emptied.
int fail_with(std::string& result, std::u16string_view code);

}  // namespace sealdesk
