// A writer killed at random moments never leaves a torn document: what is on disk always
// parses and holds a prefix of the writes made.
#include <gtest/gtest.h>

#include <random>

#include <nlohmann/json.hpp>

#include "platform/win.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

constexpr int kTotal = 1000;
constexpr DWORD kKilled = 9;
// With the longest pause reached, a writer that never gets one write done is stuck.
constexpr int kRoundsWithoutProgress = 20;

// The number of writes the document holds; fails the test unless they are a prefix.
int checkedPrefix() {
    int err = -1;
    const tarn::UniqueOrreryHandle handle(
        PyxOrrery_OpenHandle(L"crash", L"S-1-5-18", L"check", &err));
    EXPECT_TRUE(handle);
    EXPECT_EQ(err, PYX_ORRERY_OK) << "the document did not parse";
    const tarn::UniqueOrreryString text(PyxOrrery_ExportUtf8(handle.get(), &err));
    const auto document = nlohmann::json::parse(static_cast<const char*>(text.get()));
    const auto& seq = document.contains("seq") ? document["seq"] : nlohmann::json::object();
    int index = 0;
    for (const auto& [key, value] : seq.items()) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "n%04d", index);
        EXPECT_EQ(key, expected);
        EXPECT_EQ(value, index);
        ++index;
    }
    return index;
}

TEST(OrreryCrash, AKilledWriterLeavesAPrefixOfItsWrites) {
    tarn::test::StoreRoot root;
    std::mt19937 random(std::random_device{}());
    DWORD longestPause = 60;
    int done = 0;
    int kills = 0;
    int roundsWithoutProgress = 0;
    while (done < kTotal) {
        const auto writer =
            tarn::test::startProgram(L"orrery_test_writer", {L"crash", L"seq", L"1000"});
        ASSERT_TRUE(writer);
        // Waiting on the writer, not sleeping: the wait ends early when it finished.
        const DWORD pause = std::uniform_int_distribution<DWORD>(1, longestPause)(random);
        const bool killed = WaitForSingleObject(writer.get(), pause) == WAIT_TIMEOUT &&
                            TerminateProcess(writer.get(), kKilled);
        kills += killed ? 1 : 0;
        ASSERT_EQ(WaitForSingleObject(writer.get(), 60000), WAIT_OBJECT_0);
        // A writer that ended by itself must have succeeded: one that fails at once would
        // otherwise be started again for ever.
        DWORD code = 0;
        ASSERT_TRUE(GetExitCodeProcess(writer.get(), &code));
        ASSERT_EQ(code, killed ? kKilled : 0u) << "the writer failed by itself";
        const int now = checkedPrefix();
        ASSERT_FALSE(HasFailure());
        EXPECT_GE(now, done);
        if (now == done) {
            // A slow machine (or a sanitizer) may need longer to start a writer at all.
            longestPause = std::min<DWORD>(longestPause * 2, 10000);
            ASSERT_LT(++roundsWithoutProgress, kRoundsWithoutProgress)
                << "writers started and killed without a single write";
        } else {
            roundsWithoutProgress = 0;
        }
        done = now;
    }
    EXPECT_EQ(done, kTotal);
    EXPECT_GT(kills, 0);
    RecordProperty("kills", kills);
}

}  // namespace
