// The filtering engine's management API as the monitor uses it, on the simulated machine and on
// Windows alike. Nothing here changes the engine's options or filters: on a real machine they
// are engine-wide and persist. Under wine only the tests without an engine session run (see
// tests/wine-exclusions.txt).
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "platform/wfp.h"

namespace {

class EngineSession {
public:
    explicit EngineSession(UINT32 flags = 0, const GUID& key = GUID{}) {
        FWPM_SESSION0 session{};
        session.sessionKey = key;
        session.flags = flags;
        m_result = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &m_engine);
    }
    ~EngineSession() {
        if (m_engine != nullptr) {
            FwpmEngineClose0(m_engine);
        }
    }
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    DWORD result() const { return m_result; }
    HANDLE get() const { return m_engine; }

private:
    HANDLE m_engine = nullptr;
    DWORD m_result = 0;
};

GUID testKey() {
    GUID key{};
    key.Data1 = 0x7e57a11e;
    key.Data2 = 0x1234;
    key.Data3 = 0x4abc;
    key.Data4[0] = 0x8f;
    key.Data4[7] = 0x42;
    return key;
}

TEST(WfpApi, GuidTextsAreLowerCaseAndFreedByTheRpcRuntime) {
    GUID key = testKey();
    RPC_WSTR text = nullptr;
    ASSERT_EQ(UuidToStringW(&key, &text), RPC_S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(text)),
              L"7e57a11e-1234-4abc-8f00-000000000042");
    EXPECT_EQ(RpcStringFreeW(&text), RPC_S_OK);
}

TEST(WfpApi, FreeingNothingIsAllowed) {
    void* nothing = nullptr;
    FwpmFreeMemory0(&nothing);
    FwpmFreeMemory0(nullptr);
    EXPECT_EQ(nothing, nullptr);
}

TEST(WfpApi, ASessionOpensAndCloses) {
    EngineSession session;
    ASSERT_EQ(session.result(), 0u);
    EXPECT_NE(session.get(), nullptr);
}

TEST(WfpApi, ASessionKeyCanBeOpenOnlyOnce) {
    EngineSession first(0, testKey());
    ASSERT_EQ(first.result(), 0u);
    EngineSession second(0, testKey());
    EXPECT_EQ(second.result(), static_cast<DWORD>(FWP_E_ALREADY_EXISTS));
}

TEST(WfpApi, CollectingNetworkEventsIsAnOptionOfTheEngine) {
    EngineSession session;
    ASSERT_EQ(session.result(), 0u);
    FWP_VALUE0* value = nullptr;
    ASSERT_EQ(FwpmEngineGetOption0(session.get(), FWPM_ENGINE_COLLECT_NET_EVENTS, &value), 0u);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, FWP_UINT32);
    EXPECT_LE(value->uint32, 1u);
    FwpmFreeMemory0(reinterpret_cast<void**>(&value));
    EXPECT_EQ(value, nullptr);
}

TEST(WfpApi, ADynamicSessionCannotSetOptions) {
    EngineSession session(FWPM_SESSION_FLAG_DYNAMIC);
    ASSERT_EQ(session.result(), 0u);
    FWP_VALUE0 value{};
    value.type = FWP_UINT32;
    value.uint32 = 1;
    EXPECT_EQ(FwpmEngineSetOption0(session.get(), FWPM_ENGINE_COLLECT_NET_EVENTS, &value),
              static_cast<DWORD>(FWP_E_DYNAMIC_SESSION_IN_PROGRESS));
}

TEST(WfpApi, MissingFiltersAndLayersHaveTheirOwnCodes) {
    EngineSession session;
    ASSERT_EQ(session.result(), 0u);
    FWPM_FILTER0* filter = nullptr;
    EXPECT_EQ(FwpmFilterGetById0(session.get(), 0xFFFFFFFFFFFFull, &filter),
              static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND));
    GUID key = testKey();
    EXPECT_EQ(FwpmFilterGetByKey0(session.get(), &key, &filter),
              static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND));
    EXPECT_EQ(filter, nullptr);
    FWPM_LAYER0* layer = nullptr;
    EXPECT_EQ(FwpmLayerGetById0(session.get(), 0xFFFF, &layer),
              static_cast<DWORD>(FWP_E_LAYER_NOT_FOUND));
    EXPECT_EQ(layer, nullptr);
}

void CALLBACK ignoreEvent(void*, const FWPM_NET_EVENT1*) {}
void CALLBACK ignoreChange(void*, const FWPM_FILTER_CHANGE0*) {}

TEST(WfpApi, SubscriptionsComeAndGoAndANullOneIsNothingToEnd) {
    EngineSession session;
    ASSERT_EQ(session.result(), 0u);
    FWPM_NET_EVENT_ENUM_TEMPLATE0 everything{};
    FWPM_NET_EVENT_SUBSCRIPTION0 events{};
    events.enumTemplate = &everything;
    HANDLE eventsHandle = nullptr;
    ASSERT_EQ(FwpmNetEventSubscribe0(session.get(), &events, &ignoreEvent, nullptr, &eventsHandle),
              0u);
    FWPM_FILTER_SUBSCRIPTION0 changes{};
    changes.flags = FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD | FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE;
    HANDLE changesHandle = nullptr;
    ASSERT_EQ(FwpmFilterSubscribeChanges0(session.get(), &changes, &ignoreChange, nullptr,
                                          &changesHandle),
              0u);
    EXPECT_EQ(FwpmFilterUnsubscribeChanges0(session.get(), changesHandle), 0u);
    EXPECT_EQ(FwpmNetEventUnsubscribe0(session.get(), eventsHandle), 0u);
    EXPECT_EQ(FwpmNetEventUnsubscribe0(session.get(), nullptr), 0u);
    EXPECT_EQ(FwpmFilterUnsubscribeChanges0(session.get(), nullptr), 0u);
}

}  // namespace
