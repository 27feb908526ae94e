// The toolkit's failure family. Every toolkit entry yields a status; a
// non-zero status is raised as one of these exceptions. Each derives directly
// from std::exception, so code that handles "a toolkit error" uses
// is_toolkit_exception() or catches the types one by one.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace SignCore {

enum Status : int {
    kOk = 0,
    kRuntimeError = 1,
    kLibraryError = 2,
    kInsufficientBuffer = 3,
    kInvalidBufferSize = 4,
    kInvalidParameter = 5,
};

class SBException : public std::exception {
public:
    // status 1 (runtime) or 2 (library)
    SBException(int status, std::string error_type, std::string message, std::uint32_t code,
                std::uint32_t suppl_code = 0, std::string stack_trace = {});
    const char* what() const noexcept override { return what_.c_str(); }

    const std::string& error_type() const { return error_type_; }
    const std::string& message() const { return message_; }
    std::uint32_t code() const { return code_; }
    std::uint32_t suppl_code() const { return suppl_code_; }
    const std::string& stack_trace() const { return stack_trace_; }
    // error type, "(Message: '...', ErrorCode: 0x........[, SupplErrorCode: 0x........])"
    std::string detail() const;

private:
    std::string error_type_, message_;
    std::uint32_t code_, suppl_code_;
    std::string stack_trace_;
    std::string what_;
};

class SBInsufficientBufferSizeException : public std::exception {
public:
    const char* what() const noexcept override { return "Insufficient Buffer Size"; }
};
class SBInvalidBufferSizeException : public std::exception {
public:
    const char* what() const noexcept override { return "Invalid Buffer Size"; }
};
class SBInvalidParameterException : public std::exception {
public:
    const char* what() const noexcept override { return "Insufficient Parameter"; }
};
class SBInternalException : public std::exception {
public:
    const char* what() const noexcept override { return "Internal error"; }
};

// Raises the exception that belongs to a non-zero status; 0 returns.
void check_status(int status, const std::string& error_type = "ESignCoreError",
                  const std::string& message = {}, std::uint32_t code = 0, std::uint32_t suppl_code = 0);

// Raises a runtime-kind SBException (status 1) for a failure of our own layer,
// with OpenSSL's pending error queue as the message when `message` is empty.
[[noreturn]] void raise_error(const std::string& error_type, const std::string& message, std::uint32_t code = 0);

bool is_toolkit_exception(const std::exception& e);

// Grow-and-retry fetch: `fetch(buffer, size)` fills `buffer` of capacity
// `size` and returns a status; status 3 means "too short", with the size
// needed written back into `size`. The buffer grows and the fetch runs again;
// any other non-zero status is raised; the result is cut to the size returned.
template <class Buffer, class Fetch>
Buffer fetch_grow(Fetch fetch) {
    Buffer buffer(64, typename Buffer::value_type{});
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::size_t size = buffer.size();
        const int status = fetch(buffer.data(), size);
        if (status == kInsufficientBuffer) {
            if (size <= buffer.size()) size = buffer.size() * 2;
            buffer.assign(size, typename Buffer::value_type{});
            continue;
        }
        check_status(status);
        buffer.resize(size);
        return buffer;
    }
    throw SBInsufficientBufferSizeException();
}

}  // namespace SignCore
