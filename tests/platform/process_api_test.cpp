// The calling process: its environment, its modules and its last error, on the simulated
// machine and on Windows alike.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "common/WinHandles.h"
#include "platform/win.h"

namespace {

std::wstring variable(const wchar_t* name) {
    wchar_t value[2048];
    const DWORD length = GetEnvironmentVariableW(name, value, 2048);
    return length < 2048 ? std::wstring(value, length) : std::wstring();
}

std::wstring expanded(const wchar_t* text) {
    wchar_t out[2048];
    const DWORD length = ExpandEnvironmentStringsW(text, out, 2048);
    return length > 0 && length <= 2048 ? std::wstring(out, length - 1) : std::wstring();
}

std::wstring lower(std::wstring text) {
    for (auto& c : text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return text;
}

TEST(Environment, TheStandardFoldersOfWindowsAreThere) {
    for (const wchar_t* name : {L"SystemRoot", L"windir", L"ProgramData", L"PUBLIC",
                                L"ALLUSERSPROFILE", L"ProgramFiles", L"TEMP", L"ComSpec"}) {
        const std::wstring value = variable(name);
        EXPECT_GE(value.size(), 3u) << "missing: " << std::wstring(name).size();
        EXPECT_EQ(value.substr(1, 2), L":\\") << "not a drive path";
    }
    EXPECT_EQ(lower(variable(L"PUBLIC")).substr(1), L":\\users\\public");
}

TEST(Environment, NamesIgnoreCaseAndUnknownNamesStayUnexpanded) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"TarnApiTest", L"one"));
    EXPECT_EQ(variable(L"TARNAPITEST"), L"one");
    EXPECT_EQ(expanded(L"[%tarnapitest%][%TarnNoSuchVariable%][%%][50%]"),
              L"[one][%TarnNoSuchVariable%][%%][50%]");
    ASSERT_TRUE(SetEnvironmentVariableW(L"TARNAPITEST", nullptr));
    wchar_t value[16];
    EXPECT_EQ(GetEnvironmentVariableW(L"TarnApiTest", value, 16), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_FALSE(SetEnvironmentVariableW(L"A=B", L"x"));
}

TEST(Environment, AShortBufferGetsTheSizeWithItsTerminator) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"TarnApiTest", L"12345"));
    wchar_t value[4] = {};
    EXPECT_EQ(GetEnvironmentVariableW(L"TarnApiTest", value, 4), 6u);
    EXPECT_EQ(GetEnvironmentVariableW(L"TarnApiTest", value, 0), 6u);
    EXPECT_EQ(ExpandEnvironmentStringsW(L"%TarnApiTest%!", nullptr, 0), 7u);
    SetEnvironmentVariableW(L"TarnApiTest", nullptr);
}

void localFunction() {}

TEST(Modules, TheProgramIsAModuleWithAPath) {
    const HMODULE program = GetModuleHandleW(nullptr);
    ASSERT_NE(program, nullptr);
    wchar_t byNull[MAX_PATH];
    wchar_t byHandle[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, byNull, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_EQ(GetModuleFileNameW(program, byHandle, MAX_PATH), length);
    EXPECT_EQ(std::wstring(byHandle), std::wstring(byNull));
    EXPECT_NE(lower(byHandle).find(L"tests_platform_api"), std::wstring::npos);

    HMODULE found = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&localFunction), &found));
    EXPECT_EQ(found, program) << "the module holding this code is the program";
}

TEST(Modules, AShortBufferGetsTheStartOfThePath) {
    wchar_t full[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, full, MAX_PATH), 8u);
    wchar_t shortBuffer[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, shortBuffer, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::wstring(shortBuffer, 7), std::wstring(full, 7));
}

TEST(Modules, ATruncatedPathIsTerminated) {
    wchar_t shortBuffer[8];
    shortBuffer[7] = L'x';
    EXPECT_EQ(GetModuleFileNameW(nullptr, shortBuffer, 8), 8u);
    EXPECT_EQ(shortBuffer[7], L'\0');
}

TEST(Modules, AddressesAndHandlesOfNoModuleAreRefused) {
    int onTheStack = 0;
    HMODULE found = reinterpret_cast<HMODULE>(&onTheStack);
    EXPECT_FALSE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&onTheStack), &found));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(found, nullptr);
    wchar_t path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(&onTheStack), path, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr,
        &found));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Modules, ASystemLibraryLoadsByNameWithItsFunctions) {
    const tarn::UniqueModule shell(LoadLibraryW(L"shell32.dll"));
    ASSERT_TRUE(shell);
    EXPECT_EQ(GetModuleHandleW(L"SHELL32.DLL"), shell.get());
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(shell.get(), path, MAX_PATH), 0u);
    EXPECT_EQ(lower(path).substr(1), L":\\windows\\system32\\shell32.dll");
    EXPECT_NE(GetProcAddress(shell.get(), "SHGetFolderPathW"), nullptr);
    EXPECT_EQ(GetProcAddress(shell.get(), "TarnNoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(LoadLibraryW(L"tarn_no_such_library.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
