// The C runtime's text functions that the system relies on, as Windows' runtime has them: the
// same table runs against the simulation and, under wine, against the real runtime.
#include <gtest/gtest.h>

#include <climits>

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
