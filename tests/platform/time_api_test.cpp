// Clocks and calendar conversions, on the simulated machine and on Windows alike.
#include <gtest/gtest.h>

#include "platform/win.h"

namespace {

// 2023-11-14 22:13:20.000 UTC, a Tuesday.
constexpr ULONGLONG kInstant = 133444736000000000ull;

FILETIME fileTime(ULONGLONG value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

ULONGLONG value(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TEST(Time, FileTimesAndCalendarTimesConvertBothWays) {
    const FILETIME instant = fileTime(kInstant + 1234 * 10000);
    SYSTEMTIME calendar{};
    ASSERT_TRUE(FileTimeToSystemTime(&instant, &calendar));
    EXPECT_EQ(calendar.wYear, 2023);
    EXPECT_EQ(calendar.wMonth, 11);
    EXPECT_EQ(calendar.wDay, 14);
    EXPECT_EQ(calendar.wDayOfWeek, 2);
    EXPECT_EQ(calendar.wHour, 22);
    EXPECT_EQ(calendar.wMinute, 13);
    EXPECT_EQ(calendar.wSecond, 21);
    EXPECT_EQ(calendar.wMilliseconds, 234);
    FILETIME back{};
    calendar.wDayOfWeek = 6;  // ignored on the way back
    ASSERT_TRUE(SystemTimeToFileTime(&calendar, &back));
    EXPECT_EQ(value(back), value(instant));
}

struct CalendarCase {
    WORD year, month, day, hour;
    bool valid;
};

void expectValidity(const CalendarCase& c) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day << " " << c.hour);
    const SYSTEMTIME calendar{c.year, c.month, 0, c.day, c.hour, 0, 0, 0};
    FILETIME out{};
    EXPECT_EQ(SystemTimeToFileTime(&calendar, &out) != FALSE, c.valid);
}

TEST(Time, ImpossibleDatesAreRefused) {
    for (const CalendarCase& c : {CalendarCase{2023, 4, 31, 0, false},
                                  {2023, 13, 1, 0, false},
                                  {2023, 1, 0, 0, false},
                                  {2023, 1, 1, 24, false},
                                  {1601, 1, 1, 0, true},
                                  {1600, 12, 31, 0, false}}) {
        expectValidity(c);
    }
    const FILETIME tooLate = fileTime(0x8000000000000000ull);
    SYSTEMTIME calendar{};
    EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &calendar));
}

TEST(Time, The29thOfFebruaryIsOnlyInLeapYears) {
    for (const CalendarCase& c : {CalendarCase{2024, 2, 29, 0, true},
                                  {2000, 2, 29, 23, true},
                                  {2023, 2, 29, 0, false},
                                  {1900, 2, 29, 0, false}}) {
        expectValidity(c);
    }
}

TEST(Time, ClocksMoveForwardTogether) {
    FILETIME before{};
    GetSystemTimeAsFileTime(&before);
    const ULONGLONG tick = GetTickCount64();
    LARGE_INTEGER frequency{};
    LARGE_INTEGER first{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_TRUE(QueryPerformanceCounter(&first));
    EXPECT_GT(frequency.QuadPart, 0);
    Sleep(20);
    LARGE_INTEGER second{};
    ASSERT_TRUE(QueryPerformanceCounter(&second));
    FILETIME after{};
    GetSystemTimeAsFileTime(&after);
    EXPECT_GT(second.QuadPart, first.QuadPart);
    EXPECT_GE(GetTickCount64(), tick);
    EXPECT_GE(value(after), value(before));
    SYSTEMTIME now{};
    GetSystemTime(&now);
    FILETIME nowFile{};
    ASSERT_TRUE(SystemTimeToFileTime(&now, &nowFile));
    const ULONGLONG apart = value(nowFile) > value(after) ? value(nowFile) - value(after)
                                                          : value(after) - value(nowFile);
    EXPECT_LT(apart, 10000000ull) << "GetSystemTime is a second away";
}

}  // namespace
