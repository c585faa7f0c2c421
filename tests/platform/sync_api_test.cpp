// Handles, events, mutexes and waits, on the simulated machine and on Windows alike.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "tests/platform/Probe.h"

namespace {

using tarn::UniqueHandle;

UniqueHandle event(BOOL manual = TRUE, BOOL state = FALSE) {
    return UniqueHandle(CreateEventW(nullptr, manual, state, nullptr));
}

// A name of this process alone, so that runs side by side do not meet.
std::wstring uniqueName(const std::wstring& prefix, const std::wstring& base) {
    return prefix + L"TarnSyncApi_" + base + L"_" + std::to_wstring(GetCurrentProcessId());
}

TEST(Handles, AClosedValueIsGivenOutAgain) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    // Windows may hold a freed value back for a while; it comes back among the next handles.
    std::vector<UniqueHandle> later;
    bool reused = false;
    for (int i = 0; i < 200 && !reused; ++i) {
        later.push_back(event());
        reused = later.back().get() == first;
    }
    EXPECT_TRUE(reused) << "a closed handle value was never given out again";
}

TEST(Handles, ASecondCloseOfTheSameValueFails) {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess())) << "the pseudo handle closes as a no-op";
}

TEST(Handles, AValueOfAnotherKindIsNoMutexAndNoEvent) {
    const UniqueHandle manual = event();
    EXPECT_FALSE(ReleaseMutex(manual.get()));
    const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    EXPECT_FALSE(SetEvent(mutex.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Events, ManualEventsStaySetAutoEventsReleaseOneWait) {
    const UniqueHandle manual = event(TRUE, TRUE);
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(ResetEvent(manual.get()));
    EXPECT_EQ(WaitForSingleObject(manual.get(), 10), static_cast<DWORD>(WAIT_TIMEOUT));

    const UniqueHandle automatic = event(FALSE, TRUE);
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Events, WaitingForAllTakesThemTogether) {
    const UniqueHandle a = event(FALSE, TRUE);
    const UniqueHandle b = event(FALSE, FALSE);
    const HANDLE both[] = {a.get(), b.get()};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(a.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "a failed wait for all takes none of them";
    SetEvent(a.get());
    SetEvent(b.get());
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Mutexes, AnOwnerTakesItAgainOthersWait) {
    const UniqueHandle mutex(CreateMutexW(nullptr, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(mutex.get(), 20); }).join();
    EXPECT_EQ(other, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_FALSE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
}

TEST(Mutexes, OnlyTheOwnerReleases) {
    const UniqueHandle mutex(CreateMutexW(nullptr, TRUE, nullptr));
    BOOL released = TRUE;
    DWORD error = 0;
    std::thread([&] {
        released = ReleaseMutex(mutex.get());
        error = GetLastError();
    }).join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

// Each kind of mutex, left by a thread that ended while it owned it.
class AbandonedMutex : public ::testing::TestWithParam<bool> {
protected:
    UniqueHandle create() {
        return UniqueHandle(CreateMutexW(
            nullptr, FALSE, GetParam() ? uniqueName(L"Local\\", L"Abandoned").c_str() : nullptr));
    }
};

TEST_P(AbandonedMutex, GoesToTheNextWaiterOnceWithWaitAbandoned) {
    const UniqueHandle mutex = create();
    ASSERT_TRUE(mutex);
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex.get(), INFINITE), WAIT_OBJECT_0);
    }).join();
    // A bounded wait, the logger's kind.
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 5000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST_P(AbandonedMutex, IsReportedByItsIndexInAWaitForSeveral) {
    const UniqueHandle mutex = create();
    const UniqueHandle other = event(TRUE, FALSE);
    std::thread([&] { WaitForSingleObject(mutex.get(), INFINITE); }).join();
    const HANDLE handles[] = {other.get(), mutex.get()};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 5000),
              static_cast<DWORD>(WAIT_ABANDONED_0 + 1));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, AbandonedMutex, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST(NamedMutexes, ASecondCreateOpensTheSameObject) {
    const std::wstring name = uniqueName(L"", L"Twice");
    const UniqueHandle first(CreateMutexW(nullptr, TRUE, name.c_str()));
    ASSERT_TRUE(first);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    const UniqueHandle second(CreateMutexW(nullptr, TRUE, name.c_str()));
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(second.get(), 0); }).join();
    EXPECT_EQ(other, static_cast<DWORD>(WAIT_TIMEOUT)) << "the first creator owns it";
    EXPECT_TRUE(ReleaseMutex(second.get()));
    EXPECT_FALSE(ReleaseMutex(second.get())) << "the second create took no ownership";
}

TEST(NamedMutexes, ACreatorOwnsItBeforeAnyoneElseCanOpenIt) {
    // Another thread opens each new mutex as soon as it exists and tries to take it.
    for (int round = 0; round < 300; ++round) {
        const std::wstring name = uniqueName(L"", L"Owned") + L"_" + std::to_wstring(round);
        DWORD taken = WAIT_FAILED;
        std::thread other([&] {
            for (int i = 0; i < 200000; ++i) {
                const UniqueHandle opened(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
                if (opened) {
                    taken = WaitForSingleObject(opened.get(), 0);
                    if (taken == WAIT_OBJECT_0) {
                        ReleaseMutex(opened.get());
                    }
                    return;
                }
            }
        });
        const UniqueHandle mutex(CreateMutexW(nullptr, TRUE, name.c_str()));
        other.join();
        ASSERT_TRUE(ReleaseMutex(mutex.get()));
        ASSERT_NE(taken, static_cast<DWORD>(WAIT_OBJECT_0)) << "round " << round;
    }
}

TEST(NamedMutexes, NamesAreCaseSensitiveAndLocalIsTheSessionsNamespace) {
    const std::wstring name = uniqueName(L"", L"Case");
    const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
    ASSERT_TRUE(mutex);
    const UniqueHandle same(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    EXPECT_TRUE(same) << "no prefix is the session's namespace, as Local\\ is";
    std::wstring upper = name;
    for (auto& c : upper) {
        c = static_cast<wchar_t>(towupper(c));
    }
    const UniqueHandle other(OpenMutexW(SYNCHRONIZE, FALSE, upper.c_str()));
    EXPECT_FALSE(other);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(NamedMutexes, ABackslashAfterTheNamespaceIsRefused) {
    for (const wchar_t* prefix : {L"Global\\", L"Local\\", L""}) {
        const std::wstring name = uniqueName(prefix, L"Slash") + L"\\inner";
        const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
        EXPECT_FALSE(mutex) << "prefix " << std::wstring(prefix).size();
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_FALSE(UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
}

TEST(NamedMutexes, AKilledOwnerProcessLeavesItAbandoned) {
    const std::wstring name = uniqueName(L"Global\\", L"Killed");
    const UniqueHandle holder = tarn::test::startProbe({L"hold-mutex", name});
    ASSERT_TRUE(holder);
    UniqueHandle mutex;
    for (int i = 0; i < 3000 && !mutex; ++i) {
        mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
        if (!mutex) {
            Sleep(10);
        }
    }
    ASSERT_TRUE(mutex) << "the helper never made the mutex";
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(TerminateProcess(holder.get(), 1));
    ASSERT_EQ(WaitForSingleObject(holder.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 5000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    mutex.reset();
    // With every handle closed the object is gone: the next creator makes a new one.
    const UniqueHandle fresh(CreateMutexW(nullptr, FALSE, name.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(fresh.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(ReleaseMutex(fresh.get()));
}

}  // namespace
