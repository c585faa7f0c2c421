// Writes to the settings store in the order in which they were asked for, with no lock of the
// caller's held while the store library runs: the library may deliver the process's own change
// from inside a write, and a callback that waited for a lock held by the writer would never
// return.
//
// One thread writes at a time: whoever finds nobody writing becomes the writer and works through
// the queue, its own write and every write queued meanwhile. Any other caller waits until its
// write is done, except on the writing thread itself and inside a store callback, where waiting
// could close a circle: there the write is left to the writer, which does it in turn.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tarn {

class StoreWriteQueue {
public:
    using Write = std::function<void()>;

    // Call with no lock held that a store callback may take.
    void run(Write write);

    // Marks the calling thread as running a store callback while it lives.
    class CallbackScope {
    public:
        CallbackScope();
        ~CallbackScope();
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;
    };

private:
    std::mutex m_mutex;  // held only between writes, never across one
    std::condition_variable m_done;
    std::deque<Write> m_queue;
    uint64_t m_queued = 0;     // writes ever queued; a write's number is its place
    uint64_t m_completed = 0;  // writes done, in queue order
    std::thread::id m_writer;  // the thread working through the queue; none: nobody writes
};

}  // namespace tarn
