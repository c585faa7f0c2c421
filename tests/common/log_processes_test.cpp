// Two processes writing one log file: every line arrives whole and in its writer's order.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "common/Str.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

constexpr int kLinesPerWriter = 10000;

pid_t startWriter(const std::wstring& root, int writer) {
    const std::string rootText = tarn::str::toUtf8(root);
    const std::string writerText = std::to_string(writer);
    const std::string count = std::to_string(kLinesPerWriter);
    std::vector<char*> argv = {
        const_cast<char*>(TARN_LOG_WRITER), const_cast<char*>(rootText.c_str()),
        const_cast<char*>(writerText.c_str()), const_cast<char*>(count.c_str()), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, TARN_LOG_WRITER, nullptr, nullptr, argv.data(), environ), 0);
    return pid;
}

int exitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LogProcesses, TwoWritersKeepEveryLineWhole) {
    tarn::test::TempDir root;
    const pid_t first = startWriter(root.path(), 1);
    const pid_t second = startWriter(root.path(), 2);
    ASSERT_EQ(exitCode(first), 0);
    ASSERT_EQ(exitCode(second), 0);

    const std::string content =
        tarn::test::readFile(root.path() + L"\\Tarn\\Log\\Firewall\\Shared.log");
    const std::string filler(80, '=');
    int next[3] = {0, 0, 0};
    int banners = 0;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = content.substr(start, end - start);
        if (line.empty() || line.find("***  LOGGING ") != std::string::npos) {
            ++banners;
            continue;
        }
        const size_t at = line.find(" I: Writer::run: writer ");
        ASSERT_NE(at, std::string::npos) << "torn line: " << line;
        const std::string rest = line.substr(at + 24);
        const int writer = rest[0] - '0';
        ASSERT_TRUE(writer == 1 || writer == 2) << line;
        const std::string expected = std::string(1, rest[0]) + " line " +
                                     std::string(5 - std::to_string(next[writer]).size(), '0') +
                                     std::to_string(next[writer]) + " " + filler;
        ASSERT_EQ(rest, expected) << "lines of one writer out of order or mixed";
        ++next[writer];
    }
    EXPECT_EQ(start, content.size()) << "the file ends with a whole line";
    EXPECT_EQ(next[1], kLinesPerWriter);
    EXPECT_EQ(next[2], kLinesPerWriter);
    EXPECT_EQ(banners, 6) << "each writer: empty line, start and end";
}

}  // namespace
