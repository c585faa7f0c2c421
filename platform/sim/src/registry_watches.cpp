// Change notification of the simulated registry: RegNotifyChangeKeyValue and the watches that
// changes, deletions and closing handles fire.
#include "registry_tree.h"
#include "sim/win/sync.h"

namespace sim::detail::reg {

void Registry::notify(const Key* changed, DWORD kind, Signals& signals) {
    std::erase_if(watches, [&](const Watch& watch) {
        const bool covers =
            watch.key.get() == changed || (watch.subtree && changed->isBelow(watch.key.get()));
        if (!covers || (watch.filter & kind) == 0) {
            return false;
        }
        signals.push_back(watch.event);
        return true;
    });
}

void Registry::fireWatchesOf(const Key& deleted, Signals& signals) {
    // The key they watch is gone: they fire whatever their filter.
    std::erase_if(watches, [&](const Watch& watch) {
        if (watch.key.get() != &deleted) {
            return false;
        }
        signals.push_back(watch.event);
        return true;
    });
}

void Registry::fireWatchesThrough(const KeyHandle* handle, Signals& signals) {
    std::erase_if(watches, [&](const Watch& watch) {
        if (watch.owner != handle) {
            return false;
        }
        signals.push_back(watch.event);
        return true;
    });
}

}  // namespace sim::detail::reg

using namespace sim::detail::reg;

namespace {

LSTATUS arm(HKEY key, BOOL watchSubtree, DWORD filter,
            std::shared_ptr<sim::detail::KernelObject> event) {
    return locked([&](Registry& reg, Signals& signals) -> LSTATUS {
        Location location;
        std::shared_ptr<KeyHandle> handle;
        if (const LSTATUS status = baseOf(reg, key, location, handle, signals);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (handle && !handle->allows(KEY_NOTIFY)) {
            return ERROR_ACCESS_DENIED;
        }
        auto watched = handle ? handle->key() : find(location);
        if (!watched) {
            return ERROR_FILE_NOT_FOUND;
        }
        reg.watches.push_back({handle.get(), std::move(watched), std::move(event),
                               filter & ~static_cast<DWORD>(REG_NOTIFY_THREAD_AGNOSTIC),
                               watchSubtree != FALSE});
        return ERROR_SUCCESS;
    });
}

}  // namespace

LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD notifyFilter, HANDLE event,
                                BOOL asynchronous) {
    SIM_API("RegNotifyChangeKeyValue");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    constexpr DWORD kKnown = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                             REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
    if ((notifyFilter & kKnown) == 0 ||
        (notifyFilter & ~(kKnown | static_cast<DWORD>(REG_NOTIFY_THREAD_AGNOSTIC))) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!asynchronous) {
        // Blocks until the change: the same watch, on an event of its own.
        HANDLE own = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        LSTATUS status = arm(key, watchSubtree, notifyFilter, sim::detail::eventOf(own));
        if (status == ERROR_SUCCESS) {
            WaitForSingleObject(own, INFINITE);
        }
        CloseHandle(own);
        return status;
    }
    // Arming resets an event that an earlier change left set. The watch holds the event
    // itself: closing the handle does not end it.
    auto object = sim::detail::eventOf(event);
    if (!object) {
        return ERROR_INVALID_HANDLE;
    }
    sim::detail::setEventState(*object, false);
    return arm(key, watchSubtree, notifyFilter, std::move(object));
}
