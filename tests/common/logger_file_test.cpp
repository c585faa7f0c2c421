// The file logger on a real file system: line layout, rotation, the cross-process mutex, the
// last error, and statements that fail while streaming.
#include <gtest/gtest.h>

#include <cstdio>
#include <iomanip>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Str.h"
#include "common/logging/Log.h"
#include "common/registry/Win32Registry.h"
#include "tests/common/RootedLogger.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using tarn::test::RootedLogger;
using TarnPyxLogging::LevelError;
using TarnPyxLogging::LevelInfo;
using TarnPyxLogging::LevelWarning;

std::vector<std::string> linesOf(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(content.substr(start, end - start));
    }
    EXPECT_EQ(start, content.size()) << "every line ends with CR LF";
    return lines;
}

// The text after "[pid.tid] " of a line, which is all that a test can know in advance.
std::string afterIds(const std::string& line) {
    const size_t close = line.find("] ");
    return close == std::string::npos ? line : line.substr(close + 2);
}

class LoggerFile : public ::testing::Test {
public:
    std::wstring logFile(const std::wstring& name, int number = 0) const {
        const std::wstring base = m_root.path() + L"\\Tarn\\Log\\Test\\" + name;
        return number == 0 ? base + L".log" : base + L"." + std::to_wstring(number) + L".log";
    }

protected:
    void configure(const wchar_t* name, DWORD value) {
        ASSERT_TRUE(tarn::Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)
                        .writeDword(m_config.path(), name, value));
    }

    tarn::test::TempDir m_root;
    tarn::test::TestRegistryKey m_config{HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_WOW64_32KEY};
    RootedLogger m_log{m_root.path(), m_config.path()};
};

TEST_F(LoggerFile, LinesFollowTheFixedLayout) {
    m_log.open(nullptr, L"Test", L"Layout", LevelInfo, 0);
    m_log.logf(LevelInfo, "Component::operation", "%hs %d", "value", 5);
    m_log.logf(LevelWarning, "Other::op", L"%ls!", L"wide \u00e9");
    m_log.logf(LevelInfo, "", "no tag");
    m_log.logf(TarnPyxLogging::LevelDebug, "Hidden::op", "below the level");
    m_log.close();

    const auto lines = linesOf(tarn::test::readFile(logFile(L"Layout")));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "");
    const std::regex stamp(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[([0-9a-f]{4,})\.[0-9a-f]{4,}\] .*)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1], match, stamp)) << lines[1];
    char pid[16];
    std::snprintf(pid, sizeof pid, "%04x", static_cast<unsigned>(GetCurrentProcessId()));
    EXPECT_EQ(match[1].str(), pid);
    EXPECT_TRUE(std::regex_match(
        afterIds(lines[1]),
        std::regex(
            R"( I: \*\*\*  LOGGING STARTED  \*\*\* \(UTC[+-]\d+:\d\d, session: 0x[0-9a-f]+\))")))
        << lines[1];
    EXPECT_EQ(afterIds(lines[2]), " I: Component::operation: value 5");
    EXPECT_EQ(afterIds(lines[3]), ".W: Other::op: wide \xc3\xa9!");
    EXPECT_EQ(afterIds(lines[4]), " I: no tag");
    EXPECT_EQ(afterIds(lines[5]), " I: ***  LOGGING ENDED  ***");
    for (const auto& line : lines) {
        EXPECT_TRUE(line.empty() || std::regex_match(line, stamp)) << line;
    }
}

// The current file and the files numbered 1 and 2 hold the last lines written ("line NNN"), in
// order and without gaps, each within the size bound of 1 KiB (one line over at most).
void expectRotatedFiles(const LoggerFile& test, const std::wstring& name, int lastLine) {
    EXPECT_FALSE(tarn::test::fileExists(test.logFile(name, 3)));
    std::vector<int> numbers;
    for (const int file : {2, 1, 0}) {
        const std::string content = tarn::test::readFile(test.logFile(name, file));
        ASSERT_FALSE(content.empty()) << "file " << file;
        EXPECT_LT(content.size(), 1024u + 200u) << "file " << file;
        for (const auto& line : linesOf(content)) {
            if (const size_t at = line.find("line "); at != std::string::npos) {
                numbers.push_back(std::stoi(line.substr(at + 5, 3)));
            }
        }
    }
    ASSERT_FALSE(numbers.empty());
    for (size_t i = 1; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
    }
    EXPECT_EQ(numbers.back(), lastLine);
    EXPECT_GT(numbers.front(), 0) << "the oldest lines were rotated away";
}

