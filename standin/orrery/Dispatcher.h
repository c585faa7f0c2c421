// The library's callback thread: it waits for the system's change notification of the
// subscribed stores' folders (and, slowly, polls them in case one was lost) to see other
// processes' writes, works out which keys changed between two documents and calls the
// subscribers, one call at a time, in the order in which the documents appeared, and never
// while a lock is held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/WinHandles.h"
#include "standin/orrery/Document.h"
#include "standin/orrery/PyxOrrery.h"

namespace tarn::orrery {

class Store;

class Dispatcher {
public:
    // Polling while a folder has no change notification, and the safety poll beside it.
    static constexpr std::chrono::milliseconds kPollInterval{100};
    static constexpr std::chrono::milliseconds kSafetyPollInterval{10000};

    // The process's one dispatcher; never destroyed, because its thread may still run while
    // the process exits.
    static Dispatcher& instance();
    Dispatcher();

    // `owner` identifies the handle, so that closing it drops its subscriptions.
    void subscribe(const void* owner, const std::shared_ptr<Store>& store, std::string key,
                   PyxOrreryCallback callback, void* context);
    // Drops the owner's subscriptions and waits until no callback of the owner runs, except
    // when called on the callback thread itself.
    void dropOwner(const void* owner);
    // A store replaced its document.
    void documentChanged(std::shared_ptr<Store> store, DocumentPtr before, DocumentPtr after);
    // A store's document changed at `path` alone, from `before` to `after` (nullopt: none).
    void valueChanged(std::shared_ptr<Store> store, std::vector<std::string> path,
                      std::optional<Json> before, std::optional<Json> after);

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
        // The whole documents, or the values at the one path that changed.
        DocumentPtr before;
        DocumentPtr after;
        std::vector<std::string> path;
        std::optional<Json> beforeValue;
        std::optional<Json> afterValue;
    };
    // The subscribed stores of one folder and the folder's change notification (invalid when
    // the system refused one: the folder is then polled).
    struct Folder {
        std::wstring path;
        std::vector<std::shared_ptr<Store>> stores;
        UniqueChangeNotification notification;
    };

    void run();
    void deliver(const Change& change, std::unique_lock<std::mutex>& lock);
    void queue(Change change);
    // Looks at the stores for other processes' writes, without the lock.
    void pollStores(const std::vector<std::shared_ptr<Store>>& stores,
                    std::unique_lock<std::mutex>& lock);
    // Brings m_folders in line with the subscriptions (callback thread, lock held).
    void updateFolders(std::unique_lock<std::mutex>& lock);
    // Waits for a wake-up, a folder's change or the time to poll; the folder that changed.
    std::optional<size_t> waitForChange(std::chrono::steady_clock::time_point until,
                                        std::unique_lock<std::mutex>& lock);
    bool onCallbackThread() const;

    std::mutex m_mutex;
    UniqueHandle m_wake;  // auto-reset: new changes, subscriptions or an ending
    std::condition_variable m_idle;
    std::vector<Subscription> m_subscriptions;
    std::deque<Change> m_changes;
    uint64_t m_nextId = 1;
    const void* m_running = nullptr;  // owner of the callback that runs now
    bool m_active = false;            // the thread runs its loop
    bool m_foldersStale = false;      // the subscribed stores changed since m_folders was made
    std::vector<Folder> m_folders;    // only the callback thread uses it
    std::thread m_thread;
    std::thread::id m_threadId;
};

}  // namespace tarn::orrery
