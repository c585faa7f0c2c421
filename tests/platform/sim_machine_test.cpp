// The simulated machine's own contract: counting, failure injection, clock, events, files.
// (What Windows does alike is in the API tests, *_api_test.cpp.)
#include <gtest/gtest.h>

#include <thread>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "sim/machine.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::UniqueHandle;

TEST(SimMachine, CountsCallsAndInjectsTheNthFailure) {
    UniqueHandle first(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(first);
    EXPECT_EQ(sim::callCount("CreateEventW"), 1u);

    sim::failCall("CreateEventW", 2, ERROR_NOT_ENOUGH_MEMORY);
    UniqueHandle second(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(second);
    UniqueHandle third(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(third);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    UniqueHandle fourth(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(fourth);
    EXPECT_EQ(sim::callCount("CreateEventW"), 4u);
}

TEST(SimMachine, FailAlwaysLastsUntilCleared) {
    sim::failAlways("SetEvent", ERROR_ACCESS_DENIED);
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(SetEvent(event.get()));
    EXPECT_FALSE(SetEvent(event.get()));
    sim::clearFaults();
    EXPECT_TRUE(SetEvent(event.get()));
}

TEST(SimMachine, WaitForMultipleObjectsReportsTheFirstSignalledIndex) {
    UniqueHandle a(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle b(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread setter([&] { SetEvent(b.get()); });
    const HANDLE handles[] = {a.get(), b.get()};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 5000),
              static_cast<DWORD>(WAIT_OBJECT_0 + 1));
    setter.join();
}

TEST(SimMachine, FixedClockMovesOnlyWhenAdvanced) {
    sim::setTime(sim::Clock::from_time_t(1700000000));
    const ULONGLONG tick = GetTickCount64();
    SYSTEMTIME before{};
    GetSystemTime(&before);
    sim::advanceTime(std::chrono::milliseconds(1500));
    SYSTEMTIME after{};
    GetSystemTime(&after);
    EXPECT_EQ(GetTickCount64(), tick + 1500);
    EXPECT_EQ(before.wYear, 2023);
    EXPECT_EQ(before.wMonth, 11);
    EXPECT_EQ(before.wDay, 14);
    EXPECT_EQ(before.wHour, 22);
    EXPECT_EQ(before.wMinute, 13);
    EXPECT_EQ(after.wSecond, before.wSecond + 1);
    EXPECT_EQ(after.wMilliseconds, 500);
}

TEST(SimMachine, LocalTimeFollowsTheTimeZone) {
    sim::setTime(sim::Clock::from_time_t(1700000000));  // 22:13:20 UTC
    sim::setTimeZone({.bias = -330});                   // UTC+05:30
    SYSTEMTIME local{};
    GetLocalTime(&local);
    EXPECT_EQ(local.wHour, 3);
    EXPECT_EQ(local.wMinute, 43);
    EXPECT_EQ(local.wDay, 15);
}

TEST(SimMachine, FilesReportWindowsErrors) {
    tarn::test::TempDir dir;
    const std::wstring path = dir.file(L"a.txt");
    UniqueHandle missing(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    UniqueHandle created(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(created);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(created.get(), "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    created.reset();

    UniqueHandle again(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_FALSE(again);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(tarn::test::readFile(path), "hello");

    EXPECT_FALSE(MoveFileW(path.c_str(), path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryW(dir.file(L"x\\y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
