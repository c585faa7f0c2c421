// The file logger on the simulated machine, where clock, time zone, session, account and
// registry are the test's: exact lines, configuration and its re-reading, banners, location and
// security by account, and the cross-process mutex.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/logging/Log.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/security_control.h"
#include "tests/common/RootedLogger.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using TarnPyxLogging::LevelInfo;
using TarnPyxLogging::LevelWarning;
using TarnPyxLogging::LoggerWin;

const wchar_t* const kLogging = L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\PYX\\Logging";
const wchar_t* const kUserShellFolders =
    L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// 2024-01-31 08:05:09.042 UTC
const sim::Clock::time_point kMorning = sim::Clock::from_time_t(1706688309) + 42ms;

std::string ids() {
    char text[32];
    std::snprintf(text, sizeof text, "[%04x.%04x]", static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>(GetCurrentThreadId()));
    return text;
}

class LoggerSim : public ::testing::Test {
protected:
    LoggerSim() {
        sim::setTime(kMorning);
        sim::registry::setString(kLogging, L"RootPath", m_root.path());
    }
    std::wstring file(const std::wstring& logName = L"FirewallPlugin") const {
        return m_root.path() + L"\\Tarn\\Log\\Firewall\\" + logName + L".log";
    }
    std::string content(const std::wstring& logName = L"FirewallPlugin") const {
        return tarn::test::readFile(file(logName));
    }
    void open(LoggerWin& log, uint32_t flags = 0, const wchar_t* ns = nullptr) {
        log.open(ns, L"Firewall", L"FirewallPlugin", LevelInfo, flags);
    }
    // The banner's text as the observer sees it.
    std::string banner(uint32_t flags = 0) {
        LoggerWin log;
        std::string text;
        log.setLineObserver([&](int32_t, std::string_view, std::string_view message) {
            if (text.empty()) {
                text = message;
            }
        });
        open(log, flags);
        return text;
    }

    tarn::test::TempDir m_root;
};

TEST_F(LoggerSim, TheFileHoldsExactlyTheseBytes) {
    {
        LoggerWin log;
        open(log);
        log.logf(LevelInfo, "AutomaticProfileSelection::detectCurrentProfileName",
                 "Detected new profile name: %ls", L"Office");
        sim::advanceTime(1001ms);
        log.logf(LevelWarning, "FWSettings::start::<lambda_1>::operator ()", "%d%%", 5);
        log.close();
    }
    const std::string stamp = "2024-01-31 08:05:09.042 " + ids();
    const std::string later = "2024-01-31 08:05:10.043 " + ids();
    EXPECT_EQ(content(),
              "\r\n" + stamp + "  I: ***  LOGGING STARTED  *** (UTC+0:00, session: 0x1)\r\n" +
                  stamp +
                  "  I: AutomaticProfileSelection::detectCurrentProfileName: Detected new "
                  "profile name: Office\r\n" +
                  later + " .W: FWSettings::start::<lambda>: 5%\r\n" + later +
                  "  I: ***  LOGGING ENDED  ***\r\n");
}

TEST_F(LoggerSim, EveryLevelHasItsText) {
    sim::registry::setDword(kLogging, L"LogLevel", 7);
    LoggerWin log;
    open(log);
    for (int32_t level = 1; level <= 7; ++level) {
        log.logf(level, "L::l", "%d", level);
    }
    log.close();
    const std::string text = content();
    for (const char* expected : {"*F: L::l: 1", "*E: L::l: 2", ".W: L::l: 3", " I: L::l: 4",
                                 " D: L::l: 5", " V: L::l: 6", "  : L::l: 7"}) {
        EXPECT_NE(text.find(ids() + " " + expected + "\r\n"), std::string::npos) << expected;
    }
}

TEST_F(LoggerSim, ALevelChangeCountsWithinAMinute) {
    LoggerWin log;
    open(log);
    sim::registry::setDword(kLogging, L"LogLevel", 3);
    sim::advanceTime(60s);
    EXPECT_TRUE(log.isEnabled(LevelInfo)) << "read again only after more than 60 s";
    sim::advanceTime(1ms);
    EXPECT_FALSE(log.isEnabled(LevelInfo));
    EXPECT_TRUE(log.isEnabled(LevelWarning));
    sim::registry::setDword(kLogging, L"LogLevel", 5);
    sim::advanceTime(61s);
    EXPECT_TRUE(log.isEnabled(TarnPyxLogging::LevelDebug));
}

TEST_F(LoggerSim, TheNearestConfigurationKeyWins) {
    const struct {
        const wchar_t* key;
        DWORD level;
    } levels[] = {{L"", 2}, {L"\\Firewall", 3}, {L"\\Firewall\\FirewallPlugin", 5}};
    {
        LoggerWin log;
        open(log);
        EXPECT_EQ(log.level(), LevelInfo) << "the default given to open";
    }
    for (const auto& entry : levels) {
        sim::registry::setDword(std::wstring(kLogging) + entry.key, L"LogLevel", entry.level);
        LoggerWin log;
        open(log);
        EXPECT_EQ(log.level(), static_cast<int32_t>(entry.level));
    }
    LoggerWin log;
    open(log, TarnPyxLogging::FlagFixedVerbose);
    EXPECT_EQ(log.level(), TarnPyxLogging::LevelVerbose) << "fixed, the registry is not read";
}

