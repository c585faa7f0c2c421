// The write path of the file logger with several threads: lines that threads log at the same
// time are written in batches, one cross-process lock and one file write per batch, and still
// arrive whole, once, in each thread's order, with the logging thread's id, and rotate where a
// write per line would. Runs on the simulated machine and under wine.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <regex>
#include <thread>
#include <vector>

#include "common/logging/Log.h"
#include "common/registry/Win32Registry.h"
#include "tests/common/RootedLogger.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using tarn::test::RootedLogger;
using TarnPyxLogging::LevelInfo;

std::vector<std::string> linesOf(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(content.substr(start, end - start));
    }
    return lines;
}

class LoggerBatches : public ::testing::Test {
protected:
    std::wstring logFile(const std::wstring& name, int number = 0) const {
        const std::wstring base = m_root.path() + L"\\Tarn\\Log\\Test\\" + name;
        return number == 0 ? base + L".log" : base + L"." + std::to_wstring(number) + L".log";
    }

    tarn::test::TempDir m_root;
    tarn::test::TestRegistryKey m_config{HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_WOW64_32KEY};
};

TEST_F(LoggerBatches, LinesOfManyThreadsArriveWholeOnceInOrderWithTheirThreadsId) {
    constexpr int kThreads = 4;
    constexpr int kLines = 3000;
    ASSERT_TRUE(tarn::Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)
                    .writeDword(m_config.path(), L"LogMaxSizeKB", 1u << 20));
    RootedLogger log(m_root.path(), m_config.path());
    log.open(nullptr, L"Test", L"Threads", LevelInfo, 0);
    std::vector<std::thread> threads;
    std::vector<DWORD> ids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ids[t] = GetCurrentThreadId();
            for (int i = 0; i < kLines; ++i) {
                TARN_LOG_TO(log, LevelInfo) << "thread " << t << " line " << i;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    // Every line is in the file once the threads that logged it have returned.
    const std::string written = tarn::test::readFile(logFile(L"Threads"));
    log.close();

    const std::regex shape(
        R"(^\S+ \S+ \[[0-9a-f]{4,}\.([0-9a-f]{4,})\]  I: \S+: thread (\d) line (\d+)$)");
    std::vector<int> next(kThreads, 0);
    int banners = 0;
    for (const auto& line : linesOf(written)) {
        std::smatch match;
        if (!std::regex_match(line, match, shape)) {
            ++banners;
            ASSERT_TRUE(line.empty() || line.find("***  LOGGING ") != std::string::npos) << line;
            continue;
        }
        const int thread = std::stoi(match[2]);
        ASSERT_EQ(std::stoi(match[3]), next[thread]) << "thread " << thread << " out of order";
        ++next[thread];
        char id[16];
        std::snprintf(id, sizeof id, "%04x", static_cast<unsigned>(ids[thread]));
        ASSERT_EQ(match[1].str(), id) << "the id of the thread that logged the line";
    }
    EXPECT_EQ(banners, 2) << "the empty line and the start banner";
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

// A file context whose first batch waits at the gate, to hold its writer there.
class GatedContext : public tarn::test::RootedContext {
public:
    using RootedContext::RootedContext;
    std::promise<void> entered;
    std::shared_future<void> gate;

    bool writeLines(const std::vector<std::string>& lines) override {
        if (!m_first.exchange(true)) {
            entered.set_value();
            gate.wait();
        }
        return RootedContext::writeLines(lines);
    }

private:
    std::atomic<bool> m_first{false};
};

class GatedLogger : public TarnPyxLogging::LoggerWin {
public:
    GatedLogger(std::wstring root, std::wstring key)
        : m_root(std::move(root)), m_key(std::move(key)) {}
    GatedContext* context = nullptr;
    std::promise<void> release;

protected:
    std::unique_ptr<TarnPyxLogging::FileContextBase> createFileContext(
        const std::wstring& ns, const std::wstring& component, const std::wstring& logName,
        int32_t level, uint32_t flags) override {
        auto created = std::make_unique<GatedContext>(m_root, m_key, 500, ns, component, logName,
                                                      level, flags);
        created->gate = release.get_future().share();
        context = created.get();
        return created;
    }

private:
    std::wstring m_root;
    std::wstring m_key;
};

TEST_F(LoggerBatches, AThreadReturnsAtOnceWhileAnotherWritesAndTheWriterTakesItsLine) {
    GatedLogger log(m_root.path(), m_config.path());
    log.open(nullptr, L"Test", L"Gated", LevelInfo, TarnPyxLogging::FlagDebugBanners);
    auto entered = log.context->entered.get_future();
    std::thread writer([&] { TARN_LOG_TO(log, LevelInfo) << "first"; });
    entered.wait();
    TARN_LOG_TO(log, LevelInfo) << "second";  // returns although the writer is held
    EXPECT_EQ(tarn::test::readFile(logFile(L"Gated")), "");
    log.release.set_value();
    writer.join();
    const auto lines = linesOf(tarn::test::readFile(logFile(L"Gated")));
    ASSERT_EQ(lines.size(), 2u) << "the writer wrote the line queued while it wrote";
    EXPECT_NE(lines[0].find(": first"), std::string::npos);
    EXPECT_NE(lines[1].find(": second"), std::string::npos);
    log.close();
}

TEST_F(LoggerBatches, ABatchRotatesWhereOneWritePerLineWould) {
    ASSERT_TRUE(tarn::Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)
                    .writeDword(m_config.path(), L"LogMaxSizeKB", 1));
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i) {
        lines.push_back("line " + std::to_string(i) + " " + std::string(20 + (i * 7) % 50, '.') +
                        "\r\n");
    }
    // The same lines through both paths, into two logs.
    std::map<std::wstring, std::vector<std::string>> files;
    for (const wchar_t* name : {L"OneByOne", L"Batched"}) {
        tarn::test::RootedContext context(m_root.path(), m_config.path(), 500, L"", L"Test", name,
                                          LevelInfo, 0);
        context.readConfiguration();
        ASSERT_TRUE(context.establishLocation());
        if (std::wstring(name) == L"OneByOne") {
            for (const auto& line : lines) {
                ASSERT_TRUE(context.write(line));
            }
        } else {
            ASSERT_TRUE(
                context.writeLines(std::vector<std::string>(lines.begin(), lines.begin() + 3)));
            ASSERT_TRUE(
                context.writeLines(std::vector<std::string>(lines.begin() + 3, lines.end())));
        }
        for (const int number : {2, 1, 0}) {
            files[name].push_back(tarn::test::readFile(logFile(name, number)));
        }
    }
    EXPECT_FALSE(files[L"Batched"][0].empty()) << "it rotated";
    EXPECT_EQ(files[L"Batched"], files[L"OneByOne"]);
}

TEST_F(LoggerBatches, TheStatementsTextKeepsItsLimit) {
    ASSERT_TRUE(tarn::Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)
                    .writeDword(m_config.path(), L"LogMaxSizeKB", 1024));
    RootedLogger log(m_root.path(), m_config.path());
    log.open(nullptr, L"Test", L"Limit", LevelInfo, TarnPyxLogging::FlagDebugBanners);
    TARN_LOG_TO(log, LevelInfo) << std::string(65535, 'x');
    TARN_LOG_TO(log, LevelInfo) << std::string(65536, 'y');
    log.logf(LevelInfo, "Null::text", "%hs", static_cast<const char*>(nullptr));
    log.close();
    const auto lines = linesOf(tarn::test::readFile(logFile(L"Limit")));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(std::string(65535, 'x')), std::string::npos);
    EXPECT_NE(lines[1].find("*E: TARN_PYX_LOG failure: too large message. Format: %hs"),
              std::string::npos);
    EXPECT_NE(lines[2].find("Null::text: (null)"), std::string::npos);
}

}  // namespace
