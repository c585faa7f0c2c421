// The simulated filtering engine's own behaviour: options by Windows version, which events it
// collects, the records it delivers, its two engine threads, the waits of unsubscribing and
// closing, and its count of what clients must free.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wfp.h"
#include "sim/machine.h"
#include "sim/version_control.h"
#include "sim/wfp_control.h"

namespace {

using namespace std::chrono_literals;

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        FWPM_SESSION0 session{};
        ASSERT_EQ(FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &m_engine), 0u);
    }
    void TearDown() override {
        if (m_engine != nullptr) {
            EXPECT_EQ(FwpmEngineClose0(m_engine), 0u);
        }
        EXPECT_EQ(sim::wfp::liveAllocations(), 0u);
    }

    static void setVersion(uint32_t major, uint32_t minor, uint32_t build) {
        sim::version::OsVersion version;
        version.major = major;
        version.minor = minor;
        version.build = build;
        sim::version::setOsVersion(version);
    }
    DWORD setOption(FWPM_ENGINE_OPTION option, uint32_t value, FWP_DATA_TYPE type = FWP_UINT32) {
        FWP_VALUE0 wanted{};
        wanted.type = type;
        wanted.uint32 = value;
        return FwpmEngineSetOption0(m_engine, option, &wanted);
    }

    template <typename Callback>
    HANDLE subscribeEvents(Callback callback, void* context) {
        FWPM_NET_EVENT_ENUM_TEMPLATE0 everything{};
        FWPM_NET_EVENT_SUBSCRIPTION0 subscription{};
        subscription.enumTemplate = &everything;
        HANDLE handle = nullptr;
        EXPECT_EQ(FwpmNetEventSubscribe0(m_engine, &subscription, callback, context, &handle), 0u);
        return handle;
    }

    HANDLE m_engine = nullptr;
};

// Records what a network-event callback saw, copied out while the record is valid.
struct Seen {
    std::mutex mutex;
    std::vector<uint32_t> types;
    std::vector<bool> detailsSet;
    std::vector<std::vector<uint8_t>> appIds;
    std::vector<std::wstring> users;
    std::vector<uint64_t> filterIds;

    static void CALLBACK record(void* context, const FWPM_NET_EVENT1* event) {
        auto& seen = *static_cast<Seen*>(context);
        std::lock_guard lock(seen.mutex);
        uint32_t type = 0;
        std::memcpy(&type, &event->type, sizeof type);
        seen.types.push_back(type);
        seen.detailsSet.push_back(event->classifyDrop != nullptr);
        const auto& appId = event->header.appId;
        seen.appIds.emplace_back(appId.data, appId.data + appId.size);
        LPWSTR text = nullptr;
        if (event->header.userId != nullptr &&
            ConvertSidToStringSidW(event->header.userId, &text)) {
            seen.users.emplace_back(text);
            LocalFree(text);
        }
        seen.filterIds.push_back(
            type == FWPM_NET_EVENT_TYPE_CLASSIFY_DROP ? event->classifyDrop->filterId : 0);
    }
};

TEST_F(Engine, OptionsBelongToTheEngineAndOutliveSessions) {
    EXPECT_EQ(sim::wfp::option(FWPM_ENGINE_COLLECT_NET_EVENTS), 1u);
    EXPECT_EQ(sim::wfp::option(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS), 0u);
    ASSERT_EQ(
        setOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW),
        0u);
    ASSERT_EQ(FwpmEngineClose0(m_engine), 0u);
    m_engine = nullptr;
    SetUp();
    FWP_VALUE0* value = nullptr;
    ASSERT_EQ(FwpmEngineGetOption0(m_engine, FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, &value), 0u);
    EXPECT_EQ(value->uint32, static_cast<uint32_t>(FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW));
    FwpmFreeMemory0(reinterpret_cast<void**>(&value));
}

