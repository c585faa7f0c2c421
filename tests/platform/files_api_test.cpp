// Files as Windows shares them: share modes, renames and deletes of open files, replacing an
// open file, and the characters a name may not hold. The same cases run against the
// simulation and, under wine, against Windows' own implementation.
#include <gtest/gtest.h>

#include <string>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::UniqueHandle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FilesApi : public ::testing::Test {
protected:
    std::wstring path(const std::wstring& name) const { return m_dir.file(name); }

    void create(const std::wstring& file, const std::string& content) {
        UniqueHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(handle) << GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(handle.get(), content.data(), static_cast<DWORD>(content.size()),
                              &written, nullptr));
    }

    // Opens an existing file; the error is in `error` when it fails.
    UniqueHandle open(const std::wstring& file, DWORD access, DWORD share, DWORD& error,
                      DWORD disposition = OPEN_EXISTING) {
        UniqueHandle handle(CreateFileW(file.c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        error = handle ? ERROR_SUCCESS : GetLastError();
        return handle;
    }

    // The error of a call that returned FALSE, or ERROR_SUCCESS when it succeeded.
    static DWORD errorOf(BOOL result) { return result ? ERROR_SUCCESS : GetLastError(); }

    tarn::test::TempDir m_dir;
};

TEST_F(FilesApi, ASecondOpenMustFitTheShareModesOfTheFirst) {
    struct Case {
        const char* what;
        DWORD firstAccess;
        DWORD firstShare;
        DWORD secondAccess;
        DWORD secondShare;
        DWORD expected;
    };
    const Case cases[] = {
        {"two readers sharing reading", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ,
         FILE_SHARE_READ, ERROR_SUCCESS},
        {"a writer after a reader that denies writing", GENERIC_READ, FILE_SHARE_READ,
         GENERIC_WRITE, kShareAll, ERROR_SHARING_VIOLATION},
        {"a writer after a reader that shares writing", GENERIC_READ, kShareReadWrite,
         GENERIC_WRITE, kShareReadWrite, ERROR_SUCCESS},
        {"a reader that denies writing after a writer", GENERIC_WRITE, kShareAll, GENERIC_READ,
         FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {"a reader after an exclusive reader", GENERIC_READ, 0, GENERIC_READ, kShareAll,
         ERROR_SHARING_VIOLATION},
        {"an appender is a writer", FILE_APPEND_DATA, kShareAll, GENERIC_READ, FILE_SHARE_READ,
         ERROR_SHARING_VIOLATION},
        {"delete access after a holder that shares deleting", GENERIC_READ, kShareAll, DELETE,
         kShareAll, ERROR_SUCCESS},
        {"delete access after a holder that denies deleting", GENERIC_READ, kShareReadWrite, DELETE,
         kShareAll, ERROR_SHARING_VIOLATION},
        {"attribute access is not data access", GENERIC_WRITE, 0, FILE_READ_ATTRIBUTES, kShareAll,
         ERROR_SUCCESS},
    };
    const std::wstring file = path(L"shared.txt");
    create(file, "content");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD error = 0;
        const UniqueHandle first = open(file, c.firstAccess, c.firstShare, error);
        ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
        const UniqueHandle second = open(file, c.secondAccess, c.secondShare, error);
        EXPECT_EQ(error, c.expected);
    }
}

TEST_F(FilesApi, ARefusedOpenThatWouldTruncateLeavesTheContent) {
    const std::wstring file = path(L"kept.txt");
    create(file, "content");
    DWORD error = 0;
    const UniqueHandle reader = open(file, GENERIC_READ, FILE_SHARE_READ, error);
    ASSERT_TRUE(reader);
    open(file, GENERIC_WRITE, kShareAll, error, CREATE_ALWAYS);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(tarn::test::readFile(file), "content");
}

TEST_F(FilesApi, RenameAndDeleteNeedEveryHolderToShareDeleting) {
    const std::wstring file = path(L"held.txt");
    create(file, "content");
    DWORD error = 0;
    {
        const UniqueHandle holder = open(file, GENERIC_READ, kShareReadWrite, error);
        ASSERT_TRUE(holder);
        EXPECT_EQ(errorOf(MoveFileExW(file.c_str(), path(L"moved.txt").c_str(), 0)),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(errorOf(DeleteFileW(file.c_str())), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(tarn::test::fileExists(file));
    }
    const UniqueHandle holder = open(file, GENERIC_READ, kShareAll, error);
    ASSERT_TRUE(holder);
    ASSERT_EQ(errorOf(MoveFileExW(file.c_str(), path(L"moved.txt").c_str(), 0)),
              static_cast<DWORD>(ERROR_SUCCESS));
    // The handle follows the file to its new name.
    char buffer[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(holder.get(), buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "content");
    EXPECT_FALSE(tarn::test::fileExists(file));
}

TEST_F(FilesApi, ADeletedFileKeepsItsNameUntilItsLastHandleCloses) {
    const std::wstring file = path(L"doomed.txt");
    create(file, "content");
    DWORD error = 0;
    UniqueHandle holder = open(file, GENERIC_READ, kShareAll, error);
    ASSERT_TRUE(holder);
    ASSERT_EQ(errorOf(DeleteFileW(file.c_str())), static_cast<DWORD>(ERROR_SUCCESS));
    // Delete pending: the name can be neither opened nor made again.
    open(file, GENERIC_READ, kShareAll, error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    open(file, GENERIC_WRITE, kShareAll, error, CREATE_ALWAYS);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorOf(DeleteFileW(file.c_str())), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    holder.reset();
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const UniqueHandle again = open(file, GENERIC_WRITE, 0, error, CREATE_NEW);
    EXPECT_TRUE(again);
}

TEST_F(FilesApi, AFileThatIsOpenIsNeverReplaced) {
    const std::wstring target = path(L"document.json");
    const std::wstring source = path(L"document.json.new");
    create(target, "old");
    create(source, "new");
    {
        DWORD error = 0;
        // Even a reader that shares everything keeps the file from being replaced.
        const UniqueHandle reader = open(target, GENERIC_READ, kShareAll, error);
        ASSERT_TRUE(reader);
        EXPECT_EQ(errorOf(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)),
                  static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(tarn::test::readFile(target), "old");
        EXPECT_TRUE(tarn::test::fileExists(source));
    }
    EXPECT_EQ(errorOf(MoveFileExW(source.c_str(), target.c_str(), 0)),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_EQ(errorOf(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tarn::test::readFile(target), "new");
}

TEST_F(FilesApi, ADirectoryOnlyGoesThroughRemoveDirectory) {
    const std::wstring folder = path(L"folder");
    const std::wstring file = path(L"file.txt");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    create(file, "x");
    EXPECT_EQ(errorOf(DeleteFileW(folder.c_str())), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(errorOf(RemoveDirectoryW(file.c_str())), static_cast<DWORD>(ERROR_DIRECTORY));
    create(folder + L"\\inside.txt", "x");
    EXPECT_EQ(errorOf(RemoveDirectoryW(folder.c_str())), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    ASSERT_TRUE(DeleteFileW((folder + L"\\inside.txt").c_str()));
    EXPECT_EQ(errorOf(RemoveDirectoryW(folder.c_str())), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(FilesApi, NamesWithReservedCharactersAreInvalid) {
    const std::wstring good = path(L"good.txt");
    create(good, "x");
    for (const wchar_t c : std::wstring(L"*?|<>\"")) {
        const std::wstring bad = path(std::wstring(L"bad") + c + L"name");
        SCOPED_TRACE(testing::PrintToString(bad));
        DWORD error = 0;
        open(bad, GENERIC_WRITE, 0, error, CREATE_ALWAYS);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_EQ(errorOf(CreateDirectoryW(bad.c_str(), nullptr)),
                  static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_EQ(GetFileAttributesW(bad.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_EQ(errorOf(DeleteFileW(bad.c_str())), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_EQ(errorOf(MoveFileExW(good.c_str(), bad.c_str(), 0)),
                  static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_TRUE(tarn::test::fileExists(good));
    }
}

}  // namespace
