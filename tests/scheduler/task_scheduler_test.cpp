// The scheduler's loop runs on its own thread here; time is a fake clock that the test moves,
// so nothing waits for real intervals.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "common/TaskScheduler.h"

namespace {

using namespace std::chrono_literals;
using Tarn::Task;
using Tarn::TaskScheduler;

constexpr TaskScheduler::Ticks kStart = 1'000'000'000;
constexpr TaskScheduler::Ticks ms(int64_t milliseconds) {
    return milliseconds * 10000;
}

class FakeClockScheduler : public TaskScheduler {
public:
    void advance(std::chrono::milliseconds delta) {
        m_now += ms(delta.count());
        wake();
    }

protected:
    Ticks now() override { return m_now.load(); }

private:
    std::atomic<Ticks> m_now{kStart};
};

// What happened to the tasks, in order: "name" for a run, "name!" for a cancel.
class Journal {
public:
    void add(std::string entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
        m_changed.notify_all();
    }
    // Waits (for real, but only until the event) for `count` entries.
    bool waitFor(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_entries.size() >= count; });
    }
    std::vector<std::string> entries() {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_entries;
};

class RecordingTask : public Task {
public:
    RecordingTask(std::string name, bool unique, Journal& journal)
        : Task(std::move(name), unique), m_journal(journal) {}
    void execute() override { m_journal.add(name()); }
    void onCancel() override { m_journal.add(name() + "!"); }

private:
    Journal& m_journal;
};

class SchedulerTest : public ::testing::Test {
protected:
    ~SchedulerTest() override {
        scheduler.stop(false);
        if (loop.joinable()) {
            loop.join();
        }
    }
    void startLoop() {
        loop = std::thread([this] { scheduler.run(); });
    }
    std::unique_ptr<Task> task(const std::string& name, bool unique = false) {
        return std::make_unique<RecordingTask>(name, unique, journal);
    }
    void stopLoop(bool discard) {
        scheduler.stop(discard);
        loop.join();
    }

    FakeClockScheduler scheduler;
    Journal journal;
    std::thread loop;
};

TEST_F(SchedulerTest, UniqueTaskKeepsTheEarlierDueTime) {
    struct Case {
        std::chrono::milliseconds first, second;
    };
    for (const Case& c : {Case{2000ms, 5000ms}, Case{5000ms, 2000ms}}) {
        FakeClockScheduler local;
        Journal runs;
        const auto dueFirst =
            local.schedule(std::make_unique<RecordingTask>("t", true, runs), c.first);
        const auto dueSecond =
            local.schedule(std::make_unique<RecordingTask>("t", true, runs), c.second);
        EXPECT_EQ(dueSecond, kStart + ms(2000));
        EXPECT_EQ(std::min(dueFirst, dueSecond), kStart + ms(2000));
        std::thread runner([&] { local.run(); });
        local.advance(1999ms);
        local.advance(1ms);
        ASSERT_TRUE(runs.waitFor(1));
        local.advance(10000ms);
        local.stop(false);
        runner.join();
        EXPECT_EQ(runs.entries().size(), 1u) << "first " << c.first.count();
    }
}

TEST_F(SchedulerTest, EqualDueTimesRunInSchedulingOrder) {
    scheduler.schedule(task("same"), 100ms);
    scheduler.schedule(task("other"), 100ms);
    scheduler.schedule(task("same"), 100ms);
    startLoop();
    scheduler.advance(100ms);
    ASSERT_TRUE(journal.waitFor(3));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"same", "other", "same"}));
}

TEST_F(SchedulerTest, NothingRunsBeforeItsDueTime) {
    scheduler.schedule(task("later"), 1000ms);
    scheduler.schedule(task("sooner"), 10ms);
    startLoop();
    scheduler.advance(10ms);
    ASSERT_TRUE(journal.waitFor(1));
    scheduler.advance(989ms);
    scheduler.schedule(task("marker"), 0ms);
    ASSERT_TRUE(journal.waitFor(2));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"sooner", "marker"}));
    scheduler.advance(1ms);
    ASSERT_TRUE(journal.waitFor(3));
    EXPECT_EQ(journal.entries().back(), "later");
}

TEST_F(SchedulerTest, ZeroDelayTaskOvertakesAWaitingOne) {
    scheduler.schedule(task("late"), 60000ms);
    startLoop();
    scheduler.schedule(task("now"), 0ms);
    ASSERT_TRUE(journal.waitFor(1));
    EXPECT_EQ(journal.entries(), std::vector<std::string>{"now"});
}

TEST_F(SchedulerTest, StopWithDiscardCancelsEveryQueuedTaskOnce) {
    for (const char* name : {"a", "b", "c"}) {
        scheduler.schedule(task(name), 5000ms);
    }
    startLoop();
    stopLoop(true);
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"a!", "b!", "c!"}));
    // The queue is empty now: a later run has nothing left to do.
    startLoop();
    scheduler.advance(10000ms);
    scheduler.schedule(task("fresh"), 0ms);
    ASSERT_TRUE(journal.waitFor(4));
    EXPECT_EQ(journal.entries().back(), "fresh");
}