TEST_F(LoggerSim, TheBannerTellsTheOffsetAndSession) {
    sim::setSessionId(1);
    const struct {
        sim::TimeZone zone;
        const char* text;
    } cases[] = {
        {{.bias = -330}, "(UTC+5:30, session: 0x1)"},
        {{.bias = 210}, "(UTC-3:30, session: 0x1)"},
        {{.bias = 60, .daylightBias = -60, .daylight = true}, "(UTC+0:00, session: 0x1)"},
        {{.bias = -60, .standardBias = 0, .daylight = false}, "(UTC+1:00, session: 0x1)"},
        {{.readable = false}, "(UTC+59:59, session: 0x1)"},
    };
    for (const auto& c : cases) {
        sim::setTimeZone(c.zone);
        EXPECT_EQ(banner(), std::string("***  LOGGING STARTED  *** ") + c.text);
    }
    sim::setSessionId(0x2a);
    sim::setTimeZone({.bias = -330});
    EXPECT_EQ(banner(TarnPyxLogging::FlagUtcTimes),
              "***  LOGGING STARTED  *** (UTC+00:00, local:+5:30, session: 0x2a)");
}

TEST_F(LoggerSim, TimesAreLocalUnlessUtcIsAskedFor) {
    sim::setTimeZone({.bias = -330});
    for (const uint32_t flags : {0u, static_cast<uint32_t>(TarnPyxLogging::FlagUtcTimes)}) {
        LoggerWin log;
        open(log, flags | TarnPyxLogging::FlagDebugBanners);  // banners below the level
        log.logf(LevelInfo, "T::t", "at");
        log.close();
    }
    const std::string text = content();
    EXPECT_EQ(text, "2024-01-31 13:35:09.042 " + ids() + "  I: T::t: at\r\n" +
                        "2024-01-31 08:05:09.042 " + ids() + "  I: T::t: at\r\n");
}

TEST_F(LoggerSim, ATooLargeMessageBecomesOneErrorLine) {
    LoggerWin log;
    open(log, TarnPyxLogging::FlagDebugBanners);
    TARN_LOG_TO(log, LevelInfo) << std::string(70000, 'x');
    TARN_LOG_TO(log, LevelInfo) << std::string(3000, 'y');
    log.logf(LevelInfo, "Wide::format", L"%ls", std::wstring(70000, L'z').c_str());
    log.close();
    const std::string stamp = "2024-01-31 08:05:09.042 " + ids();
    EXPECT_EQ(content(), stamp + " *E: TARN_PYX_LOG failure: too large message. Format: %hs\r\n" +
                             stamp +
                             "  I: LoggerSim_ATooLargeMessageBecomesOneErrorLine_Test::TestBody: " +
                             std::string(3000, 'y') + "\r\n" + stamp +
                             " *E: TARN_PYX_LOG failure: too large message. Format: %ls\r\n");
}

TEST_F(LoggerSim, TheAccountDecidesWhereTheFileLives) {
    const std::wstring user = m_root.file(L"user");
    const std::wstring low = m_root.file(L"low");
    sim::security::setAccount(L"S-1-5-21-5-5-5-1001");
    sim::security::setIntegrityLevel(SECURITY_MANDATORY_MEDIUM_RID);
    sim::registry::setString(kUserShellFolders, L"Local AppData", user);
    {
        LoggerWin log;
        open(log);
    }
    EXPECT_TRUE(tarn::test::fileExists(user + L"\\Tarn\\Log\\Firewall\\FirewallPlugin.log"));
    EXPECT_EQ(sim::security::directorySecurity(user + L"\\Tarn"), std::nullopt);

    sim::security::setIntegrityLevel(SECURITY_MANDATORY_LOW_RID);
    sim::registry::setString(kUserShellFolders, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}", low);
    {
        LoggerWin log;
        open(log);
        std::wstring mutex = L"Local\\TarnPyxLogging_";
        for (const wchar_t c : low + L"\\Tarn\\Log\\Firewall\\FirewallPlugin") {
            mutex += c == L'\\' ? L'_' : c;
        }
        EXPECT_EQ(sim::security::mutexSecurity(mutex), L"D:(A;;GA;;;SY)(A;;GA;;;BA)");
    }
    EXPECT_TRUE(tarn::test::fileExists(low + L"\\Tarn\\Log\\Firewall\\FirewallPlugin.log"));
}

