// Change notification of folders (FindFirstChangeNotificationW and its partners), on the
// simulation and, under wine, on Windows' own implementation.
#include <gtest/gtest.h>

#include <string>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::UniqueChangeNotification;

constexpr DWORD kSignalled = 5000;  // long enough for a loaded machine
constexpr DWORD kQuiet = 200;       // how long a handle must stay quiet

void touch(const std::wstring& file, const char* content = "x") {
    tarn::UniqueHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(handle) << GetLastError();
    SetFilePointerEx(handle.get(), LARGE_INTEGER{}, nullptr, FILE_END);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle.get(), content, 1, &written, nullptr));
}

UniqueChangeNotification watch(const std::wstring& folder, BOOL subtree, DWORD filter) {
    UniqueChangeNotification handle(FindFirstChangeNotificationW(folder.c_str(), subtree, filter));
    EXPECT_TRUE(handle) << GetLastError();
    return handle;
}

TEST(ChangeNotificationApi, NothingChangedLeavesTheHandleQuiet) {
    tarn::test::TempDir dir;
    const auto names = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    EXPECT_EQ(WaitForSingleObject(names.get(), kQuiet), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(ChangeNotificationApi, ANewFileSignalsUntilTheHandleIsRearmed) {
    tarn::test::TempDir dir;
    const auto names = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    touch(dir.file(L"a.txt"));
    ASSERT_EQ(WaitForSingleObject(names.get(), kSignalled), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(names.get(), 0), WAIT_OBJECT_0) << "a wait does not re-arm";
    ASSERT_TRUE(FindNextChangeNotification(names.get()));
    EXPECT_EQ(WaitForSingleObject(names.get(), kQuiet), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(ChangeNotificationApi, AChangeBeforeRearmingSignalsAgainAtOnce) {
    tarn::test::TempDir dir;
    const auto names = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    touch(dir.file(L"a.txt"));
    ASSERT_EQ(WaitForSingleObject(names.get(), kSignalled), WAIT_OBJECT_0);
    touch(dir.file(L"b.txt"));
    Sleep(kQuiet);  // the change is recorded before the handle is re-armed
    ASSERT_TRUE(FindNextChangeNotification(names.get()));
    EXPECT_EQ(WaitForSingleObject(names.get(), 0), WAIT_OBJECT_0);
}

TEST(ChangeNotificationApi, TheFilterChoosesTheChangesThatSignal) {
    tarn::test::TempDir dir;
    const std::wstring file = dir.file(L"a.txt");
    touch(file);
    const auto names = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    const auto writes = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
    touch(file);  // a write to a file that exists
    EXPECT_EQ(WaitForSingleObject(writes.get(), kSignalled), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(names.get(), kQuiet), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(MoveFileExW(file.c_str(), dir.file(L"b.txt").c_str(), 0));
    EXPECT_EQ(WaitForSingleObject(names.get(), kSignalled), WAIT_OBJECT_0);
}

TEST(ChangeNotificationApi, OnlyASubtreeWatchSeesChangesInSubfolders) {
    tarn::test::TempDir dir;
    const std::wstring sub = dir.file(L"sub");
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    const auto flat = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    const auto tree = watch(dir.path(), TRUE, FILE_NOTIFY_CHANGE_FILE_NAME);
    touch(sub + L"\\inner.txt");
    EXPECT_EQ(WaitForSingleObject(tree.get(), kSignalled), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(flat.get(), kQuiet), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(ChangeNotificationApi, ItWakesAWaitForSeveralObjects) {
    tarn::test::TempDir dir;
    const tarn::UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const auto names = watch(dir.path(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    const HANDLE both[] = {event.get(), names.get()};
    touch(dir.file(L"a.txt"));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kSignalled), WAIT_OBJECT_0 + 1);
}

TEST(ChangeNotificationApi, RefusesWhatItCannotWatch) {
    tarn::test::TempDir dir;
    const std::wstring file = dir.file(L"a.txt");
    touch(file);
    struct Case {
        const char* what;
        std::wstring path;
        DWORD filter;
        DWORD expected;
    };
    const Case cases[] = {
        {"no filter", dir.path(), 0, ERROR_INVALID_PARAMETER},
        {"a missing folder", dir.file(L"missing"), FILE_NOTIFY_CHANGE_FILE_NAME,
         ERROR_FILE_NOT_FOUND},
        {"below a missing folder", dir.file(L"missing\\deeper"), FILE_NOTIFY_CHANGE_FILE_NAME,
         ERROR_PATH_NOT_FOUND},
        {"a file", file, FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_DIRECTORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FindFirstChangeNotificationW(c.path.c_str(), FALSE, c.filter),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.expected);
    }
    EXPECT_FALSE(FindNextChangeNotification(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ChangeNotificationApi, AWatchedFolderIsRemovedWhenTheWatchCloses) {
    tarn::test::TempDir dir;
    const std::wstring sub = dir.file(L"sub");
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    auto names = watch(sub, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    ASSERT_TRUE(RemoveDirectoryW(sub.c_str()));
    names.reset();
    EXPECT_FALSE(tarn::test::fileExists(sub));
}

}  // namespace
