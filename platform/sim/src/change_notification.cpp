// Change notification of folders (FindFirstChangeNotificationW) over inotify: one inotify
// instance per process, read by one thread that starts with the first notification handle.
// A notification handle holds its folder open, as on Windows (shared for every access).
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <thread>
#include <vector>

#include "files_internal.h"
#include "internal.h"
#include "sharing.h"
#include "sim/win/files.h"

using sim::detail::fail;
using sim::detail::KernelObject;

namespace {

constexpr DWORD kAllFilters = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                              FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                              FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                              FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

// The filter classes that an inotify event belongs to.
DWORD filtersOf(uint32_t mask) {
    DWORD filters = 0;
    if ((mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0) {
        filters |=
            (mask & IN_ISDIR) != 0 ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
    }
    if ((mask & IN_MODIFY) != 0) {
        filters |= FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
    }
    if ((mask & IN_ATTRIB) != 0) {
        filters |= FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY |
                   FILE_NOTIFY_CHANGE_LAST_WRITE;
    }
    if ((mask & IN_ACCESS) != 0) {
        filters |= FILE_NOTIFY_CHANGE_LAST_ACCESS;
    }
    // Lost events, or the folder itself gone: whatever the filter, something changed.
    if ((mask & (IN_Q_OVERFLOW | IN_DELETE_SELF)) != 0) {
        filters |= kAllFilters;
    }
    return filters;
}

class ChangeNotification final : public KernelObject {
public:
    ChangeNotification(DWORD filter, bool subtree, sim::detail::ShareEntry folder)
        : m_filter(filter), m_subtree(subtree), m_folder(std::move(folder)) {}
    ~ChangeNotification() override;

    bool waitable() const override { return true; }
    bool signalled(DWORD) const override { return m_signalled; }
    DWORD acquire(DWORD) override { return WAIT_OBJECT_0_; }  // a wait does not re-arm it

    DWORD filter() const { return m_filter; }
    bool subtree() const { return m_subtree; }
    // Both under waitMutex().
    void changed() { (m_signalled ? m_again : m_signalled) = true; }
    void rearm() { m_signalled = std::exchange(m_again, false); }

private:
    const DWORD m_filter;
    const bool m_subtree;
    sim::detail::ShareEntry m_folder;
    bool m_signalled = false;  // guarded by waitMutex()
    bool m_again = false;      // a change after the signal, before re-arming
};

// The process's inotify instance, its watches and the thread that reads it.
class Watcher {
public:
    static Watcher& instance() {
        static auto* watcher = new Watcher;  // its thread runs until the process ends
        return *watcher;
    }

    // Watches `folder` (and the folders below it, for a subtree) for `notification`.
    DWORD add(ChangeNotification* notification, const std::string& folder) {
        std::lock_guard lock(m_mutex);
        if (!start()) {
            return ERROR_TOO_MANY_OPEN_FILES;
        }
        if (!watchLocked(notification, folder, notification->subtree())) {
            const int error = errno;
            removeLocked(notification);
            return error == ENOSPC ? ERROR_TOO_MANY_OPEN_FILES
                                   : sim::detail::errorFromErrno(error, folder);
        }
        return ERROR_SUCCESS;
    }

    void remove(ChangeNotification* notification) {
        std::lock_guard lock(m_mutex);
        removeLocked(notification);
    }

private:
    struct Watch {
        std::string path;
        std::vector<ChangeNotification*> notifications;
    };

    bool start() {
        if (m_fd >= 0) {
            return true;
        }
        m_fd = inotify_init1(IN_CLOEXEC);
        if (m_fd < 0) {
            return false;
        }
        std::thread([this] { run(); }).detach();
        return true;
    }

    bool watchLocked(ChangeNotification* notification, const std::string& folder, bool below) {
        uint32_t mask = kWatchMask | IN_MASK_ADD;
        if ((notification->filter() & FILE_NOTIFY_CHANGE_LAST_ACCESS) != 0) {
            mask |= IN_ACCESS;  // only when asked: reads are frequent
        }
        const int wd = inotify_add_watch(m_fd, folder.c_str(), mask);
        if (wd < 0) {
            return false;
        }
        Watch& watch = m_watches[wd];
        watch.path = folder;
        if (std::find(watch.notifications.begin(), watch.notifications.end(), notification) ==
            watch.notifications.end()) {
            watch.notifications.push_back(notification);
        }
        if (below) {
            DIR* dir = opendir(folder.c_str());
            while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
                const std::string name = entry->d_name;
                struct stat info {};
                const std::string child = folder + "/" + name;
                if (name != "." && name != ".." && lstat(child.c_str(), &info) == 0 &&
                    S_ISDIR(info.st_mode)) {
                    watchLocked(notification, child, true);  // a folder gone meanwhile is fine
                }
            }
            if (dir != nullptr) {
                closedir(dir);
            }
        }
        return true;
    }

    void removeLocked(ChangeNotification* notification) {
        for (auto it = m_watches.begin(); it != m_watches.end();) {
            std::erase(it->second.notifications, notification);
            if (it->second.notifications.empty()) {
                inotify_rm_watch(m_fd, it->first);
                it = m_watches.erase(it);
            } else {
                ++it;
            }
        }
    }

    void run() {
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t got = read(m_fd, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                return;
            }
            std::lock_guard lock(m_mutex);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                deliverLocked(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            sim::detail::waitCondition().notify_all();
        }
    }

    void deliverLocked(const inotify_event& event) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            std::lock_guard wait(sim::detail::waitMutex());
            for (auto& [wd, watch] : m_watches) {
                for (ChangeNotification* notification : watch.notifications) {
                    notification->changed();
                }
            }
            return;
        }
        const auto it = m_watches.find(event.wd);
        if (it == m_watches.end()) {
            return;  // a watch removed meanwhile
        }
        const DWORD filters = filtersOf(event.mask);
        const std::vector<ChangeNotification*> notifications = it->second.notifications;
        if ((event.mask & IN_CREATE) != 0 && (event.mask & IN_ISDIR) != 0 && event.len > 0) {
            const std::string child = it->second.path + "/" + event.name;
            for (ChangeNotification* notification : notifications) {
                if (notification->subtree()) {
                    watchLocked(notification, child, true);
                }
            }
        }
        std::lock_guard wait(sim::detail::waitMutex());
        for (ChangeNotification* notification : notifications) {
            if ((notification->filter() & filters) != 0) {
                notification->changed();
            }
        }
    }

    std::mutex m_mutex;
    int m_fd = -1;
    std::map<int, Watch> m_watches;  // by inotify watch descriptor
};