TEST_F(SchedulerTest, StopWithoutDiscardKeepsTasksForTheNextRun) {
    scheduler.schedule(task("kept"), 5000ms);
    startLoop();
    stopLoop(false);
    EXPECT_TRUE(journal.entries().empty());
    startLoop();
    scheduler.advance(5000ms);
    ASSERT_TRUE(journal.waitFor(1));
    EXPECT_EQ(journal.entries(), std::vector<std::string>{"kept"});
}

TEST_F(SchedulerTest, StopBeforeRunEndsTheNextRunAtOnce) {
    scheduler.schedule(task("due"), 0ms);
    scheduler.stop(false);
    scheduler.run();  // returns without running the due task
    EXPECT_TRUE(journal.entries().empty());
    startLoop();
    ASSERT_TRUE(journal.waitFor(1));
}

TEST_F(SchedulerTest, CancelRemovesByNameFrontFirstWithoutOnCancel) {
    scheduler.schedule(task("x"), 10ms);
    scheduler.schedule(task("y"), 20ms);
    scheduler.schedule(task("x"), 30ms);
    scheduler.schedule(task("x"), 40ms);
    EXPECT_EQ(scheduler.cancel("x", 2), 2u);
    EXPECT_EQ(scheduler.cancel("missing"), 0u);
    startLoop();
    scheduler.advance(100ms);
    ASSERT_TRUE(journal.waitFor(2));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"y", "x"}));
}

TEST_F(SchedulerTest, PostponeMovesOnlyEarlierTasks) {
    const auto early = scheduler.schedule(task("early"), 100ms);
    scheduler.schedule(task("late"), 9000ms);
    EXPECT_EQ(early, kStart + ms(100));
    scheduler.postpone(5000ms);
    startLoop();
    scheduler.advance(4999ms);
    scheduler.schedule(task("probe"), 0ms);
    ASSERT_TRUE(journal.waitFor(1));
    EXPECT_EQ(journal.entries(), std::vector<std::string>{"probe"});
    scheduler.advance(1ms);
    ASSERT_TRUE(journal.waitFor(2));
    EXPECT_EQ(journal.entries().back(), "early");
    scheduler.advance(4000ms);
    ASSERT_TRUE(journal.waitFor(3));
    EXPECT_EQ(journal.entries().back(), "late");
}

TEST_F(SchedulerTest, NoLimitMeansNeverRatherThanAtOnce) {
    constexpr auto kNoLimit = std::chrono::milliseconds::max();
    EXPECT_EQ(scheduler.schedule(task("never"), kNoLimit),
              std::numeric_limits<TaskScheduler::Ticks>::max());
    scheduler.schedule(task("postponed"), 10ms);
    scheduler.postpone(kNoLimit);
    startLoop();
    scheduler.advance(24h * 365 * 100);
    scheduler.schedule(task("probe"), 0ms);
    ASSERT_TRUE(journal.waitFor(1));
    scheduler.schedule(task("second probe"), 0ms);
    ASSERT_TRUE(journal.waitFor(2));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"probe", "second probe"}));
}

TEST_F(SchedulerTest, SpreadAddsAtMostTheSpread) {
    for (int i = 0; i < 200; ++i) {
        const auto due = scheduler.schedule(task("s"), 1000ms, 50ms);
        EXPECT_GE(due, kStart + ms(1000));
        EXPECT_LE(due, kStart + ms(1050));
    }
}

TEST_F(SchedulerTest, TaskMayScheduleItselfAgain) {
    int remaining = 3;
    std::function<void()> tick;
    tick = [&] {
        // Queued before it is journalled, so the test moves the clock only after it.
        if (--remaining > 0) {
            scheduler.schedule(std::make_unique<Tarn::UniqueFuncTask>("tick", tick), 10ms);
        }
        journal.add("tick");
    };
    scheduler.schedule(std::make_unique<Tarn::UniqueFuncTask>("tick", tick), 0ms);
    startLoop();
    ASSERT_TRUE(journal.waitFor(1));
    scheduler.advance(10ms);
    ASSERT_TRUE(journal.waitFor(2));
    scheduler.advance(10ms);
    ASSERT_TRUE(journal.waitFor(3));
    EXPECT_EQ(remaining, 0);
}

TEST(UniqueFuncTask, IsUniqueAndAnEmptyFunctionThrows) {
    Tarn::UniqueFuncTask empty("e", {});
    EXPECT_TRUE(empty.unique());
    EXPECT_THROW(empty.execute(), std::bad_function_call);
}

TEST(TaskScheduler, RealClockRunsADueTask) {
    TaskScheduler scheduler;
    bool ran = false;
    scheduler.schedule(std::make_unique<Tarn::UniqueFuncTask>("run",
                                                              [&] {
                                                                  ran = true;
                                                                  scheduler.stop(false);
                                                              }),
                       0ms);
    scheduler.run();
    EXPECT_TRUE(ran);
}

}  // namespace
