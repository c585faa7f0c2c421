// The DNS cache on the simulated machine: its DNS table answers, its tick count is the clock.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>

#include "platform/win.h"
#include "rules/FwDnsCache.h"
#include "sim/machine.h"
#include "sim/winsock_control.h"
#include "tests/rules/LogLines.h"

namespace {

using namespace std::chrono_literals;
using tarn::FwDnsCache;
using tarn::test::LogCapture;
using tarn::test::logged;
using Addresses = std::vector<std::wstring>;

const std::string kTag = "tarn::FwDnsCache::";

class DnsCache : public ::testing::Test {
protected:
    void SetUp() override { sim::setTime(sim::Clock::from_time_t(1700000000)); }

    // The refresh thread stays parked: the tests drive refreshes themselves.
    std::unique_ptr<FwDnsCache> makeCache() {
        return std::make_unique<FwDnsCache>(
            nullptr, 24h, [this] { ++m_changes; }, 240min);
    }

    std::atomic<int> m_changes{0};
};

TEST_F(DnsCache, UnknownHostStaysCachedEmptyAndIsRetriedByTheRefresh) {
    LogCapture log;
    auto cache = makeCache();
    EXPECT_EQ(cache->getAddresses(L"nowhere.example"), Addresses{});
    EXPECT_EQ(cache->getAddresses(L"nowhere.example"), Addresses{});
    EXPECT_EQ(sim::callCount("GetAddrInfoW"), 1u);
    EXPECT_TRUE(logged(log, 5, kTag + "queryDns", "Unknown host: nowhere.example"));
    EXPECT_EQ(cache->getAddresses(L""), Addresses{});
    EXPECT_EQ(sim::callCount("GetAddrInfoW"), 1u);

    sim::winsock::setDnsAnswer(L"nowhere.example", {L"10.0.0.1"});
    EXPECT_EQ(cache->refreshCachedHosts(), 1u);
    EXPECT_EQ(m_changes, 1);
    EXPECT_EQ(cache->getAddresses(L"nowhere.example"), Addresses{L"10.0.0.1"});
    EXPECT_EQ(cache->refreshCachedHosts(), 0u);  // the same answer changes nothing
    EXPECT_EQ(m_changes, 1);
}

TEST_F(DnsCache, FailedResolutionKeepsTheAddresses) {
    LogCapture log;
    auto cache = makeCache();
    sim::winsock::setDnsAnswer(L"flaky.example", {L"10.0.0.1"});
    EXPECT_EQ(cache->getAddresses(L"flaky.example"), Addresses{L"10.0.0.1"});
    sim::winsock::setDnsError(L"flaky.example", WSATRY_AGAIN);
    EXPECT_EQ(cache->refreshCachedHosts(), 0u);
    EXPECT_EQ(cache->getAddresses(L"flaky.example"), Addresses{L"10.0.0.1"});
    EXPECT_TRUE(
        logged(log, 5, kTag + "queryDns", "Failed to resolve host flaky.example with error 11002"));
    EXPECT_EQ(m_changes, 0);
}

TEST_F(DnsCache, AddressesExpireOnlyALifetimeAfterTheyWereLastSeen) {
    auto cache = makeCache();
    sim::winsock::setDnsAnswer(L"rotating.example", {L"10.0.0.1"});
    cache->getAddresses(L"rotating.example");
    sim::advanceTime(1min);
    sim::winsock::setDnsAnswer(L"rotating.example", {L"10.0.0.2"});
    EXPECT_EQ(cache->refreshCachedHosts(), 1u);
    EXPECT_EQ(cache->getAddresses(L"rotating.example"), (Addresses{L"10.0.0.1", L"10.0.0.2"}));

    sim::advanceTime(1min);  // 10.0.0.1 is seen again, 10.0.0.2 was last seen a minute ago
    sim::winsock::setDnsAnswer(L"rotating.example", {L"10.0.0.1"});
    EXPECT_EQ(cache->refreshCachedHosts(), 0u);
    sim::advanceTime(239min - 1ms);
    EXPECT_EQ(cache->refreshCachedHosts(), 0u);
    EXPECT_EQ(cache->getAddresses(L"rotating.example").size(), 2u);
    sim::advanceTime(1ms);
    EXPECT_EQ(cache->refreshCachedHosts(), 1u);
    EXPECT_EQ(cache->getAddresses(L"rotating.example"), Addresses{L"10.0.0.1"});
    EXPECT_EQ(m_changes, 2);
}

Addresses numbered(int count, const std::wstring& prefix = L"10.0.") {
    Addresses out;
    for (int i = 0; i < count; ++i) {
        out.push_back(prefix + std::to_wstring(i / 256) + L"." + std::to_wstring(i % 256));
    }
    return out;
}

TEST_F(DnsCache, AtTheLimitANewAddressReplacesTheLeastRecentlySeen) {
    auto cache = makeCache();
    EXPECT_TRUE(cache->updateCacheItem(L"big.example", numbered(128)));
    sim::advanceTime(1s);
    EXPECT_FALSE(cache->updateCacheItem(L"big.example", {L"10.0.0.0", L"10.0.0.5"}));
    sim::advanceTime(1s);
    EXPECT_TRUE(cache->updateCacheItem(L"big.example", {L"10.1.1.1"}));
    const auto addresses = cache->getAddresses(L"big.example");
    ASSERT_EQ(addresses.size(), 128u);
    EXPECT_EQ(addresses[0], L"10.0.0.0");  // seen again, so 10.0.0.1 went instead
    EXPECT_EQ(addresses[1], L"10.0.0.2");
    EXPECT_EQ(addresses.back(), L"10.1.1.1");

    EXPECT_TRUE(cache->updateCacheItem(L"huge.example", numbered(200, L"10.2.")));
    const auto huge = cache->getAddresses(L"huge.example");
    ASSERT_EQ(huge.size(), 128u);  // only the first 128 of one answer are taken
    EXPECT_EQ(huge.back(), L"10.2.0.127");
}

TEST_F(DnsCache, NamesDifferingInCaseShareOneEntryAndDuplicatesCountOnce) {
    LogCapture log;
    auto cache = makeCache();
    sim::winsock::setDnsAnswer(L"host.example", {L"10.0.0.1", L"10.0.0.1", L"fe80::1%12"});
    EXPECT_EQ(cache->getAddresses(L"Host.Example"), (Addresses{L"10.0.0.1", L"fe80::1%12"}));
    EXPECT_EQ(cache->getAddresses(L"HOST.example"), (Addresses{L"10.0.0.1", L"fe80::1%12"}));
    EXPECT_EQ(sim::callCount("GetAddrInfoW"), 1u);
    EXPECT_EQ(log.count("Added 'host.example' address: 10.0.0.1, total:1", 5), 1u) << log.dump();
    EXPECT_TRUE(logged(log, 5, kTag + "updateCacheItem",
                       "Added 'host.example' address: fe80::1%12, total:2"));
}

TEST_F(DnsCache, QueryDnsSkipsAddressesThatCannotBeWrittenAndFreesTheResults) {
    LogCapture log;
    auto cache = makeCache();
    sim::winsock::setDnsAnswer(L"two.example", {L"10.0.0.1", L"2001:db8::1"});
    sim::failCall("WSAAddressToStringW", 1, WSAEINVAL);
    EXPECT_EQ(cache->queryDns(L"two.example"), Addresses{L"2001:db8::1"});
    EXPECT_TRUE(
        logged(log, 2, kTag + "queryDns", "Cannot convert IP address to a string, error: 10022"));
    EXPECT_EQ(sim::winsock::openAddrInfoLists(), 0u);
    EXPECT_EQ(cache->queryDns(L"10.9.8.7"), Addresses{L"10.9.8.7"});  // numeric names
}

TEST_F(DnsCache, WinsockStartsOncePerCacheAndFailureThrows) {
    {
        auto cache = makeCache();
        EXPECT_EQ(sim::winsock::startupCount(), 1u);
    }
    EXPECT_EQ(sim::winsock::startupCount(), 0u);

    LogCapture log;
    sim::failCall("WSAStartup", 1, WSASYSNOTREADY);
    try {
        makeCache();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to initialize WinSocket library");
    }
    EXPECT_TRUE(logged(log, 2, kTag + "FwDnsCache", "WSAStartup failed with error: 10091"));
}

// The refresh thread itself, with short intervals; the test waits for events, not for time.
class RecordingCache : public FwDnsCache {
public:
    explicit RecordingCache(std::function<void()> onChanged)
        : FwDnsCache(nullptr, 500ms, std::move(onChanged), 240min) {}
    ~RecordingCache() override { stop(); }

