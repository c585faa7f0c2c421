#include "standin/orrery/Dispatcher.h"

#include <algorithm>

#include "common/logging/Log.h"
#include "standin/orrery/Store.h"
#include "standin/orrery/Text.h"

namespace tarn::orrery {

namespace {

// The writes of a store show in its folder as renames (the document is replaced whole) and
// as writes (the generation hint, and documents edited in place).
constexpr DWORD kFolderChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

Dispatcher& Dispatcher::instance() {
    static Dispatcher& dispatcher = *std::make_unique<Dispatcher>().release();
    return dispatcher;
}

Dispatcher::Dispatcher() : m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!m_wake) {
        TARN_LOG(TarnPyxLogging::LevelError) << "CreateEventW failed, error " << GetLastError();
    }
}

bool Dispatcher::onCallbackThread() const {
    return std::this_thread::get_id() == m_threadId;
}

void Dispatcher::subscribe(const void* owner, const std::shared_ptr<Store>& store, std::string key,
                           PyxOrreryCallback callback, void* context) {
    {
        std::lock_guard lock(m_mutex);
        m_subscriptions.push_back({m_nextId++, owner, store, std::move(key), callback, context});
        m_foldersStale = true;
        SetEvent(m_wake.get());
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
    m_foldersStale = true;
    if (onCallbackThread()) {
        lock.unlock();
    } else {
        SetEvent(m_wake.get());
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
    queue({std::move(store), std::move(before), std::move(after), {}, {}, {}});
}

void Dispatcher::valueChanged(std::shared_ptr<Store> store, std::vector<std::string> path,
                              std::optional<Json> before, std::optional<Json> after) {
    queue(
        {std::move(store), nullptr, nullptr, std::move(path), std::move(before), std::move(after)});
}

void Dispatcher::queue(Change change) {
    std::lock_guard lock(m_mutex);
    if (!m_active) {
        return;
    }
    m_changes.push_back(std::move(change));
    if (!onCallbackThread()) {
        SetEvent(m_wake.get());  // the callback thread itself finds it when its look ends
    }
}

void Dispatcher::run() {
    std::unique_lock lock(m_mutex);
    auto nextPoll = std::chrono::steady_clock::now();
    for (;;) {
        if (m_subscriptions.empty()) {
            m_folders.clear();  // no handle of the library keeps a folder open any more
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
        if (m_foldersStale) {
            updateFolders(lock);
            // A new folder may have changed before its watch began; a folder without a watch
            // is polled often: the poll now looks at all and chooses the pace.
            nextPoll = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() >= nextPoll) {
            std::vector<std::shared_ptr<Store>> stores;
            bool watched = true;
            for (const Folder& folder : m_folders) {
                stores.insert(stores.end(), folder.stores.begin(), folder.stores.end());
                watched = watched && folder.notification.valid();
            }
            pollStores(stores, lock);
            nextPoll =
                std::chrono::steady_clock::now() + (watched ? kSafetyPollInterval : kPollInterval);
            continue;
        }
        if (const auto changed = waitForChange(nextPoll, lock)) {
            // Re-armed before looking, so that a write during the look signals again.
            Folder& folder = m_folders[*changed];
            if (!FindNextChangeNotification(folder.notification.get())) {
                TARN_LOG(TarnPyxLogging::LevelWarning)
                    << "FindNextChangeNotification failed for " << folder.path << ", error "
                    << GetLastError() << "; polling the folder";
                folder.notification.reset();
                nextPoll = std::chrono::steady_clock::now();
            }
            const auto stores = folder.stores;
            pollStores(stores, lock);
        }
    }
}

void Dispatcher::updateFolders(std::unique_lock<std::mutex>& lock) {
    m_foldersStale = false;
    std::vector<Folder> wanted;
    for (const auto& subscription : m_subscriptions) {
        const std::wstring& path = subscription.store->folder();
        auto folder = std::find_if(wanted.begin(), wanted.end(),
                                   [&](const Folder& f) { return f.path == path; });
        if (folder == wanted.end()) {
            folder = wanted.insert(wanted.end(), Folder{path, {}, {}});
        }
        if (std::find(folder->stores.begin(), folder->stores.end(), subscription.store) ==
            folder->stores.end()) {
            folder->stores.push_back(subscription.store);
        }
    }
    lock.unlock();
    for (Folder& folder : wanted) {
        const auto kept = std::find_if(m_folders.begin(), m_folders.end(),
                                       [&](const Folder& f) { return f.path == folder.path; });
        if (kept != m_folders.end() && kept->notification) {
            folder.notification = std::move(kept->notification);
            continue;
        }
        folder.notification.reset(
            FindFirstChangeNotificationW(folder.path.c_str(), FALSE, kFolderChanges));
        if (!folder.notification) {
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "FindFirstChangeNotificationW failed for " << folder.path << ", error "
                << GetLastError() << "; polling the folder";
        }
    }
    m_folders = std::move(wanted);
    lock.lock();
}

std::optional<size_t> Dispatcher::waitForChange(std::chrono::steady_clock::time_point until,
                                                std::unique_lock<std::mutex>& lock) {
    std::vector<HANDLE> handles{m_wake.get()};
    std::vector<size_t> folders;
    for (size_t i = 0; i < m_folders.size() && handles.size() < MAXIMUM_WAIT_OBJECTS; ++i) {
        if (m_folders[i].notification) {
            handles.push_back(m_folders[i].notification.get());
            folders.push_back(i);
        }
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    const DWORD timeout = static_cast<DWORD>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
    lock.unlock();
    const DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    lock.lock();
    if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
        return folders[result - WAIT_OBJECT_0 - 1];
    }
    if (result == WAIT_FAILED) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "WaitForMultipleObjects failed, error " << GetLastError();
        Sleep(static_cast<DWORD>(kPollInterval.count()));  // never spin
    }
    return std::nullopt;
}

void Dispatcher::pollStores(const std::vector<std::shared_ptr<Store>>& stores,
                            std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    for (const auto& store : stores) {
        store->poll();  // a new document comes back through documentChanged
    }
    lock.lock();
}

void Dispatcher::deliver(const Change& change, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const std::vector<std::string> keys =
        change.before
            ? changedKeys(change.before->values, change.after->values)
            : changedKeysAt(change.beforeValue ? &*change.beforeValue : nullptr,
                            change.afterValue ? &*change.afterValue : nullptr, change.path);
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
