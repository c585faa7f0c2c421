// The library's callback thread: it looks for other processes' writes a few times a second,
// works out which keys changed between two documents and calls the subscribers, one call at a
// time, in the order in which the documents appeared, and never while a lock is held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standin/orrery/Document.h"
#include "standin/orrery/PyxOrrery.h"

namespace tarn::orrery {

class Store;

class Dispatcher {
public:
    static constexpr std::chrono::milliseconds kPollInterval{100};

    // The process's one dispatcher; never destroyed, because its thread may still run while
    // the process exits.
    static Dispatcher& instance();

    // `owner` identifies the handle, so that closing it drops its subscriptions.
    void subscribe(const void* owner, const std::shared_ptr<Store>& store, std::string key,
                   PyxOrreryCallback callback, void* context);
    // Drops the owner's subscriptions and waits until no callback of the owner runs, except
    // when called on the callback thread itself.
    void dropOwner(const void* owner);
    // A store replaced its document.
    void documentChanged(std::shared_ptr<Store> store, DocumentPtr before, DocumentPtr after);

private:
    struct Subscription {
        uint64_t id;
        const void* owner;
        std::shared_ptr<Store> store;
        std::string key;
        PyxOrreryCallback callback;
        void* context;
    };
    struct Change {
        std::shared_ptr<Store> store;
        DocumentPtr before;
        DocumentPtr after;
    };

    void run();
    void deliver(const Change& change, std::unique_lock<std::mutex>& lock);
    void pollStores(std::unique_lock<std::mutex>& lock);
    bool onCallbackThread() const;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::vector<Subscription> m_subscriptions;
    std::deque<Change> m_changes;
    uint64_t m_nextId = 1;
    const void* m_running = nullptr;  // owner of the callback that runs now
    bool m_active = false;            // the thread runs its loop
    std::thread m_thread;
    std::thread::id m_threadId;
};

}  // namespace tarn::orrery
