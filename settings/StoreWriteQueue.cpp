#include "settings/StoreWriteQueue.h"

#include <exception>

#include "common/logging/Log.h"

namespace tarn {

namespace {

thread_local int t_callbackDepth = 0;

}  // namespace

StoreWriteQueue::CallbackScope::CallbackScope() {
    ++t_callbackDepth;
}

StoreWriteQueue::CallbackScope::~CallbackScope() {
    --t_callbackDepth;
}

void StoreWriteQueue::run(Write write) {
    std::unique_lock lock(m_mutex);
    m_queue.push_back(std::move(write));
    const uint64_t number = ++m_queued;
    if (m_writer != std::thread::id()) {
        if (m_writer != std::this_thread::get_id() && t_callbackDepth == 0) {
            m_done.wait(lock, [&] { return m_completed >= number; });
        }
        return;
    }
    m_writer = std::this_thread::get_id();
    while (!m_queue.empty()) {
        const Write next = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        // The store's writes report their failures themselves; nothing may stop the queue.
        try {
            next();
        } catch (const std::exception& e) {
            TARN_LOG(TarnPyxLogging::LevelError) << "Store write failed: " << e.what();
        } catch (...) {
            TARN_LOG(TarnPyxLogging::LevelError) << "Store write failed";
        }
        lock.lock();
        ++m_completed;
        m_done.notify_all();
    }
    m_writer = std::thread::id();
}

}  // namespace tarn
