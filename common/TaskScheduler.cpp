#include "common/TaskScheduler.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/win.h"

namespace Tarn {

namespace {

using Ticks = TaskScheduler::Ticks;
using Milliseconds = std::chrono::milliseconds::rep;

constexpr Ticks kTicksPerMillisecond = 10000;
constexpr auto kLongestWait = std::chrono::hours(24 * 10);

// Sums and products held at the ends of the range: milliseconds::max() is how callers say "no
// limit", and must not wrap round into the past.
template <typename T>
T saturatedAdd(T a, T b) {
    T sum{};
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min();
    }
    return sum;
}

Ticks ticksOf(Milliseconds milliseconds) {
    Ticks ticks = 0;
    if (__builtin_mul_overflow(milliseconds, kTicksPerMillisecond, &ticks)) {
        return milliseconds > 0 ? std::numeric_limits<Ticks>::max()
                                : std::numeric_limits<Ticks>::min();
    }
    return ticks;
}

// The due time `delay` milliseconds after `now`.
Ticks dueAfter(Ticks now, Milliseconds delay) {
    return saturatedAdd(now, ticksOf(delay));
}

}  // namespace

TaskScheduler::TaskScheduler() : m_random(std::random_device{}()) {}

TaskScheduler::~TaskScheduler() = default;

TaskScheduler::Ticks TaskScheduler::now() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    return static_cast<Ticks>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

void TaskScheduler::insert(Entry entry) {
    // Before the first later entry; searched from the back, where new tasks usually go.
    auto position = std::find_if(m_queue.rbegin(), m_queue.rend(),
                                 [&](const Entry& queued) { return queued.due <= entry.due; });
    m_queue.insert(position.base(), std::move(entry));
}

TaskScheduler::Ticks TaskScheduler::schedule(std::unique_ptr<Task> task,
                                             std::chrono::milliseconds delay,
                                             const std::chrono::milliseconds& spread) {
    std::unique_ptr<Task> dropped;  // destroyed after the lock is released
    Ticks due = 0;
    {
        std::lock_guard lock(m_mutex);
        Milliseconds extra = 0;
        if (spread.count() > 0) {
            extra = std::uniform_int_distribution<Milliseconds>(0, spread.count())(m_random);
        }
        due = dueAfter(now(), saturatedAdd(delay.count(), extra));
        auto queued = m_queue.end();
        if (task->unique()) {
            queued = std::find_if(m_queue.begin(), m_queue.end(),
                                  [&](const Entry& e) { return e.task->name() == task->name(); });
        }
        if (queued == m_queue.end()) {
            insert({due, std::move(task)});
        } else if (due < queued->due) {
            dropped = std::move(queued->task);
            m_queue.erase(queued);
            insert({due, std::move(task)});
        } else {
            dropped = std::move(task);
            due = queued->due;
        }
        m_wakeUp = true;
    }
    m_condition.notify_all();
    return due;
}

size_t TaskScheduler::cancel(const std::string& name, size_t maxCount) {
    std::vector<std::unique_ptr<Task>> removed;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_queue.begin(); it != m_queue.end();) {
            if (it->task->name() == name && (maxCount == 0 || removed.size() < maxCount)) {
                removed.push_back(std::move(it->task));
                it = m_queue.erase(it);
            } else {
                ++it;
            }
        }
        if (!removed.empty()) {
            m_wakeUp = true;
        }
    }
    if (!removed.empty()) {
        m_condition.notify_all();
    }
    return removed.size();
}

void TaskScheduler::postpone(std::chrono::milliseconds delay) {
    {
        std::lock_guard lock(m_mutex);
        const Ticks earliest = dueAfter(now(), delay.count());
        for (auto& entry : m_queue) {
            entry.due = std::max(entry.due, earliest);
        }
        m_wakeUp = true;
    }
    m_condition.notify_all();
}

void TaskScheduler::stop(bool discardPending) {
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
        m_discardPending = discardPending;
    }
    m_condition.notify_all();
}

void TaskScheduler::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_wakeUp = true;
    }
    m_condition.notify_all();
}

std::unique_ptr<Task> TaskScheduler::waitForNextTask() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wakeUp = false;
        if (m_queue.empty()) {
            m_condition.wait(lock, [this] { return m_stopRequested || m_wakeUp; });
        } else {
            const Ticks due = m_queue.front().due;
            while (!m_stopRequested && !m_wakeUp) {
                const Ticks current = now();
                if (current >= due) {
                    auto task = std::move(m_queue.front().task);
                    m_queue.pop_front();
                    return task;
                }
                const Ticks ticksLeft = due - current;
                const auto left = std::chrono::microseconds(ticksLeft / 10 + (ticksLeft % 10 != 0));
                m_condition.wait_for(lock, std::min<std::chrono::microseconds>(left, kLongestWait));
            }
        }
        if (m_stopRequested) {
            return nullptr;
        }
    }
}

void TaskScheduler::run() {
    while (auto task = waitForNextTask()) {
        task->execute();
    }
    std::list<Entry> discarded;
    {
        std::lock_guard lock(m_mutex);
        if (m_discardPending) {
            discarded.swap(m_queue);
        }
    }
    for (auto& entry : discarded) {
        entry.task->onCancel();
    }
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = false;
        m_discardPending = false;
        m_wakeUp = true;
    }
}

}  // namespace Tarn
