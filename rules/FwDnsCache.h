// Host names of rules resolved to addresses, kept and refreshed in the background.
//
// The firewall takes only addresses. Every address seen for a host stays cached until it has not
// been returned for the lifetime, so that a host whose answers rotate keeps all of its recent
// addresses in its rules. A refresh that changes the cache calls the change callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/Stoppable.h"

namespace tarn {

class FwDnsCache : public Stoppable {
public:
    static constexpr std::chrono::milliseconds kQuietInterval{60000};
    static constexpr size_t kAddressLimit = 128;

    // Starts Winsock and the refresh thread; throws std::runtime_error when Winsock cannot
    // start. The first refresh comes after `changedInterval`.
    //
    // The refresh thread calls the virtual operations: a derived class that overrides them
    // must call stop() in its own destructor.
    //
    // The change callback may drop the last owner: the cache is then destroyed on its own
    // thread, which cannot wait for itself; the thread leaves when the callback returns,
    // without touching the object again.
    FwDnsCache(SharedEvent stopEvent, std::chrono::milliseconds changedInterval,
               std::function<void()> onChanged, std::chrono::minutes lifetime);
    ~FwDnsCache() override;

    // Ends the refresh thread and waits for it (unless called on it).
    void stop() override;

    // The addresses cached for `host` (any letter case), resolving it first when it is new.
    std::vector<std::wstring> getAddresses(const std::wstring& host);

    // Merges one answer for `host`; true when the cache changed.
    bool updateCacheItem(const std::wstring& host, const std::vector<std::wstring>& addresses);

    // One refresh of every cached host (what the refresh thread does each cycle); calls the
    // change callback when something changed and stop is not requested. Returns the number
    // of hosts whose addresses changed.
    size_t refreshCachedHosts();

    virtual std::chrono::milliseconds getRefreshInterval(bool changed) const;
    // Milliseconds of the system's tick count.
    virtual int64_t now() const;
    // One resolution, without the cache: the address texts in the resolver's order.
    virtual std::vector<std::wstring> queryDns(const std::wstring& host);

private:
    struct Entry {
        std::wstring address;
        int64_t lastSeen;
    };

    // `destroyed` belongs to the thread: it outlives the object.
    void refreshLoop(const bool& destroyed);

    std::recursive_mutex m_mutex;
    std::map<std::wstring, std::vector<Entry>> m_cache;  // lower-case host names
    const std::chrono::milliseconds m_changedInterval;
    const std::chrono::milliseconds m_lifetime;
    const std::function<void()> m_onChanged;
    // Set by a destructor that runs on the refresh thread, and read by that thread after the
    // change callback; shared, because the thread outlives the object then.
    const std::shared_ptr<bool> m_destroyed = std::make_shared<bool>(false);
    std::thread m_thread;
};

}  // namespace tarn