TEST_F(Engine, OptionValuesAreChecked) {
    EXPECT_EQ(setOption(FWPM_ENGINE_COLLECT_NET_EVENTS, 1, FWP_UINT64),
              static_cast<DWORD>(FWP_E_TYPE_MISMATCH));
    EXPECT_EQ(setOption(FWPM_ENGINE_COLLECT_NET_EVENTS, 2),
              static_cast<DWORD>(FWP_E_OUT_OF_BOUNDS));
    EXPECT_EQ(setOption(static_cast<FWPM_ENGINE_OPTION>(17), 1),
              static_cast<DWORD>(FWP_E_INVALID_ENUMERATOR));
    EXPECT_EQ(FwpmEngineSetOption0(m_engine, FWPM_ENGINE_COLLECT_NET_EVENTS, nullptr),
              static_cast<DWORD>(FWP_E_NULL_POINTER));
    EXPECT_EQ(setOption(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS, 1), 0u);
    EXPECT_EQ(setOption(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS, 0),
              static_cast<DWORD>(FWP_E_STILL_ON));
    EXPECT_EQ(sim::wfp::option(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS), 1u);
}

TEST_F(Engine, Windows7KnowsNeitherIpsecMonitoringNorTheNewerKeywords) {
    setVersion(6, 1, 7601);
    EXPECT_EQ(setOption(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS, 1),
              static_cast<DWORD>(FWP_E_INVALID_ENUMERATOR));
    EXPECT_EQ(
        setOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW),
        static_cast<DWORD>(FWP_E_INVALID_FLAGS));
    EXPECT_EQ(
        setOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, FWPM_NET_EVENT_KEYWORD_INBOUND_MCAST),
        0u);
}

struct CollectionCase {
    const char* name;
    uint32_t major, minor, build;
    uint32_t collect, keywords;
    uint32_t type;
    bool collected;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const CollectionCase& c, std::ostream* os) { *os << c.name; }
};

class EngineCollection : public Engine, public ::testing::WithParamInterface<CollectionCase> {};

