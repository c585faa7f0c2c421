// Starting processes and reading command lines, on the simulated machine and on Windows alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "tests/platform/Probe.h"

namespace {

using tarn::test::runProbe;
using tarn::test::startProbe;

TEST(Processes, TheExitCodeComesBack) {
    EXPECT_EQ(runProbe({L"exit", L"0"}), 0u);
    EXPECT_EQ(runProbe({L"exit", L"42"}), 42u);
}

TEST(Processes, ATerminatedProcessEndsWithTheGivenCode) {
    const tarn::UniqueHandle process = startProbe({L"hold-mutex", L"TarnProcessesApiHolder"});
    ASSERT_TRUE(process);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    ASSERT_TRUE(TerminateProcess(process.get(), 7));
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, 7u);
}

TEST(Processes, AGivenEnvironmentIsAllTheChildSees) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"TarnParentOnly", L"1"));
    const std::wstring wide(L"TarnProbe=wide\0\0", 16);
    EXPECT_EQ(runProbe({L"env", L"TarnProbe", L"wide"}, wide.c_str(), CREATE_UNICODE_ENVIRONMENT),
              0u);
    EXPECT_EQ(runProbe({L"env", L"TarnParentOnly"}, wide.c_str(), CREATE_UNICODE_ENVIRONMENT), 0u)
        << "the parent's variable reached the child";
    // Without CREATE_UNICODE_ENVIRONMENT the block is in the ANSI code page.
    const std::string narrow("TarnProbe=narrow\0Second=2\0\0", 28);
    EXPECT_EQ(runProbe({L"env", L"TarnProbe", L"narrow"}, narrow.c_str()), 0u);
    EXPECT_EQ(runProbe({L"env", L"Second", L"2"}, narrow.c_str()), 0u);
    SetEnvironmentVariableW(L"TarnParentOnly", nullptr);
}

TEST(Processes, WithoutAGivenEnvironmentTheChildInheritsTheParents) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"TarnInherited", L"from the parent"));
    EXPECT_EQ(runProbe({L"env", L"TarnInherited", L"from the parent"}), 0u);
    SetEnvironmentVariableW(L"TarnInherited", nullptr);
}

TEST(Processes, TheCommandLineBufferIsUnchangedAfterwards) {
    std::wstring line = tarn::test::probeCommandLine({L"exit", L"3"});
    const std::wstring before = line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    const tarn::UniqueHandle process(info.hProcess);
    const tarn::UniqueHandle thread(info.hThread);
    EXPECT_EQ(line, before);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(Processes, AMissingProgramIsNotFound) {
    std::wstring line = L"\"C:\\TarnNoSuchFolder\\no_such_program.exe\" x";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info));
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
}

TEST(CommandLines, SplitByTheWindowsRules) {
    struct Case {
        const wchar_t* line;
        std::vector<std::wstring> args;
    };
    const Case cases[] = {
        {L"prog a b", {L"prog", L"a", L"b"}},
        {L"\"C:\\Program Files\\p.exe\" \"two words\" x",
         {L"C:\\Program Files\\p.exe", L"two words", L"x"}},
        {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
        {L"p \"a\\\\\" b", {L"p", L"a\\", L"b"}},
        {L"p a\\b\\\\c", {L"p", L"a\\b\\\\c"}},
        {L"p \"\" x", {L"p", L"", L"x"}},
        {L"p \"say \"\"hi\"\"\"", {L"p", L"say \"hi\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(c.line, &count);
        ASSERT_NE(argv, nullptr);
        const tarn::UniqueLocalMemory owner(argv);
        EXPECT_EQ(std::vector<std::wstring>(argv, argv + count), c.args);
    }
}

}  // namespace
