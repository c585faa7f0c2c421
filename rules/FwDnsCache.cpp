#include "rules/FwDnsCache.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/logging/Log.h"
#include "platform/win.h"

namespace tarn {

namespace {

struct AddrInfoTraits {
    static PADDRINFOW invalid() { return nullptr; }
    static bool valid(PADDRINFOW list) { return list != nullptr; }
    static void close(PADDRINFOW list) { ::FreeAddrInfoW(list); }
};
using UniqueAddrInfo = UniqueResource<PADDRINFOW, AddrInfoTraits>;

constexpr DWORD kAddressTextLength = 512;

}  // namespace

FwDnsCache::FwDnsCache(SharedEvent stopEvent, std::chrono::milliseconds changedInterval,
                       std::function<void()> onChanged, std::chrono::minutes lifetime)
    : Stoppable(std::move(stopEvent)),
      m_changedInterval(changedInterval),
      m_lifetime(lifetime),
      m_onChanged(std::move(onChanged)) {
    WSADATA data{};
    if (const int error = WSAStartup(MAKEWORD(2, 0), &data); error != 0) {
        TARN_LOG(TarnPyxLogging::LevelError) << "WSAStartup failed with error: " << error;
        throw std::runtime_error("Failed to initialize WinSocket library");
    }
    try {
        m_thread = std::thread([this, destroyed = m_destroyed] { refreshLoop(*destroyed); });
    } catch (...) {
        WSACleanup();
        throw;
    }
}

FwDnsCache::~FwDnsCache() {
    requestStop();
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Destroyed from the change callback: the thread cannot wait for itself, and leaves as
        // soon as the callback returns.
        *m_destroyed = true;
        m_thread.detach();
    } else if (m_thread.joinable()) {
        try {
            m_thread.join();
        } catch (const std::system_error& e) {
            TARN_LOG(TarnPyxLogging::LevelError) << e.what();
            m_thread.detach();
        }
    }
    WSACleanup();
}

void FwDnsCache::stop() {
    requestStop();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

std::vector<std::wstring> FwDnsCache::getAddresses(const std::wstring& host) {
    const std::wstring name = str::toLower(host);
    if (name.empty()) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    auto it = m_cache.find(name);
    if (it == m_cache.end()) {
        // Resolved under the lock: a first lookup of another name waits for this one.
        updateCacheItem(name, queryDns(name));
        it = m_cache.find(name);
    }
    std::vector<std::wstring> addresses;
    for (const auto& entry : it->second) {
        addresses.push_back(entry.address);
    }
    return addresses;
}

bool FwDnsCache::updateCacheItem(const std::wstring& host,
                                 const std::vector<std::wstring>& addresses) {
    const int64_t t = now();
    std::lock_guard lock(m_mutex);
    auto& entries = m_cache[host];
    bool changed = false;
    const size_t count = std::min(addresses.size(), kAddressLimit);
    for (size_t i = 0; i < count; ++i) {
        const auto& address = addresses[i];
        const auto known = std::find_if(entries.begin(), entries.end(),
                                        [&](const Entry& e) { return e.address == address; });
        if (known != entries.end()) {
            known->lastSeen = t;
            continue;
        }
        if (entries.size() >= kAddressLimit) {
            entries.erase(std::min_element(
                entries.begin(), entries.end(),
                [](const Entry& a, const Entry& b) { return a.lastSeen < b.lastSeen; }));
        }
        entries.push_back({address, t});
        TARN_LOG(TarnPyxLogging::LevelDebug)
            << "Added '" << host << "' address: " << address << ", total:" << entries.size();
        changed = true;
    }
    const auto expired = std::remove_if(entries.begin(), entries.end(), [&](const Entry& e) {
        return t - e.lastSeen >= m_lifetime.count();
    });
    changed = changed || expired != entries.end();
    entries.erase(expired, entries.end());
    return changed;
}

size_t FwDnsCache::refreshCachedHosts() {
    std::vector<std::wstring> hosts;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [host, entries] : m_cache) {
            hosts.push_back(host);
        }
    }
    size_t changed = 0;
    for (const auto& host : hosts) {
        if (isStopped()) {
            break;
        }
        // Resolved without the lock, so that lookups of the rules are not held up.
        if (updateCacheItem(host, queryDns(host))) {
            ++changed;
        }
    }
    if (changed != 0 && !isStopped() && m_onChanged) {
        // A copy: the callback may destroy this object, and the member with it.
        const std::function<void()> onChanged = m_onChanged;
        onChanged();
    }
    return changed;
}

std::chrono::milliseconds FwDnsCache::getRefreshInterval(bool changed) const {
    return changed ? m_changedInterval : kQuietInterval;
}

int64_t FwDnsCache::now() const {
    return static_cast<int64_t>(GetTickCount64());
}

std::vector<std::wstring> FwDnsCache::queryDns(const std::wstring& host) {
    UniqueAddrInfo results;
    if (const int error = GetAddrInfoW(host.c_str(), nullptr, nullptr, results.put()); error != 0) {
        if (error == WSAHOST_NOT_FOUND) {
            TARN_LOG(TarnPyxLogging::LevelDebug) << "Unknown host: " << host;
        } else {
            TARN_LOG(TarnPyxLogging::LevelDebug)
                << "Failed to resolve host " << host << " with error " << error;
        }
        return {};
    }
    std::vector<std::wstring> addresses;
    for (const ADDRINFOW* info = results.get(); info != nullptr; info = info->ai_next) {
        if (info->ai_family != AF_INET && info->ai_family != AF_INET6) {
            continue;
        }
        WCHAR text[kAddressTextLength];
        DWORD length = kAddressTextLength;
        if (WSAAddressToStringW(info->ai_addr, static_cast<DWORD>(info->ai_addrlen), nullptr, text,
                                &length) != 0) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Cannot convert IP address to a string, error: " << WSAGetLastError();
            continue;
        }
        addresses.emplace_back(text);
    }
    return addresses;
}

void FwDnsCache::refreshLoop(const bool& destroyed) {
    if (waitFor(m_changedInterval)) {
        return;
    }
    for (;;) {
        const bool changed = refreshCachedHosts() != 0;
        if (destroyed || waitFor(getRefreshInterval(changed))) {
            return;
        }
    }
}

}  // namespace tarn
