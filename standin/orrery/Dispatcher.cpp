#include "standin/orrery/Dispatcher.h"

#include <algorithm>

#include "standin/orrery/Store.h"
#include "standin/orrery/Text.h"

namespace tarn::orrery {

Dispatcher& Dispatcher::instance() {
    static Dispatcher& dispatcher = *std::make_unique<Dispatcher>().release();
    return dispatcher;
}

bool Dispatcher::onCallbackThread() const {
    return std::this_thread::get_id() == m_threadId;
}

void Dispatcher::subscribe(const void* owner, const std::shared_ptr<Store>& store, std::string key,
                           PyxOrreryCallback callback, void* context) {
    {
        std::lock_guard lock(m_mutex);
        m_subscriptions.push_back({m_nextId++, owner, store, std::move(key), callback, context});
        if (!m_active) {
            if (m_thread.joinable()) {
                m_thread.join();  // a thread that ended by itself; it takes no lock any more
            }
            m_active = true;
            m_thread = std::thread([this] { run(); });
            m_threadId = m_thread.get_id();
        }
    }
    store->watch(true);
}

void Dispatcher::dropOwner(const void* owner) {
    std::vector<std::shared_ptr<Store>> unwatched;
    std::unique_lock lock(m_mutex);
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();) {
        if (it->owner == owner) {
            unwatched.push_back(std::move(it->store));
            it = m_subscriptions.erase(it);
        } else {
            ++it;
        }
    }
    if (onCallbackThread()) {
        lock.unlock();
    } else {
        m_wake.notify_all();
        m_idle.wait(lock,
                    [&] { return m_running != owner && (!m_subscriptions.empty() || !m_active); });
        if (!m_active && m_thread.joinable()) {
            m_thread.join();  // nothing of the library runs on it any more
        }
        lock.unlock();
    }
    // The stores take their own lock: never while holding the dispatcher's.
    for (const auto& store : unwatched) {
        store->watch(false);
    }
}

void Dispatcher::documentChanged(std::shared_ptr<Store> store, DocumentPtr before,
                                 DocumentPtr after) {
    std::lock_guard lock(m_mutex);
    if (!m_active) {
        return;
    }
    m_changes.push_back({std::move(store), std::move(before), std::move(after)});
    m_wake.notify_all();
}

void Dispatcher::run() {
    std::unique_lock lock(m_mutex);
    auto nextPoll = std::chrono::steady_clock::now() + kPollInterval;
    for (;;) {
        if (m_subscriptions.empty()) {
            m_changes.clear();
            m_active = false;
            m_idle.notify_all();
            return;
        }
        if (!m_changes.empty()) {
            const Change change = std::move(m_changes.front());
            m_changes.pop_front();
            deliver(change, lock);
            continue;
        }
        if (std::chrono::steady_clock::now() >= nextPoll) {
            pollStores(lock);
            nextPoll = std::chrono::steady_clock::now() + kPollInterval;
            continue;
        }
        m_wake.wait_until(lock, nextPoll);
    }
}

void Dispatcher::pollStores(std::unique_lock<std::mutex>& lock) {
    std::vector<std::shared_ptr<Store>> stores;
    for (const auto& subscription : m_subscriptions) {
        if (std::find(stores.begin(), stores.end(), subscription.store) == stores.end()) {
            stores.push_back(subscription.store);
        }
    }
    lock.unlock();
    for (const auto& store : stores) {
        store->poll();  // a new document comes back through documentChanged
    }
    lock.lock();
}

void Dispatcher::deliver(const Change& change, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const std::vector<std::string> keys = changedKeys(change.before->values, change.after->values);
    lock.lock();
    for (const auto& key : keys) {
        std::vector<uint64_t> recipients;
        for (const auto& subscription : m_subscriptions) {
            if (subscription.store == change.store && isAtOrBelow(key, subscription.key)) {
                recipients.push_back(subscription.id);
            }
        }
        if (recipients.empty()) {
            continue;
        }
        const std::wstring wideKey = fromUtf8Strict(key).value_or(std::wstring());
        for (const uint64_t id : recipients) {
            // A callback may have dropped a later recipient in the meantime.
            const auto it = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                         [id](const Subscription& s) { return s.id == id; });
            if (it == m_subscriptions.end()) {
                continue;
            }
            const PyxOrreryCallback callback = it->callback;
            void* const context = it->context;
            m_running = it->owner;
            lock.unlock();
            callback(wideKey.c_str(), nullptr, nullptr, context);
            lock.lock();
            m_running = nullptr;
            m_idle.notify_all();
        }
    }
}

}  // namespace tarn::orrery