TEST_F(LoggerFile, RotationKeepsTheCurrentAndTwoOlderFiles) {
    configure(L"LogMaxSizeKB", 1);
    m_log.open(nullptr, L"Test", L"Rotating", LevelInfo, 0);
    const std::string filler(60, '.');
    for (int i = 0; i < 60; ++i) {
        m_log.logf(LevelInfo, "Rotation::test", "line %03d %hs", i, filler.c_str());
    }
    m_log.close();
    expectRotatedFiles(*this, L"Rotating", 59);

    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((m_root.path() + L"\\Tarn\\Log\\Test\\*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int files = 0;
    do {
        const std::wstring name = found.cFileName;
        EXPECT_EQ(name.find(L"__delete_"), std::wstring::npos);
        files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    EXPECT_EQ(files, 3);
}

TEST_F(LoggerFile, AViewerThatDoesNotShareDeletingLeavesTheBoundAndTheOldFiles) {
    configure(L"LogMaxSizeKB", 1);
    m_log.open(nullptr, L"Test", L"Viewed", LevelInfo, 0);
    const std::string filler(60, '.');
    int line = 0;
    for (; line < 30; ++line) {
        m_log.logf(LevelInfo, "Rotation::test", "line %03d %hs", line, filler.c_str());
    }
    // A log viewer: reads the current file and lets others write it, but not rename it.
    const tarn::UniqueHandle viewer(CreateFileW(logFile(L"Viewed").c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer);
    for (; line < 90; ++line) {
        m_log.logf(LevelInfo, "Rotation::test", "line %03d %hs", line, filler.c_str());
    }
    expectRotatedFiles(*this, L"Viewed", line - 1);
    m_log.close();
}

TEST_F(LoggerFile, TheNamedMutexLivesWithTheOpenLog) {
    std::wstring expected = L"Global\\TarnPyxLogging_";
    for (const wchar_t c : m_root.path() + L"\\Tarn\\Log\\Test\\Locked") {
        expected += c == L'\\' ? L'_' : c;
    }
    m_log.open(nullptr, L"Test", L"Locked", LevelInfo, 0);
    tarn::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, expected.c_str()));
    EXPECT_TRUE(mutex) << "error " << GetLastError();
    mutex.reset();
    m_log.close();
    mutex.reset(OpenMutexW(SYNCHRONIZE, FALSE, expected.c_str()));
    EXPECT_FALSE(mutex);
}

TEST_F(LoggerFile, LoggingKeepsTheLastError) {
    m_log.setLineObserver([](int32_t, std::string_view, std::string_view) {});
    SetLastError(4242);
    m_log.open(nullptr, L"Test", L"Errors", LevelInfo, 0);  // makes folders and files
    EXPECT_EQ(GetLastError(), 4242u);
    TARN_LOG_TO(m_log, LevelInfo) << "streamed " << std::wstring(L"wide") << 1;
    EXPECT_EQ(GetLastError(), 4242u);
    m_log.logf(LevelError, "Errors::test", L"%ls", L"printf");
    EXPECT_EQ(GetLastError(), 4242u);
    EXPECT_TRUE(m_log.isEnabled(LevelInfo));
    m_log.flush();
    m_log.close();
    EXPECT_EQ(GetLastError(), 4242u);
}

TEST_F(LoggerFile, ASecondOpenKeepsTheFirstFile) {
    m_log.open(nullptr, L"Test", L"First", LevelInfo, 0);
    m_log.open(nullptr, L"Test", L"Second", LevelInfo, 0);
    m_log.logf(LevelInfo, "Open::twice", "where");
    m_log.close();
    EXPECT_FALSE(tarn::test::fileExists(logFile(L"Second")));
    EXPECT_NE(tarn::test::readFile(logFile(L"First")).find("Open::twice: where"),
              std::string::npos);
}

TEST_F(LoggerFile, AMessageTooLargeForTheBuffersIsReplaced) {
    m_log.open(nullptr, L"Test", L"Large", LevelInfo, TarnPyxLogging::FlagDebugBanners);
    TARN_LOG_TO(m_log, LevelInfo) << std::string(70000, 'x');
    m_log.close();
    const auto lines = linesOf(tarn::test::readFile(logFile(L"Large")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(afterIds(lines[0]), "*E: TARN_PYX_LOG failure: too large message. Format: %hs");
}

struct Thrower {};
std::ostream& operator<<(std::ostream& out, const Thrower&) {
    out << "partial";
    throw std::runtime_error("boom");
}
struct OddThrower {};
std::ostream& operator<<(std::ostream&, const OddThrower&) {
    throw 42;
}

TEST(LogStatement, AValueThatThrowsIsReplacedByTheExceptionText) {
    TarnPyxLogging::LoggerWin log;  // never opened: lines reach only the observer
    log.setLevel(LevelInfo);
    std::vector<std::string> messages;
    std::vector<std::string> tags;
    log.setLineObserver([&](int32_t, std::string_view tag, std::string_view message) {
        tags.emplace_back(tag);
        messages.emplace_back(message);
    });
    TARN_LOG_TO(log, LevelInfo) << "a " << Thrower{} << " b";
    TARN_LOG_TO(log, LevelInfo) << OddThrower{} << 1;
    TARN_LOG_TO(log, TarnPyxLogging::LevelDebug) << "filtered";
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "a !exception was thrown!: boom b");
    EXPECT_EQ(messages[1], "!exception was thrown!1");
    EXPECT_EQ(tags[0], "LogStatement_AValueThatThrowsIsReplacedByTheExceptionText_Test::TestBody");
}

TEST(LogStatement, TagsAreTrimmed) {
    const struct {
        const char* function;
        const char* tag;
    } cases[] = {
        {nullptr, ""},
        {"", ""},
        {"`anonymous-namespace'::Helper::run", "::Helper::run"},
        {"FwRuleManager::deleteNonTarnRules::<lambda_1>::operator ()",
         "FwRuleManager::deleteNonTarnRules::<lambda>"},
        {"FWSettings::start::<lambda_2>::operator ()", "FWSettings::start::<lambda>"},
        {"Plain::<lambda_3>::call", "Plain::<lambda_3>::call"},  // not the call operator
        {"Plain::name()", "Plain::name()"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TarnPyxLogging::trimTag(c.function), c.tag) << (c.function ? c.function : "null");
    }
}

// Statements take their streams from those that finished statements left: a stream comes
// empty and without the formatting of the statement before, also while another is in use.
struct LogsWhileStreamed {
    TarnPyxLogging::Logger* log;
};
std::ostream& operator<<(std::ostream& out, const LogsWhileStreamed& value) {
    TARN_LOG_TO(*value.log, LevelInfo) << "inner " << 7;
    return out << "outer";
}

TEST(LogStatement, EveryStatementStartsWithAFreshStream) {
    TarnPyxLogging::LoggerWin log;
    log.setLevel(LevelInfo);
    std::vector<std::string> messages;
    log.setLineObserver([&](int32_t, std::string_view, std::string_view message) {
        messages.emplace_back(message);
    });
    TARN_LOG_TO(log, LevelInfo) << std::hex << std::showbase << std::uppercase << std::left
                                << std::setfill('*') << std::setw(8) << 255 << ' ' << std::boolalpha
                                << true << ' ' << std::fixed << std::setprecision(1) << 2.25;
    TARN_LOG_TO(log, LevelInfo) << 255 << ' ' << true << ' ' << 2.25 << ' ' << std::setw(4) << 7;
    TARN_LOG_TO(log, LevelInfo) << "before " << LogsWhileStreamed{&log} << " after";
    TARN_LOG_TO(log, LevelInfo) << "last";
    EXPECT_EQ(messages, (std::vector<std::string>{"0XFF**** true 2.2", "255 1 2.25    7", "inner 7",
                                                  "before outer after", "last"}));
}

// The start of every line, written without the C library, against the line format itself.
TEST(LogLine, ThePrefixFollowsTheFixedFormat) {
    const struct {
        SYSTEMTIME time;
        DWORD process;
        DWORD thread;
        const char* level;
    } cases[] = {
        {{2024, 1, 3, 31, 8, 5, 9, 42}, 0xa1c, 0xf30, " I"},
        {{1999, 12, 5, 1, 0, 0, 0, 0}, 0x5, 0x0, "*E"},
        {{2100, 10, 0, 10, 23, 59, 59, 999}, 0x12345, 0xfffffffe, "  "},
        {{987, 7, 1, 9, 10, 10, 10, 100}, 0xffff, 0x10000, ".W"},
    };
    for (const auto& c : cases) {
        const SYSTEMTIME& t = c.time;
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      "%04d-%02d-%02d %02d:%02d:%02d.%03d [%04x.%04x] %s: ", t.wYear, t.wMonth,
                      t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                      static_cast<unsigned>(c.process), static_cast<unsigned>(c.thread), c.level);
        char prefix[TarnPyxLogging::kLinePrefixMax];
        const size_t length =
            TarnPyxLogging::formatLinePrefix(prefix, t, c.process, c.thread, c.level);
        EXPECT_EQ(std::string(prefix, length), expected);
    }
}

}  // namespace
