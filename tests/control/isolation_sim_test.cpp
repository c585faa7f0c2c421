// The isolation handlers and the launches in the users' sessions.
#include <gtest/gtest.h>

#include "common/Str.h"
#include "isolation/NetworkIsolationHandlers.h"
#include "isolation/TarnLaunchAll.h"
#include "sim/launch_control.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/sessions_control.h"
#include "sim/userenv_control.h"
#include "tests/support/LogCapture.h"

namespace {

constexpr const wchar_t* kHandlers =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\ns\\NetworkIsolation\\Handlers\\";
constexpr const wchar_t* kUi = L"C:\\Tarn\\ui.exe";
constexpr const wchar_t* kUserProgram = L"C:\\Tarn\\user.exe";

void createFile(const std::wstring& path) {
    CreateDirectoryW(L"C:\\Tarn", nullptr);
    const tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
}

class IsolationTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        createFile(kUi);
        createFile(kUserProgram);
        sim::sessions::logOn(1, L"alice", WTSActive, L"Console");
        sim::sessions::logOn(2, L"bob", WTSActive);
        sim::sessions::logOn(5, L"carol", WTSDisconnected);
        sim::sessions::logOn(6, L"dave", WTSIdle);
    }
    std::vector<std::wstring> executed() {
        std::vector<std::wstring> lines;
        for (const auto& line : log.lines()) {
            if (line.message.rfind("Executing '", 0) == 0) {
                lines.push_back(tarn::str::fromUtf8(line.message));
            }
        }
        return lines;
    }
    tarn::test::LogCapture log;
    NetworkIsolationHandlers handlers;
};

TEST_F(IsolationTest, NoHandlersStartNothing) {
    handlers.runHandlers(L"ns");
    EXPECT_EQ(log.count("Did not find handlers in: ", 5), 3u);
    EXPECT_TRUE(sim::launch::launches().empty());
}

TEST_F(IsolationTest, UserThenUiThenSystemInEveryActiveOrDisconnectedSession) {
    sim::registry::setString(std::wstring(kHandlers) + L"System", L"sys", L"C:\\Tarn\\none.exe");
    sim::registry::setString(std::wstring(kHandlers) + L"Ui", L"ui", L"Isolation.App");
    sim::registry::setString(std::wstring(kHandlers) + L"User", L"user", kUserProgram);
    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\ns\\Corvane", L"OpenCommand",
                             kUi);
    handlers.runHandlers(L"ns");
    EXPECT_EQ(executed(), (std::vector<std::wstring>{L"Executing 'user': C:\\Tarn\\user.exe",
                                                     L"Executing 'ui': Isolation.App",
                                                     L"Executing 'sys': C:\\Tarn\\none.exe"}));
    const auto launches = sim::launch::launches();
    ASSERT_EQ(launches.size(), 6u);
    std::vector<uint32_t> sessions;
    for (const auto& launch : launches) {
        sessions.push_back(launch.session);
        EXPECT_EQ(launch.creationFlags, 0x408u);
        EXPECT_TRUE(launch.hasEnvironment);
        EXPECT_FALSE(launch.inheritHandles);
    }
    EXPECT_EQ(sessions, (std::vector<uint32_t>{1, 2, 5, 1, 2, 5}));
    EXPECT_EQ(launches[0].commandLine, L"\"C:\\Tarn\\user.exe\" ");
    EXPECT_EQ(launches[0].user, L"alice");
    EXPECT_EQ(launches[3].commandLine, L"\"C:\\Tarn\\ui.exe\" --run_dotnet_app Isolation.App");
    EXPECT_TRUE(log.contains("Failed to start: C:\\Tarn\\none.exe", 2));
    EXPECT_EQ(sim::sessions::openHandles(), 0u);
    EXPECT_EQ(sim::userenv::openHandles(), 0u);
    EXPECT_EQ(sim::launch::openHandles(), 0u);
    EXPECT_EQ(sim::userenv::loadedProfiles(sim::sessions::userSid(L"alice")), 0u);
}

TEST_F(IsolationTest, UiProgramMissingOrAFolder) {
    sim::registry::setString(std::wstring(kHandlers) + L"Ui", L"ui", L"X");
    handlers.runHandlers(L"ns");
    EXPECT_TRUE(log.contains("Failed to launch X", 2));
    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\ns\\Corvane", L"OpenCommand",
                             L"C:\\Tarn");
    handlers.runHandlers(L"ns");
    EXPECT_EQ(log.count("Failed to launch X", 2), 2u);
    EXPECT_TRUE(sim::launch::launches().empty());
}

TEST_F(IsolationTest, UnreadableHandlerIsSkipped) {
    sim::registry::setDword(std::wstring(kHandlers) + L"User", L"a", 7);
    sim::registry::setString(std::wstring(kHandlers) + L"User", L"b", kUserProgram);
    handlers.runHandlers(L"ns");
    EXPECT_TRUE(log.contains("Error reading handler a: ", 3));
    EXPECT_EQ(sim::launch::launches().size(), 3u);
}

TEST(UiOpenCommand, ArgumentsAndBase64Parameters) {
    sim::reset();
    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\ns\\Corvane", L"OpenCommand",
                             L"C:\\ui.exe");
    using Pair = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(TarnLaunchAll::getUiOpenCommand(L"ns", L"", L"p"), (Pair{L"C:\\ui.exe", L""}));
    EXPECT_EQ(TarnLaunchAll::getUiOpenCommand(L"ns", L"App", L""),
              (Pair{L"C:\\ui.exe", L"--run_dotnet_app App"}));
    EXPECT_EQ(TarnLaunchAll::getUiOpenCommand(L"ns", L"App", L"\u00e9x"),
              (Pair{L"C:\\ui.exe", L"--run_dotnet_app App --dotnet_app_params w6l4"}));
    EXPECT_EQ(TarnLaunchAll::getUiOpenCommand(L"other", L"App", L"p"), Pair{});
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::wstring>>{
             {"", L""}, {"f", L"Zg=="}, {"fo", L"Zm8="}, {"foo", L"Zm9v"}, {"foob", L"Zm9vYg=="}}) {
        EXPECT_EQ(base64Encode(in), out);
    }
}

}  // namespace