    std::chrono::milliseconds getRefreshInterval(bool changed) const override {
        std::lock_guard lock(mutex);
        requests.push_back(changed);
        condition.notify_all();
        return 1ms;
    }

    mutable std::mutex mutex;
    mutable std::condition_variable condition;
    mutable std::vector<bool> requests;  // the argument of every interval request
};

TEST(DnsCacheThread, RefreshesCallBackOnceForAChangeAndThenWaitLonger) {
    sim::winsock::setDnsAnswer(L"t.example", {L"10.0.0.1"});
    std::atomic<int> changes{0};
    RecordingCache cache([&] { ++changes; });
    EXPECT_EQ(cache.getAddresses(L"t.example"), Addresses{L"10.0.0.1"});
    sim::winsock::setDnsAnswer(L"t.example", {L"10.0.0.2"});

    // Wait until a quiet refresh has followed the one that saw the change.
    std::unique_lock lock(cache.mutex);
    const bool settled = cache.condition.wait_for(lock, 30s, [&] {
        const auto changed = std::find(cache.requests.begin(), cache.requests.end(), true);
        return changed != cache.requests.end() &&
               std::find(changed, cache.requests.end(), false) != cache.requests.end();
    });
    lock.unlock();
    ASSERT_TRUE(settled);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(cache.getAddresses(L"t.example"), (Addresses{L"10.0.0.1", L"10.0.0.2"}));
    cache.stop();  // must end the 1 ms waits and the thread at once
    EXPECT_EQ(changes, 1);
}

// Memory that stays mapped after it is released, filled with a pattern: a thread that still
// used a destroyed object would follow garbage pointers and crash, not go unnoticed.
struct PoisonedArena {
    alignas(std::max_align_t) static inline unsigned char bytes[4096];
};

template <typename T>
struct PoisoningAllocator {
    using value_type = T;
    PoisoningAllocator() = default;
    template <typename U>
    explicit PoisoningAllocator(const PoisoningAllocator<U>&) {}
    T* allocate(size_t n) {
        EXPECT_LE(n * sizeof(T), sizeof(PoisonedArena::bytes));
        return reinterpret_cast<T*>(PoisonedArena::bytes);
    }
    void deallocate(T* p, size_t n) { std::memset(static_cast<void*>(p), 0xA5, n * sizeof(T)); }
    bool operator==(const PoisoningAllocator&) const = default;
};

// Tells a waiting test that the thread it was given to has ended.
struct SignalAtThreadExit {
    std::promise<void>* exited = nullptr;
    ~SignalAtThreadExit() {
        if (exited != nullptr) {
            exited->set_value();
        }
    }
};
thread_local SignalAtThreadExit t_signalAtExit;

// Refreshes every millisecond, after a first wait that leaves the construction time to end
// before the thread makes its first virtual call.
class FastCache : public FwDnsCache {
public:
    explicit FastCache(std::function<void()> onChanged)
        : FwDnsCache(nullptr, 500ms, std::move(onChanged), 240min) {}
    ~FastCache() override { stop(); }
    std::chrono::milliseconds getRefreshInterval(bool) const override { return 1ms; }
};

TEST(DnsCacheThread, TheLastOwnerMayLetGoInTheChangeCallback) {
    std::promise<void> exited;
    std::mutex mutex;
    std::shared_ptr<FastCache> owner;
    auto dropOwner = [&] {
        t_signalAtExit.exited = &exited;
        std::shared_ptr<FastCache> last;
        {
            std::lock_guard lock(mutex);
            last.swap(owner);
        }
        last.reset();  // the cache is destroyed here, on its own refresh thread
    };
    sim::winsock::setDnsAnswer(L"owner.example", {L"10.0.0.1"});
    auto cache = std::allocate_shared<FastCache>(PoisoningAllocator<FastCache>(), dropOwner);
    ASSERT_EQ(cache->getAddresses(L"owner.example"), Addresses{L"10.0.0.1"});
    {
        std::lock_guard lock(mutex);
        owner = std::move(cache);
    }
    sim::winsock::setDnsAnswer(L"owner.example", {L"10.0.0.2"});  // the next refresh changes
    EXPECT_EQ(exited.get_future().wait_for(30s), std::future_status::ready)
        << "the refresh thread outlived its cache";
}

}  // namespace
