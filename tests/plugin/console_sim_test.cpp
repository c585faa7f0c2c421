// Console control handlers of the simulated machine.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/win.h"
#include "sim/console_control.h"
#include "sim/machine.h"

namespace {

std::vector<int> g_calls;
BOOL g_firstAnswer = TRUE;

BOOL WINAPI first(DWORD type) {
    g_calls.push_back(10 + static_cast<int>(type));
    return g_firstAnswer;
}

BOOL WINAPI second(DWORD type) {
    g_calls.push_back(20 + static_cast<int>(type));
    return TRUE;
}

TEST(ConsoleControl, TheLastHandlerAddedIsAskedFirstUntilOneHandlesTheEvent) {
    g_calls.clear();
    ASSERT_TRUE(SetConsoleCtrlHandler(first, TRUE));
    ASSERT_TRUE(SetConsoleCtrlHandler(second, TRUE));
    sim::console::raise(CTRL_C_EVENT);
    EXPECT_EQ(g_calls, (std::vector<int>{20}));

    ASSERT_TRUE(SetConsoleCtrlHandler(second, FALSE));
    g_calls.clear();
    sim::console::raise(CTRL_BREAK_EVENT);
    EXPECT_EQ(g_calls, (std::vector<int>{11}));
    ASSERT_TRUE(SetConsoleCtrlHandler(first, FALSE));
}

TEST(ConsoleControl, RemovingAHandlerThatIsNotThereFails) {
    SetLastError(0);
    EXPECT_FALSE(SetConsoleCtrlHandler(second, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ConsoleControl, IgnoringCtrlCSkipsTheHandlers) {
    g_calls.clear();
    ASSERT_TRUE(SetConsoleCtrlHandler(second, TRUE));
    ASSERT_TRUE(SetConsoleCtrlHandler(nullptr, TRUE));
    sim::console::raise(CTRL_C_EVENT);
    EXPECT_TRUE(g_calls.empty());
    ASSERT_TRUE(SetConsoleCtrlHandler(nullptr, FALSE));
    sim::console::raise(CTRL_C_EVENT);
    EXPECT_EQ(g_calls, (std::vector<int>{20}));
    ASSERT_TRUE(SetConsoleCtrlHandler(second, FALSE));
}

TEST(ConsoleControl, AnUnhandledCtrlCEndsTheProcess) {
    // The signal thread of earlier tests runs: the child starts afresh rather than fork.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            g_firstAnswer = FALSE;
            SetConsoleCtrlHandler(first, TRUE);
            sim::console::raise(CTRL_C_EVENT);
        },
        ::testing::ExitedWithCode(0x3A), "");
}

}  // namespace
