#include "toolkit/sb_exception.h"

#include <openssl/err.h>

#include <cstdio>

namespace SignCore {

SBException::SBException(int status, std::string error_type, std::string message, std::uint32_t code,
                         std::uint32_t suppl_code, std::string stack_trace)
    : error_type_(std::move(error_type)),
      message_(std::move(message)),
      code_(code),
      suppl_code_(suppl_code),
      stack_trace_(std::move(stack_trace)) {
    what_ = (status == kLibraryError ? "SignCore library exception: " : "SignCore runtime exception: ") + detail();
}

std::string SBException::detail() const {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", code_);
    std::string text = error_type_ + "(Message: '" + message_ + "', ErrorCode: 0x" + hex;
    if (suppl_code_ != 0) {
        std::snprintf(hex, sizeof hex, "%08x", suppl_code_);
        text += ", SupplErrorCode: 0x";
        text += hex;
    }
    return text + ")";
}

void check_status(int status, const std::string& error_type, const std::string& message, std::uint32_t code,
                  std::uint32_t suppl_code) {
    switch (status) {
        case kOk: return;
        case kRuntimeError:
        case kLibraryError: throw SBException(status, error_type, message, code, suppl_code);
        case kInsufficientBuffer: throw SBInsufficientBufferSizeException();
        case kInvalidBufferSize: throw SBInvalidBufferSizeException();
        case kInvalidParameter: throw SBInvalidParameterException();
        default: throw SBInternalException();
    }
}

void raise_error(const std::string& error_type, const std::string& message, std::uint32_t code) {
    std::string text = message;
    unsigned long err = 0;
    while ((err = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(err, buf, sizeof buf);
        if (!text.empty()) text += "; ";
        text += buf;
        if (code == 0) code = static_cast<std::uint32_t>(err);
    }
    throw SBException(kRuntimeError, error_type, text, code);
}

bool is_toolkit_exception(const std::exception& e) {
    return dynamic_cast<const SBException*>(&e) || dynamic_cast<const SBInsufficientBufferSizeException*>(&e) ||
           dynamic_cast<const SBInvalidBufferSizeException*>(&e) ||
           dynamic_cast<const SBInvalidParameterException*>(&e) || dynamic_cast<const SBInternalException*>(&e);
}

}  // namespace SignCore
