// The C runtime's text functions that the system relies on, as Windows' runtime has them: the
// same table runs against the simulation and, under wine, against the real runtime.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/win.h"

namespace {

TEST(StringsApi, WtoiReadsALeadingNumberAndClampsOnOverflow) {
    // 64-bit overflow is left out: msvcrt.dll, which mingw links, wraps where the UCRT clamps.
    struct Case {
        const wchar_t* text;
        int value;
        long long value64;
    };
    const Case cases[] = {
        {L"17", 17, 17},
        {L"  \t-42abc", -42, -42},
        {L"+8", 8, 8},
        {L"any", 0, 0},
        {L"", 0, 0},
        {L"2147483647", INT_MAX, 2147483647LL},
        {L"2147483648", INT_MAX, 2147483648LL},
        {L"-2147483648", INT_MIN, -2147483648LL},
        {L"-2147483649", INT_MIN, -2147483649LL},
        {L"9223372036854775807", INT_MAX, LLONG_MAX},
        {L"-9223372036854775808", INT_MIN, LLONG_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(_wtoi(c.text), c.value);
        EXPECT_EQ(_wtoi64(c.text), c.value64);
    }
}

}  // namespace

namespace {

std::wstring wide(const std::string& utf8, DWORD flags = 0) {
    const int length =
        MultiByteToWideChar(CP_UTF8, flags, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length == 0) {
        return L"error " + std::to_wstring(GetLastError());
    }
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, flags, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                        length);
    return out;
}

std::string narrow(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

TEST(StringsApi, Utf8ConvertsBothWaysAndInvalidBytesAreFlagged) {
    EXPECT_EQ(wide("caf\xC3\xA9 \xE2\x82\xAC"), L"caf\u00E9 \u20AC");
    EXPECT_EQ(narrow(L"caf\u00E9 \u20AC"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(wide("a\xC3"), L"a\uFFFD") << "an invalid byte becomes U+FFFD";
    EXPECT_EQ(wide("a\xC3", MB_ERR_INVALID_CHARS),
              L"error " + std::to_wstring(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(wide("\xED\xA0\x80", MB_ERR_INVALID_CHARS),
              L"error " + std::to_wstring(ERROR_NO_UNICODE_TRANSLATION))
        << "an encoded surrogate is no character";
    wchar_t small[2];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, small, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(StringsApi, CharactersBeyondTheBasicPlaneTakeTwoUtf16Units) {
    if (sizeof(wchar_t) != 2) {
        GTEST_SKIP() << "wchar_t holds a whole code point here (platform/sim/README.md)";
    }
    EXPECT_EQ(wide("\xF0\x9F\x98\x80").size(), 2u);
    EXPECT_EQ(narrow(wide("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");
}

}  // namespace
