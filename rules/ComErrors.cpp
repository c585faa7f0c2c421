#include "rules/ComErrors.h"

#include <cwchar>

#include "common/WinHandles.h"
#include "platform/win.h"

namespace tarn {

std::wstring describeError(uint32_t code) {
    const DWORD number = code < 0x80070000u ? code : code - 0x80070000u;
    wchar_t buffer[512] = {};
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, 512, nullptr);
    return std::wstring(buffer) + L"(" + std::to_wstring(number) + L")";
}

std::wstring comErrorMessage(long hresult) {
    LPWSTR buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hresult), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const UniqueLocalMemory owner(buffer);
    if (length > 0 && buffer != nullptr) {
        std::wstring text(buffer, length);
        if (!text.empty() && text.back() == L'\n') {
            text.pop_back();
            if (!text.empty() && text.back() == L'\r') {
                text.pop_back();
            }
        }
        return text;
    }
    const auto code = static_cast<unsigned long>(hresult);
    wchar_t fallback[64] = {};
    if (code >= 0x80040201ul && code <= 0x8004FFFFul) {
        std::swprintf(fallback, 64, L"IDispatch error #%d", static_cast<int>(code - 0x80040200ul));
    } else {
        std::swprintf(fallback, 64, L"Unknown error 0x%0lX", code);
    }
    return fallback;
}

}  // namespace tarn
