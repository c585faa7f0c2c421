// Files and folders as the system meets them, on the simulated machine and on Windows alike:
// creation dispositions, errors, moving, attributes and enumeration.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::UniqueHandle;

UniqueHandle open(const std::wstring& path, DWORD access, DWORD disposition) {
    return UniqueHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool write(const std::wstring& path, const std::string& text) {
    const UniqueHandle file = open(path, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

class FilesBasics : public ::testing::Test {
protected:
    tarn::test::TempDir m_dir;
};

TEST_F(FilesBasics, DispositionsAndTheirErrors) {
    const std::wstring path = m_dir.file(L"a.txt");
    EXPECT_FALSE(open(path, GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(open(m_dir.file(L"missing\\a.txt"), GENERIC_WRITE, CREATE_NEW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(open(path, GENERIC_WRITE, CREATE_NEW));
    EXPECT_FALSE(open(path, GENERIC_WRITE, CREATE_NEW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_TRUE(open(path, GENERIC_WRITE, OPEN_ALWAYS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(open(path, GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST_F(FilesBasics, WhatIsWrittenIsReadBackAndTruncatedOnRequest) {
    const std::wstring path = m_dir.file(L"b.txt");
    ASSERT_TRUE(write(path, "hello world"));
    EXPECT_EQ(tarn::test::readFile(path), "hello world");
    {
        const UniqueHandle file = open(path, GENERIC_WRITE, TRUNCATE_EXISTING);
        ASSERT_TRUE(file);
        LARGE_INTEGER size{};
        ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
        EXPECT_EQ(size.QuadPart, 0);
    }
    EXPECT_FALSE(open(m_dir.file(L"none.txt"), GENERIC_WRITE, TRUNCATE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesBasics, MovingOntoAnExistingFileNeedsReplaceExisting) {
    const std::wstring from = m_dir.file(L"from.txt");
    const std::wstring to = m_dir.file(L"to.txt");
    ASSERT_TRUE(write(from, "new"));
    ASSERT_TRUE(write(to, "old"));
    EXPECT_FALSE(MoveFileExW(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(tarn::test::readFile(to), "new");
    EXPECT_EQ(GetFileAttributesW(from.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesBasics, FoldersAreEnumeratedAndRemovedOnlyWhenEmpty) {
    const std::wstring folder = m_dir.file(L"sub");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    ASSERT_TRUE(write(folder + L"\\one.txt", "1"));
    ASSERT_TRUE(write(folder + L"\\two.log", "2"));
    EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));

    std::set<std::wstring> names;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder + L"\\*.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        names.insert(data.cFileName);
    } while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(find);
    EXPECT_EQ(names, (std::set<std::wstring>{L"one.txt"}));

    EXPECT_TRUE(DeleteFileW((folder + L"\\one.txt").c_str()));
    EXPECT_TRUE(DeleteFileW((folder + L"\\two.log").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
}

}  // namespace
