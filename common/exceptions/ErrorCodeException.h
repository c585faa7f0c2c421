// An exception that carries a system error code; its category names the kind of code and gives
// the system's text for it.
#pragma once

#include <string>

#include "common/exceptions/BaseException.h"

namespace tarn {

template <class Category, class Code = typename Category::CodeType>
class ErrorCodeException : public BaseException {
public:
    // Without a reason (null or empty) the category's text for the code is the reason.
    ErrorCodeException(Code code, ExceptionText reason, ExceptionText function, ExceptionText file,
                       int32_t line)
        : BaseException(reason.empty() ? ExceptionText(Category::message(code)) : std::move(reason),
                        std::move(function), std::move(file), line),
          m_code(code) {}

    Code code() const { return m_code; }

    void describe(std::wostream& out) const override {
        out << L"Type: " << Category::name() << L", Reason: " << reason();
        describeOrigin(out);
        out << L", Error Code : " << m_code;
    }

private:
    Code m_code;
};

// Win32 error codes (GetLastError and the registry's results).
struct Win32ErrorCategory {
    using CodeType = unsigned long;
    static const wchar_t* name() { return L"Win32Exception"; }
    // The system's text for the code, as FormatMessageW gives it; empty when there is none.
    static std::wstring message(unsigned long code);
};

namespace net {

// Winsock error codes (WSAGetLastError).
struct SocketErrorCategory {
    using CodeType = int;
    static const wchar_t* name() { return L"SocketException"; }
    static std::wstring message(int code);
};

}  // namespace net

using Win32Exception = ErrorCodeException<Win32ErrorCategory, unsigned long>;
using SocketException = ErrorCodeException<net::SocketErrorCategory, int>;

}  // namespace tarn
