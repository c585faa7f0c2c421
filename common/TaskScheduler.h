// Runs delayed tasks one after another on the thread that calls run(); any thread may
// schedule. Tasks with a unique name exist at most once in the queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "common/Task.h"

namespace Tarn {

class TaskScheduler {
public:
    // Due times: 100-nanosecond ticks of the system (wall) clock.
    using Ticks = int64_t;

    TaskScheduler();
    virtual ~TaskScheduler();
    TaskScheduler(const TaskScheduler&) = delete;
    TaskScheduler& operator=(const TaskScheduler&) = delete;

    // Queues `task` to run after `delay` plus a random extra of 0 to `spread`; returns the due
    // time. A unique task whose name is queued already replaces the queued one only when it is
    // due earlier; otherwise it is dropped and the queued task's due time is returned.
    virtual Ticks schedule(std::unique_ptr<Task> task, std::chrono::milliseconds delay,
                           const std::chrono::milliseconds& spread = std::chrono::milliseconds(0));
    // Removes queued tasks of that name (all when maxCount is 0), front first, without
    // onCancel; returns how many.
    virtual size_t cancel(const std::string& name, size_t maxCount = 0);
    // Every task due before now + delay becomes due at now + delay.
    virtual void postpone(std::chrono::milliseconds delay);
    // Runs tasks until stop(); then, when asked to, discards the queue with onCancel().
    virtual void run();
    // Ends run() after the current task; returns at once. A stop before run() makes the next
    // run() return at once.
    virtual void stop(bool discardPending);

protected:
    // The next due task, or null when stop was requested.
    virtual std::unique_ptr<Task> waitForNextTask();
    virtual Ticks now();
    // Makes the loop look at the queue and the clock again (for clocks that jump).
    void wake();

private:
    struct Entry {
        Ticks due;
        std::unique_ptr<Task> task;
    };

    void insert(Entry entry);

    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::list<Entry> m_queue;  // sorted by due time; equal times in scheduling order
    bool m_stopRequested = false;
    bool m_discardPending = false;
    bool m_wakeUp = false;
    std::mt19937 m_random;
};

}  // namespace Tarn
