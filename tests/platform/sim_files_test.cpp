// The simulated machine's files beyond what wine can show: share modes between processes,
// holders that die, and the control side (call counts, injected failures).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "sim/machine.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::UniqueHandle;

// A process that opens `file` as asked, reports and then waits to be killed.
class Holder {
public:
    Holder(const std::wstring& file, DWORD access, DWORD share) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        m_pid = fork();
        if (m_pid == 0) {
            const HANDLE handle = CreateFileW(file.c_str(), access, share, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            const char answer = handle == INVALID_HANDLE_VALUE ? 'n' : 'y';
            (void)!write(ready[1], &answer, 1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        char answer = 'n';
        EXPECT_EQ(read(ready[0], &answer, 1), 1);
        close(ready[0]);
        EXPECT_EQ(answer, 'y');
    }
    ~Holder() { kill(); }
    void kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
};

std::wstring createFile(const tarn::test::TempDir& dir, const wchar_t* name) {
    const std::wstring file = dir.file(name);
    UniqueHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(handle);
    return file;
}

DWORD openError(const std::wstring& file, DWORD access, DWORD share) {
    UniqueHandle handle(CreateFileW(file.c_str(), access, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle ? ERROR_SUCCESS : GetLastError();
}

TEST(SimFiles, ShareModesHoldBetweenProcessesAndEndWithTheHolder) {
    tarn::test::TempDir dir;
    const std::wstring file = createFile(dir, L"held.txt");
    Holder holder(file, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_EQ(openError(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileExW(file.c_str(), dir.file(L"moved.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    holder.kill();  // a process that dies closes its handles
    EXPECT_EQ(openError(file, GENERIC_WRITE, 0), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(SimFiles, APendingDeleteCompletesWhenTheLastHolderDies) {
    tarn::test::TempDir dir;
    const std::wstring file = createFile(dir, L"doomed.txt");
    Holder holder(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    EXPECT_EQ(openError(file, GENERIC_READ, FILE_SHARE_READ),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    holder.kill();
    EXPECT_EQ(openError(file, GENERIC_READ, FILE_SHARE_READ),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SimFiles, ChangeNotificationCountsItsCallsAndFailsOnRequest) {
    tarn::test::TempDir dir;
    sim::failCall("FindFirstChangeNotificationW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(FindFirstChangeNotificationW(dir.path().c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    const tarn::UniqueChangeNotification names(
        FindFirstChangeNotificationW(dir.path().c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME));
    ASSERT_TRUE(names);
    EXPECT_EQ(sim::callCount("FindFirstChangeNotificationW"), 2u);
    sim::failCall("FindNextChangeNotification", 1, ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(FindNextChangeNotification(names.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_TRUE(FindNextChangeNotification(names.get()));
    EXPECT_EQ(sim::callCount("FindNextChangeNotification"), 2u);
}

}  // namespace
