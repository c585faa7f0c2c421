// The provider's write queue on its own: order, waiting for one's own write, and writes made
// from a callback while the writer waits for that callback.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "settings/StoreWriteQueue.h"

namespace {

using namespace std::chrono_literals;
using tarn::StoreWriteQueue;

TEST(StoreWriteQueue, AWriteFromACallbackFollowsTheWriteThatWaitsForTheCallback) {
    StoreWriteQueue queue;
    std::vector<int> done;
    std::future<void> callback;
    queue.run([&] {
        done.push_back(1);
        // A library delivering this write's change at once, on its callback thread, and
        // waiting for it: the callback's own write must not wait for this one in turn.
        callback = std::async(std::launch::async, [&] {
            const StoreWriteQueue::CallbackScope inCallback;
            queue.run([&] { done.push_back(3); });
        });
        ASSERT_EQ(callback.wait_for(10s), std::future_status::ready) << "the callback waited";
        done.push_back(2);
    });
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3})) << "the writer did the callback's write last";
}

TEST(StoreWriteQueue, AWriteOnTheWritingThreadFollowsInTurn) {
    StoreWriteQueue queue;
    std::vector<int> done;
    queue.run([&] {
        queue.run([&] { done.push_back(2); });
        done.push_back(1);
    });
    EXPECT_EQ(done, (std::vector<int>{1, 2}));
}

TEST(StoreWriteQueue, ACallerReturnsOnlyAfterItsWriteWasDone) {
    StoreWriteQueue queue;
    std::promise<void> writing;
    std::promise<void> release;
    std::thread first([&] {
        queue.run([&] {
            writing.set_value();
            release.get_future().wait();
        });
    });
    writing.get_future().wait();
    // The first thread writes; this caller's write is done by it, and the call waits for that.
    std::atomic<bool> written{false};
    bool writtenOnReturn = false;
    std::thread second([&] {
        queue.run([&] { written = true; });
        writtenOnReturn = written;
    });
    std::this_thread::sleep_for(20ms);  // let the second caller queue up (either order passes)
    release.set_value();
    second.join();
    EXPECT_TRUE(writtenOnReturn);
    first.join();
}

TEST(StoreWriteQueue, WritesFromManyThreadsKeepEachThreadsOrder) {
    StoreWriteQueue queue;
    std::mutex mutex;
    std::vector<std::pair<int, int>> done;  // (thread, sequence)
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                queue.run([&, t, i] {
                    std::lock_guard lock(mutex);
                    done.emplace_back(t, i);
                });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(done.size(), 800u);
    std::vector<int> next(4, 0);
    for (const auto& [t, i] : done) {
        EXPECT_EQ(i, next[static_cast<size_t>(t)]++) << "thread " << t;
    }
}

}  // namespace