TEST_P(EngineCollection, OptionsAndVersionDecideWhatIsCollected) {
    const CollectionCase& c = GetParam();
    setVersion(c.major, c.minor, c.build);
    ASSERT_EQ(setOption(FWPM_ENGINE_COLLECT_NET_EVENTS, c.collect), 0u);
    if (c.keywords != 0) {
        ASSERT_EQ(setOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, c.keywords), 0u);
    }
    Seen seen;
    const HANDLE subscription = subscribeEvents(&Seen::record, &seen);
    sim::wfp::NetEvent event;
    event.type = c.type;
    EXPECT_EQ(sim::wfp::raiseNetEvent(event), c.collected);
    sim::wfp::waitIdle();
    EXPECT_EQ(seen.types.size(), c.collected ? 1u : 0u);
    EXPECT_EQ(FwpmNetEventUnsubscribe0(m_engine, subscription), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineCollection,
    ::testing::Values(
        CollectionCase{"drop", 10, 0, 19045, 1, 0, FWPM_NET_EVENT_TYPE_CLASSIFY_DROP, true},
        CollectionCase{"collectionOff", 10, 0, 19045, 0, 0, FWPM_NET_EVENT_TYPE_CLASSIFY_DROP,
                       false},
        CollectionCase{"allowWithoutKeyword", 10, 0, 19045, 1, 0,
                       FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW, false},
        CollectionCase{"allowWithKeyword", 10, 0, 19045, 1, FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW,
                       FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW, true},
        CollectionCase{"capabilityDropWithoutKeyword", 10, 0, 19045, 1,
                       FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW, FWPM_NET_EVENT_TYPE_CAPABILITY_DROP,
                       false},
        CollectionCase{"capabilityAllowWithKeyword", 6, 2, 9200, 1,
                       FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW,
                       FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW, true},
        CollectionCase{"macDropOnWindows7", 6, 1, 7601, 1, 0, FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC,
                       false},
        CollectionCase{"macDropOnWindows8", 6, 2, 9200, 1, 0, FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC,
                       true},
        CollectionCase{"lpmArrivalOnWindows10", 10, 0, 19045, 1, 0,
                       FWPM_NET_EVENT_TYPE_LPM_PACKET_ARRIVAL, true},
        CollectionCase{"unknownType", 10, 0, 19045, 1, 0, 11, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Engine, RecordsCarryTheirDataExactlyAndOnlyTheTypesMember) {
    ASSERT_EQ(
        setOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW),
        0u);
    Seen seen;
    const HANDLE subscription = subscribeEvents(&Seen::record, &seen);
    sim::wfp::NetEvent drop;
    drop.filterId = 77;
    drop.appId = sim::wfp::appIdBytes(L"\\device\\a.exe");
    drop.userSid = sim::wfp::sidBytes(L"S-1-5-21-1-2-3-1001");
    ASSERT_TRUE(sim::wfp::raiseNetEvent(drop));
    sim::wfp::waitIdle();
    sim::wfp::NetEvent allow;
    allow.type = FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW;
    ASSERT_TRUE(sim::wfp::raiseNetEvent(allow));
    sim::wfp::waitIdle();
    ASSERT_EQ(seen.types.size(), 2u);
    EXPECT_EQ(seen.types, (std::vector<uint32_t>{FWPM_NET_EVENT_TYPE_CLASSIFY_DROP,
                                                 FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW}));
    EXPECT_EQ(seen.detailsSet, (std::vector<bool>{true, false}));
    EXPECT_EQ(seen.filterIds[0], 77u);
    EXPECT_EQ(seen.appIds[0].size(), 28u) << "13 characters and the final NUL";
    EXPECT_TRUE(seen.appIds[1].empty());
    EXPECT_EQ(seen.users, std::vector<std::wstring>{L"S-1-5-21-1-2-3-1001"});
    EXPECT_EQ(FwpmNetEventUnsubscribe0(m_engine, subscription), 0u);
}

// Blocks each callback until two run at once (or the time is up).
struct Meeting {
    std::mutex mutex;
    std::condition_variable met;
    int inside = 0;
    int most = 0;

    static void CALLBACK enter(void* context, const FWPM_NET_EVENT1*) {
        auto& meeting = *static_cast<Meeting*>(context);
        std::unique_lock lock(meeting.mutex);
        meeting.most = std::max(meeting.most, ++meeting.inside);
        meeting.met.notify_all();
        meeting.met.wait_for(lock, 5s, [&] { return meeting.most >= 2; });
        --meeting.inside;
    }
};

TEST_F(Engine, TwoCallbacksRunAtOnceOnEngineThreads) {
    Meeting meeting;
    const HANDLE subscription = subscribeEvents(&Meeting::enter, &meeting);
    ASSERT_TRUE(sim::wfp::raiseNetEvent({}));
    ASSERT_TRUE(sim::wfp::raiseNetEvent({}));
    sim::wfp::waitIdle();
    EXPECT_EQ(meeting.most, 2);
    EXPECT_EQ(FwpmNetEventUnsubscribe0(m_engine, subscription), 0u);
}

// A callback that waits for a release, to see who waits for it.
struct Gate {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();

    static void CALLBACK hold(void* context, const FWPM_NET_EVENT1*) {
        auto& gate = *static_cast<Gate*>(context);
        gate.entered.set_value();
        gate.released.wait();
    }
};

TEST_F(Engine, UnsubscribingWaitsForTheRunningCallback) {
    Gate gate;
    const HANDLE subscription = subscribeEvents(&Gate::hold, &gate);
    ASSERT_TRUE(sim::wfp::raiseNetEvent({}));
    gate.entered.get_future().wait();
    auto unsubscribed = std::async(
        std::launch::async, [&] { return FwpmNetEventUnsubscribe0(m_engine, subscription); });
    EXPECT_EQ(unsubscribed.wait_for(100ms), std::future_status::timeout);
    gate.release.set_value();
    EXPECT_EQ(unsubscribed.get(), 0u);
}

TEST_F(Engine, ClosingTheSessionEndsItsSubscriptions) {
    Seen seen;
    subscribeEvents(&Seen::record, &seen);
    EXPECT_EQ(sim::wfp::subscriptions(), 1u);
    ASSERT_EQ(FwpmEngineClose0(m_engine), 0u);
    m_engine = nullptr;
    EXPECT_EQ(sim::wfp::subscriptions(), 0u);
    EXPECT_TRUE(sim::wfp::raiseNetEvent({}));
    sim::wfp::waitIdle();
    EXPECT_TRUE(seen.types.empty());
}

struct SelfEnding {
    HANDLE engine;
    HANDLE subscription;
    static void CALLBACK end(void* context, const FWPM_NET_EVENT1*) {
        auto& self = *static_cast<SelfEnding*>(context);
        FwpmNetEventUnsubscribe0(self.engine, self.subscription);
    }
};

TEST_F(Engine, ACallbackThatEndsItsOwnSubscriptionWouldWaitForEver) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto endItself = [this] {
        SelfEnding self{m_engine, nullptr};
        self.subscription = subscribeEvents(&SelfEnding::end, &self);
        sim::wfp::raiseNetEvent({});
        sim::wfp::waitIdle();
    };
    EXPECT_DEATH(endItself(), "ended its own subscription");
}

