// The service control manager and the session list as the system calls them: the same on the
// simulated machine and on Windows (wine).
#include <gtest/gtest.h>

#include "common/WinHandles.h"
#include "platform/win.h"

namespace {

TEST(ServicesApi, OpenQueryAndClose) {
    const tarn::UniqueServiceHandle manager(
        OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, GENERIC_READ));
    ASSERT_TRUE(manager) << GetLastError();
    EXPECT_EQ(OpenServiceW(manager.get(), L"NoSuchServiceHere", GENERIC_READ), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenSCManagerW(nullptr, L"NoSuchDatabase", GENERIC_READ), nullptr);

    // The RPC endpoint mapper runs on every machine.
    const tarn::UniqueServiceHandle service(
        OpenServiceW(manager.get(), L"RpcSs", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service) << GetLastError();
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<LPBYTE>(&status), sizeof status, &needed));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                      reinterpret_cast<LPBYTE>(&status), sizeof status - 1,
                                      &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof status);
    EXPECT_FALSE(QueryServiceStatusEx(manager.get(), SC_STATUS_PROCESS_INFO,
                                      reinterpret_cast<LPBYTE>(&status), sizeof status, &needed))
        << "the manager is not a service";
}

TEST(SessionsApi, EnumerateAndFree) {
    PWTS_SESSION_INFOW list = nullptr;
    DWORD count = 0;
    ASSERT_TRUE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count))
        << GetLastError();
    EXPECT_GE(count, 1u);
    WTSFreeMemory(list);
    EXPECT_FALSE(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 2, &list, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
