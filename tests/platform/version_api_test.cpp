// The version check of the operating system, on the simulated machine and on Windows alike.
#include <gtest/gtest.h>

#include "platform/win.h"

namespace {

BOOL atLeast(DWORD major, DWORD minor) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, mask);
}

TEST(Version, TheMachineIsAtLeastWindows7AndNoFutureWindows) {
    EXPECT_TRUE(atLeast(6, 1));
    EXPECT_FALSE(atLeast(99, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
}

TEST(Version, AWorkstationIsNoServer) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.wProductType = VER_NT_SERVER;
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_PRODUCT_TYPE,
                                    VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    info.wProductType = VER_NT_WORKSTATION;
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_PRODUCT_TYPE,
                                   VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL)));
}

TEST(Version, ACheckWithoutConditionsIsRefused) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_FALSE(VerifyVersionInfoW(&info, 0, VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_MAJORVERSION, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
}

}  // namespace