ChangeNotification::~ChangeNotification() {
    Watcher::instance().remove(this);
}

}  // namespace

HANDLE FindFirstChangeNotificationW(LPCWSTR pathName, BOOL watchSubtree, DWORD notifyFilter) {
    SIM_API("FindFirstChangeNotificationW");
    if (simFault_) {
        return fail(*simFault_, INVALID_HANDLE_VALUE);
    }
    if (notifyFilter == 0 || (notifyFilter & ~kAllFilters) != 0) {
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    if (const DWORD error = sim::detail::checkFileName(pathName); error != ERROR_SUCCESS) {
        return fail(error, INVALID_HANDLE_VALUE);
    }
    const std::string folder = sim::detail::filePath(pathName);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        return fail(sim::detail::errorFromErrno(errno, folder), INVALID_HANDLE_VALUE);
    }
    if (!S_ISDIR(info.st_mode)) {
        return fail(ERROR_DIRECTORY, INVALID_HANDLE_VALUE);
    }
    auto record = sim::detail::ShareRecord::lock(info);
    if (!record) {
        return fail(ERROR_GEN_FAILURE, INVALID_HANDLE_VALUE);
    }
    const unsigned access = sim::detail::shareAccessOf(FILE_LIST_DIRECTORY);
    if (const DWORD refused = record->admits(access, sim::detail::ShareAll);
        refused != ERROR_SUCCESS) {
        return fail(refused, INVALID_HANDLE_VALUE);
    }
    auto notification = std::make_shared<ChangeNotification>(
        notifyFilter, watchSubtree != FALSE, record->join(access, sim::detail::ShareAll));
    if (const DWORD error = Watcher::instance().add(notification.get(), folder);
        error != ERROR_SUCCESS) {
        return fail(error, INVALID_HANDLE_VALUE);
    }
    return sim::detail::insertHandle(std::move(notification));
}

BOOL FindNextChangeNotification(HANDLE changeHandle) {
    SIM_API("FindNextChangeNotification");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto notification = sim::detail::lookupAs<ChangeNotification>(changeHandle);
    if (!notification) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    std::lock_guard wait(sim::detail::waitMutex());
    notification->rearm();
    return TRUE;
}

BOOL FindCloseChangeNotification(HANDLE changeHandle) {
    SIM_API("FindCloseChangeNotification");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (!sim::detail::lookupAs<ChangeNotification>(changeHandle)) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return sim::detail::removeHandle(changeHandle) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}