TEST_F(LoggerSim, TheSystemAccountsFoldersGetTheirAccessLists) {
    for (const uint32_t flags :
         {0u, static_cast<uint32_t>(TarnPyxLogging::FlagShortDirectoryAcl)}) {
        LoggerWin log;
        open(log, flags, flags == 0 ? L"ns1" : L"default");
    }
    for (const wchar_t* folder : {L"\\Tarn", L"\\Tarn\\NS\\ns1\\Log\\Firewall"}) {
        EXPECT_EQ(sim::security::directorySecurity(m_root.path() + folder),
                  L"D:(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)");
    }
    EXPECT_TRUE(tarn::test::fileExists(m_root.path() +
                                       L"\\Tarn\\NS\\ns1\\Log\\Firewall\\FirewallPlugin.log"));
    EXPECT_EQ(sim::security::directorySecurity(m_root.path() + L"\\Tarn\\Log"),
              L"D:(A;;GA;;;SY)(A;;GA;;;BA)");
    EXPECT_TRUE(tarn::test::fileExists(file()));
}

TEST_F(LoggerSim, WithoutARootPathTheCommonAppDataFolderIsUsed) {
    sim::registry::setString(kLogging, L"RootPath", L"");
    const std::wstring common = m_root.file(L"common");
    sim::registry::setString(
        L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        L"Common AppData", common);
    LoggerWin log;
    open(log);
    EXPECT_TRUE(tarn::test::fileExists(common + L"\\Tarn\\Log\\Firewall\\FirewallPlugin.log"));
}

TEST_F(LoggerSim, ARecreatedFolderGetsAFreshFileAndBanner) {
    LoggerWin log;
    open(log);
    // Removed as Windows 10 1903 and later can while the log is open (names of deleted files
    // go at once); the simulation keeps them until the last handle closes, as older Windows.
    std::filesystem::remove_all(sim::hostPath(m_root.path() + L"\\Tarn"));
    sim::advanceTime(61s);
    log.logf(LevelInfo, "After::removal", "back");
    const std::string text = content();
    EXPECT_EQ(text.find("\r\n"), 0u);
    EXPECT_NE(text.find("LOGGING STARTED"), std::string::npos);
    EXPECT_NE(text.find("After::removal: back"), std::string::npos);
}

TEST_F(LoggerSim, DebuggerOutputFollowsItsSwitch) {
    sim::registry::setDword(kLogging, L"DebugOutputLogging", 1);
    {
        LoggerWin log;
        open(log, TarnPyxLogging::FlagDebugBanners);
        log.logf(LevelInfo, "D::d", "one");
    }
    EXPECT_EQ(sim::callCount("OutputDebugStringA"), 1u);
    LoggerWin fixed;
    open(fixed, TarnPyxLogging::FlagFixedVerbose | TarnPyxLogging::FlagDebugBanners);
    fixed.logf(LevelInfo, "D::d", "two");
    EXPECT_EQ(sim::callCount("OutputDebugStringA"), 1u) << "fixed logs never go to the debugger";
}

TEST_F(LoggerSim, ClosingWritesTheEndAndDestructionTheAutoClose) {
    {
        LoggerWin log;
        open(log);
    }
    EXPECT_NE(content().find("  I: ***  LOG AUTO-CLOSED ***\r\n"), std::string::npos);
    EXPECT_EQ(content().find("LOGGING ENDED"), std::string::npos);
}

TEST_F(LoggerSim, ALineWaitsForTheMutexAndTakesItOverFromADeadOwner) {
    tarn::test::RootedLogger log(m_root.path(), L"SOFTWARE\\Tarn\\PYX\\Logging", 0);
    log.open(nullptr, L"Firewall", L"FirewallPlugin", LevelInfo, TarnPyxLogging::FlagDebugBanners);
    std::wstring name = L"Global\\TarnPyxLogging_";
    for (const wchar_t c : m_root.path() + L"\\Tarn\\Log\\Firewall\\FirewallPlugin") {
        name += c == L'\\' ? L'_' : c;
    }
    tarn::UniqueHandle held(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(held);
    tarn::UniqueHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    tarn::UniqueHandle leave(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Another writer holds the mutex, then ends without releasing it.
    std::thread owner([&] {
        WaitForSingleObject(held.get(), INFINITE);
        SetEvent(taken.get());
        WaitForSingleObject(leave.get(), INFINITE);
    });
    WaitForSingleObject(taken.get(), INFINITE);
    log.logf(LevelInfo, "While::held", "dropped");
    SetEvent(leave.get());
    owner.join();
    log.logf(LevelInfo, "After::owner", "abandoned but written");
    EXPECT_EQ(content().find("dropped"), std::string::npos);
    EXPECT_NE(content().find("After::owner: abandoned but written"), std::string::npos);
}

TEST_F(LoggerSim, ACaptureHoldsTheMainLogsLevelAgainstItsConfiguration) {
    sim::registry::setDword(kLogging, L"LogLevel", 3);
    tarn::test::LogCapture capture(TarnPyxLogging::LevelDebug);
    open(static_cast<LoggerWin&>(TarnPyxLogging::logger()));
    sim::advanceTime(61s);
    TARN_LOG(TarnPyxLogging::LevelDebug) << "still seen";
    TarnPyxLogging::logger().close();
    EXPECT_TRUE(capture.contains("still seen", TarnPyxLogging::LevelDebug)) << capture.dump();
}

}  // namespace