struct Changes {
    std::mutex mutex;
    std::vector<FWPM_CHANGE_TYPE> types;
    std::vector<uint64_t> ids;
    static void CALLBACK record(void* context, const FWPM_FILTER_CHANGE0* change) {
        auto& changes = *static_cast<Changes*>(context);
        std::lock_guard lock(changes.mutex);
        changes.types.push_back(change->changeType);
        changes.ids.push_back(change->filterId);
    }
};

TEST_F(Engine, FilterChangesReachTheKindsASubscriptionAskedFor) {
    Changes adds;
    Changes deletes;
    HANDLE handles[2] = {};
    for (auto [changes, flags, handle] :
         {std::tuple{&adds, UINT32{FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD}, &handles[0]},
          std::tuple{&deletes, UINT32{FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE}, &handles[1]}}) {
        FWPM_FILTER_SUBSCRIPTION0 subscription{};
        subscription.flags = flags;
        ASSERT_EQ(
            FwpmFilterSubscribeChanges0(m_engine, &subscription, &Changes::record, changes, handle),
            0u);
    }
    const uint64_t id = sim::wfp::addFilter(L"Block RDP");
    EXPECT_EQ(sim::wfp::removeFiltersNamed(L"Block RDP"), 1u);
    sim::wfp::waitIdle();
    EXPECT_EQ(adds.types, std::vector<FWPM_CHANGE_TYPE>{FWPM_CHANGE_ADD});
    EXPECT_EQ(deletes.types, std::vector<FWPM_CHANGE_TYPE>{FWPM_CHANGE_DELETE});
    EXPECT_EQ(deletes.ids, std::vector<uint64_t>{id});
    FWPM_FILTER_SUBSCRIPTION0 unknownFlags{};
    unknownFlags.flags = 4;
    HANDLE refused = nullptr;
    EXPECT_EQ(
        FwpmFilterSubscribeChanges0(m_engine, &unknownFlags, &Changes::record, &adds, &refused),
        static_cast<DWORD>(FWP_E_INVALID_FLAGS));
    for (const HANDLE handle : handles) {
        EXPECT_EQ(FwpmFilterUnsubscribeChanges0(m_engine, handle), 0u);
    }
}

TEST_F(Engine, SubscriptionsNameNoOtherSession) {
    FWPM_SESSION0 other{};
    other.sessionKey.Data1 = 0x5e55;
    HANDLE otherEngine = nullptr;
    ASSERT_EQ(FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &other, &otherEngine), 0u);
    FWPM_NET_EVENT_SUBSCRIPTION0 subscription{};
    subscription.sessionKey = other.sessionKey;
    HANDLE handle = nullptr;
    EXPECT_EQ(FwpmNetEventSubscribe0(m_engine, &subscription, &Seen::record, nullptr, &handle),
              static_cast<DWORD>(FWP_E_INVALID_PARAMETER));
    EXPECT_EQ(FwpmNetEventSubscribe0(otherEngine, &subscription, &Seen::record, nullptr, &handle),
              0u);
    EXPECT_EQ(FwpmNetEventUnsubscribe0(m_engine, handle), static_cast<DWORD>(ERROR_INVALID_HANDLE))
        << "a subscription belongs to its session";
    EXPECT_EQ(FwpmEngineClose0(otherEngine), 0u);
}

