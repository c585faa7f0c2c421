#include <string>

#include "common/WinHandles.h"
#include "common/exceptions/ErrorCodeException.h"
#include "platform/win.h"

namespace tarn {

namespace {

// The system's text as FormatMessageW words it, trailing line break included.
std::wstring systemText(DWORD code) {
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), reinterpret_cast<LPWSTR>(&buffer),
        0, nullptr);
    const UniqueLocalMemory owner(buffer);
    return length == 0 || buffer == nullptr ? std::wstring() : std::wstring(buffer, length);
}

}  // namespace

std::wstring Win32ErrorCategory::message(unsigned long code) {
    return systemText(static_cast<DWORD>(code));
}

std::wstring net::SocketErrorCategory::message(int code) {
    return systemText(static_cast<DWORD>(code));
}

}  // namespace tarn
