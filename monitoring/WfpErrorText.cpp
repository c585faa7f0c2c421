#include "monitoring/WfpErrorText.h"

#include <string>

std::wstring wfpErrorText(DWORD code) {
    constexpr DWORD kWin32Facility = 0x80070000;
    const DWORD number = (code & 0xFFFF0000) == kWin32Facility ? code & 0xFFFF : code;
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, number,
                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 512, nullptr);
    return std::wstring(text) + L"(" + std::to_wstring(number) + L")";
}