TEST_F(Engine, OpeningNeedsTheRunningEngineAndTheLocalMachine) {
    HANDLE engine = nullptr;
    EXPECT_EQ(FwpmEngineOpen0(L"server", RPC_C_AUTHN_WINNT, nullptr, nullptr, &engine),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(FwpmEngineOpen0(nullptr, 9, nullptr, nullptr, &engine),
              static_cast<DWORD>(RPC_S_UNKNOWN_AUTHN_SERVICE));
    sim::wfp::setEngineRunning(false);
    EXPECT_EQ(FwpmEngineOpen0(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, nullptr, &engine),
              static_cast<DWORD>(EPT_S_NOT_REGISTERED));
    EXPECT_EQ(sim::wfp::openSessions(), 1u);
}

TEST_F(Engine, FiltersAndLayersAreFoundByIdAndKeyAsOneAllocationEach) {
    const uint64_t id = sim::wfp::addFilter(L"Block RDP", std::nullopt);
    FWPM_FILTER0* byId = nullptr;
    ASSERT_EQ(FwpmFilterGetById0(m_engine, id, &byId), 0u);
    EXPECT_EQ(std::wstring(byId->displayData.name), L"Block RDP");
    EXPECT_EQ(byId->displayData.description, nullptr);
    FWPM_FILTER0* byKey = nullptr;
    ASSERT_EQ(FwpmFilterGetByKey0(m_engine, &byId->filterKey, &byKey), 0u);
    EXPECT_EQ(byKey->filterId, id);
    FWPM_LAYER0* layer = nullptr;
    ASSERT_EQ(FwpmLayerGetById0(m_engine, sim::wfp::kLayerAuthConnectV4.id, &layer), 0u);
    EXPECT_EQ(std::wstring(layer->displayData.name), L"ALE Connect v4 Layer");
    FWPM_LAYER0* sameLayer = nullptr;
    ASSERT_EQ(FwpmLayerGetByKey0(m_engine, &layer->layerKey, &sameLayer), 0u);
    EXPECT_EQ(sameLayer->layerId, sim::wfp::kLayerAuthConnectV4.id);
    EXPECT_EQ(sim::wfp::liveAllocations(), 4u);
    for (void* record : {static_cast<void*>(byId), static_cast<void*>(byKey),
                         static_cast<void*>(layer), static_cast<void*>(sameLayer)}) {
        FwpmFreeMemory0(&record);
    }
}

TEST_F(Engine, LeaksAndWrongFreesAreCounted) {
    const uint64_t id = sim::wfp::addFilter(L"Block RDP");
    FWPM_FILTER0* filter = nullptr;
    ASSERT_EQ(FwpmFilterGetById0(m_engine, id, &filter), 0u);
    EXPECT_EQ(sim::wfp::liveAllocations(), 1u);
    void* copy = filter;
    FwpmFreeMemory0(reinterpret_cast<void**>(&filter));
    EXPECT_EQ(filter, nullptr);
    FwpmFreeMemory0(&copy);
    EXPECT_EQ(sim::wfp::badFrees(), 1u) << "freed twice";
    GUID key{};
    RPC_WSTR text = nullptr;
    ASSERT_EQ(UuidToStringW(&key, &text), RPC_S_OK);
    void* wrongKind = text;
    FwpmFreeMemory0(&wrongKind);
    EXPECT_EQ(sim::wfp::badFrees(), 2u) << "an RPC string is not the engine's memory";
    EXPECT_EQ(RpcStringFreeW(&text), RPC_S_OK);
}

TEST_F(Engine, ALookupCanSucceedWithNothing) {
    const uint64_t id = sim::wfp::addFilter(L"Block RDP");
    sim::wfp::setFilterLookupQuirk(id, sim::wfp::LookupQuirk::NullResult);
    FWPM_FILTER0* filter = reinterpret_cast<FWPM_FILTER0*>(uintptr_t{1});
    EXPECT_EQ(FwpmFilterGetById0(m_engine, id, &filter), 0u);
    EXPECT_EQ(filter, nullptr);
}

}  // namespace
