// The monitor on the simulated filtering engine: its session and options by Windows version,
// its subscriptions and their failures, the logs and alerts of network events, the
// re-application that filter changes ask for, and stopping.
#include <gtest/gtest.h>

#include "monitoring/FWAlertApi.h"
#include "sim/machine.h"
#include "sim/version_control.h"
#include "tests/monitoring/MonitorMachine.h"
#include "tests/rules/LogLines.h"
#include "tests/support/LogCapture.h"

namespace {

using tarn::test::dropBy;
using tarn::test::LogCapture;
using tarn::test::logged;
using tarn::test::LogLines;

constexpr uint32_t kKeywords19041 = FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP |
                                    FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW |
                                    FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW;

class Monitor : public tarn::test::MonitorMachine {
protected:
    std::unique_ptr<WinFWEventMonitor> start() {
        auto monitor = std::make_unique<WinFWEventMonitor>();
        EXPECT_TRUE(monitor->startMonitoring(m_provider, m_alerts));
        return monitor;
    }

    std::shared_ptr<FWAlertApi> m_alerts = std::make_shared<FWAlertApi>(kNamespace);
};

TEST_F(Monitor, StartingOpensItsOwnSessionAndSubscribesTwice) {
    LogCapture log;
    auto monitor = std::make_unique<WinFWEventMonitor>();
    LogLines events(monitor->eventsLog());
    ASSERT_TRUE(monitor->startMonitoring(m_provider, m_alerts));
    const auto sessions = sim::wfp::sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].name, L"TarnManageableWinFirewallSession");
    EXPECT_EQ(sessions[0].description, L"Monitoring session for Tarn Manageable firewall");
    EXPECT_EQ(sessions[0].flags, 0u) << "not dynamic: it sets engine options";
    EXPECT_EQ(sim::wfp::subscriptions(), 2u);
    EXPECT_TRUE(logged(log, 4, "WinFWEventMonitor::startMonitoring", "Monitoring started"));
    EXPECT_EQ(events.messages(), std::vector<std::string>{"Monitoring started"});
}

struct VersionCase {
    uint32_t major, minor, build;
    uint64_t optionCalls;
    uint32_t keywords, ipsec;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const VersionCase& c, std::ostream* os) {
        *os << c.major << "." << c.minor << "." << c.build;
    }
};

class MonitorOptions : public Monitor, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(MonitorOptions, TheWindowsVersionDecidesTheOptions) {
    const VersionCase& c = GetParam();
    sim::version::OsVersion version;
    version.major = c.major;
    version.minor = c.minor;
    version.build = c.build;
    sim::version::setOsVersion(version);
    LogCapture log;
    auto monitor = start();
    EXPECT_EQ(sim::callCount("FwpmEngineSetOption0"), c.optionCalls);
    EXPECT_EQ(sim::wfp::option(FWPM_ENGINE_COLLECT_NET_EVENTS), 1u);
    EXPECT_EQ(sim::wfp::option(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS), c.keywords);
    EXPECT_EQ(sim::wfp::option(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS), c.ipsec);
    EXPECT_EQ(log.count("FwpmEngineSetOption"), 0u) << log.dump();
}

INSTANTIATE_TEST_SUITE_P(Versions, MonitorOptions,
                         ::testing::Values(VersionCase{6, 1, 7601, 1, 0, 0},
                                           VersionCase{6, 2, 9200, 3, 0, 1},
                                           VersionCase{10, 0, 18363, 3, 0, 1},
                                           VersionCase{10, 0, 19041, 3, kKeywords19041, 1},
                                           VersionCase{10, 0, 22631, 3, kKeywords19041, 1}));

TEST_F(Monitor, AnOptionThatCannotBeSetIsLoggedAndMonitoringGoesOn) {
    LogCapture log;
    sim::failAlways("FwpmEngineSetOption0", ERROR_ACCESS_DENIED);
    auto monitor = start();
    const std::string tag = "WinFWEventMonitor::setFwpmEngineOption";
    EXPECT_TRUE(logged(log, 2, tag,
                       "FwpmEngineSetOption(FWPM_ENGINE_COLLECT_NET_EVENTS) failed with error: 5"));
    EXPECT_TRUE(logged(log, 2, tag,
                       "FwpmEngineSetOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS) failed: 5"));
    EXPECT_TRUE(logged(log, 2, tag,
                       "FwpmEngineSetOption(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS) failed: 5"));
    EXPECT_EQ(sim::wfp::subscriptions(), 2u);
}

TEST_F(Monitor, AnEngineThatCannotBeOpenedFailsTheStart) {
    LogCapture log;
    sim::wfp::setEngineRunning(false);
    WinFWEventMonitor monitor;
    EXPECT_FALSE(monitor.startMonitoring(m_provider, m_alerts));
    EXPECT_TRUE(logged(log, 2, "WinFWEventMonitor::openFwpmEngine",
                       "FwpmEngineOpen failed with error There are no more endpoints available "
                       "from the endpoint mapper.\r\n(1753)"))
        << log.dump();
    EXPECT_TRUE(logged(log, 2, "WinFWEventMonitor::startMonitoring",
                       "Initialization of event monitor failed"));
    EXPECT_EQ(sim::wfp::subscriptions(), 0u);
}

TEST_F(Monitor, AnEngineOpenedBeforeTheStartIsKept) {
    LogCapture log;
    WinFWEventMonitor monitor;
    ASSERT_TRUE(monitor.openFwpmEngine());
    ASSERT_TRUE(monitor.startMonitoring(m_provider, m_alerts));
    EXPECT_TRUE(
        logged(log, 4, "WinFWEventMonitor::openFwpmEngine", "FWEngineHandle had already opened"));
    EXPECT_EQ(sim::callCount("FwpmEngineOpen0"), 1u);
    EXPECT_EQ(sim::wfp::openSessions(), 1u);
}

TEST_F(Monitor, WithoutNetworkEventsTheStartFailsAndTheEngineStaysOpen) {
    LogCapture log;
    sim::failCall("FwpmNetEventSubscribe0", 1, ERROR_ACCESS_DENIED);
    WinFWEventMonitor monitor;
    EXPECT_FALSE(monitor.startMonitoring(m_provider, m_alerts));
    EXPECT_TRUE(logged(log, 2, "WinFWEventMonitor::subscribeOnFwpmNetEvent",
                       "Failed to start monitoring. FwpmNetEventSubscribe returned 5. Continuing "
                       "without monitoring"));
    EXPECT_EQ(sim::wfp::openSessions(), 1u);
    EXPECT_EQ(sim::callCount("FwpmFilterSubscribeChanges0"), 0u);
    monitor.stopMonitoring();
    EXPECT_EQ(sim::wfp::openSessions(), 0u);
}

TEST_F(Monitor, WithoutFilterChangesNetworkEventsAreStillWatched) {
    LogCapture log;
    sim::failCall("FwpmFilterSubscribeChanges0", 1, static_cast<DWORD>(FWP_E_INVALID_PARAMETER));
    auto monitor = start();
    LogLines blocks(monitor->blocksLog());
    EXPECT_TRUE(logged(log, 2, "WinFWEventMonitor::subscribeOnFwpmFilterChanges",
                       "Failed to start filter changed. FwpmFilterSubscribeChanges returned " +
                           std::to_string(static_cast<DWORD>(FWP_E_INVALID_PARAMETER))));
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(0)));
    sim::wfp::waitIdle();
    EXPECT_EQ(blocks.messages().size(), 1u);
}

// --- Network events ---------------------------------------------------------------------

TEST_F(Monitor, OnlyADropByARuleOnTheAlertListRaisesAnAlert) {
    const uint64_t alerting = sim::wfp::addFilter(L"Block RDP", L"managed rule");
    const uint64_t quiet = sim::wfp::addFilter(L"Block SMB", L"managed rule");
    m_provider->setAlertList({L"Block RDP", L"block smb"});
    auto monitor = start();
    LogLines blocks(monitor->blocksLog());
    LogLines events(monitor->eventsLog());
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(alerting, 3389, 50001)));
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(quiet, 445, 50002)));
    sim::wfp::waitIdle();

    const auto alerts = spooledAlerts();
    ASSERT_EQ(alerts.size(), 1u) << "names compare case-sensitively";
    EXPECT_EQ(alerts[0]["type"], "firewall.tarn_rule_triggered.block");
    EXPECT_EQ(alerts[0]["payload"]["ruleName"], "Block RDP");
    EXPECT_EQ(alerts[0]["payload"]["ruleGroupName"], "Tarn Firewall");
    EXPECT_EQ(alerts[0]["payload"]["layerName"], "ALE Receive/Accept v4 Layer");
    EXPECT_EQ(alerts[0]["payload"]["localPort"], 3389);
    EXPECT_EQ(blocks.count("Dropped by filter: Block RDP, managed rule. "), 1u);
    EXPECT_EQ(blocks.count("Dropped by filter: Block SMB, managed rule. "), 1u);
    EXPECT_TRUE(events.messages().empty());
    EXPECT_EQ(sim::wfp::liveAllocations(), 0u) << "filter and layer records freed";
    EXPECT_EQ(sim::wfp::badFrees(), 0u);
}

TEST_F(Monitor, AllowedTrafficGoesToTheEventsLogAndNeverAlerts) {
    const uint64_t filter = sim::wfp::addFilter(L"Block RDP");
    m_provider->setAlertList({L"Block RDP"});
    auto monitor = start();
    LogLines blocks(monitor->blocksLog());
    LogLines events(monitor->eventsLog());
    sim::wfp::NetEvent allowed = dropBy(filter, 80, 50003);
    allowed.type = FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW;
    ASSERT_TRUE(sim::wfp::raiseNetEvent(allowed)) << "collected from build 19041 on";
    sim::wfp::waitIdle();
    EXPECT_TRUE(spooledAlerts().empty());
    EXPECT_TRUE(blocks.messages().empty());
    EXPECT_EQ(events.count("Type: FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW. Local port: 80. "), 1u);
    EXPECT_EQ(m_provider->listReads(), 0) << "only drops look at the alert list";
}

TEST_F(Monitor, ADropWithoutFilterNameOrProviderNeverAlerts) {
    const uint64_t unnamed = sim::wfp::addFilter(L"");
    m_provider->setAlertList({L""});
    auto monitor = start();
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(unnamed)));
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(0)));
    sim::wfp::waitIdle();
    EXPECT_TRUE(spooledAlerts().empty());
    EXPECT_EQ(m_provider->listReads(), 0);

    WinFWEventMonitor withoutProvider;
    ASSERT_TRUE(withoutProvider.startMonitoring(nullptr, m_alerts));
    LogLines blocks(withoutProvider.blocksLog());
    const uint64_t named = sim::wfp::addFilter(L"Block RDP");
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(named)));
    sim::wfp::waitIdle();
    EXPECT_TRUE(spooledAlerts().empty());
    EXPECT_EQ(blocks.count("Dropped by filter: Block RDP"), 1u);
}

TEST_F(Monitor, EventLinesReachTheLogFiles) {
    const uint64_t filter = sim::wfp::addFilter(L"Block RDP", L"managed rule");
    auto monitor = start();
    ASSERT_TRUE(sim::wfp::raiseNetEvent(dropBy(filter, 3389, 50001)));
    sim::wfp::waitIdle();
    monitor.reset();
    const auto blocks = fileMessages(L"Blocks");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0],
              "Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. Dropped by filter: Block RDP, managed "
              "rule. Dropped by layer: ALE Receive/Accept v4 Layer. Direction: inbound. Local "
              "port: 3389. Remote port: 50001. IPv4 local address: 192.168.1.5. IPv4 remote "
              "address: 10.0.0.1. Protocol: TCP(6). ");
    EXPECT_EQ(fileMessages(L"Events"), std::vector<std::string>{"Monitoring started"});
}

// --- Filter changes ---------------------------------------------------------------------

TEST_F(Monitor, ADeletionAsksForReapplicationWithoutLookUpOrLine) {
    const uint64_t filter = sim::wfp::addFilter(L"Block RDP");
    auto monitor = start();
    LogLines events(monitor->eventsLog());
    ASSERT_TRUE(sim::wfp::removeFilter(filter));
    sim::wfp::waitIdle();
    EXPECT_EQ(m_provider->reapplyRequests(), 1);
    EXPECT_EQ(sim::callCount("FwpmFilterGetByKey0"), 0u);
    EXPECT_TRUE(events.messages().empty());
}

TEST_F(Monitor, ARunOfAdditionsOfOneFilterIsWrittenOnceButEachAsksForReapplication) {
    auto monitor = start();
    LogLines events(monitor->eventsLog());
    const uint64_t first = sim::wfp::addFilter(L"Block RDP");
    sim::wfp::waitIdle();
    sim::wfp::addFilter(L"Block RDP");
    sim::wfp::waitIdle();
    const uint64_t other = sim::wfp::addFilter(L"Block SMB");
    sim::wfp::waitIdle();
    EXPECT_EQ(m_provider->reapplyRequests(), 3);
    const auto messages = events.messages();
    ASSERT_EQ(messages.size(), 2u);
    const GUID key = sim::wfp::filter(first)->key;
    RPC_WSTR text = nullptr;
    ASSERT_EQ(UuidToStringW(&key, &text), RPC_S_OK);
    const std::string keyText = tarn::str::toUtf8(reinterpret_cast<const wchar_t*>(text));
    RpcStringFreeW(&text);
    EXPECT_EQ(messages[0],
              "Changed filter: Block RDP (" + std::to_string(first) + ", " + keyText + ")");
    EXPECT_EQ(messages[1].rfind("Changed filter: Block SMB (" + std::to_string(other) + ", ", 0),
              0u);
    EXPECT_EQ(sim::wfp::liveAllocations(), 0u);
}

TEST_F(Monitor, AChangedFilterThatCannotBeReadIsIgnored) {
    auto monitor = start();
    LogLines events(monitor->eventsLog());
    sim::failCall("FwpmFilterGetByKey0", 1, static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND));
    sim::wfp::addFilter(L"Block RDP");
    sim::wfp::waitIdle();
    EXPECT_EQ(m_provider->reapplyRequests(), 0);
    EXPECT_TRUE(events.messages().empty());
}

// --- Stopping ---------------------------------------------------------------------------

TEST_F(Monitor, StoppingEndsBothSubscriptionsThenTheSession) {
    auto monitor = start();
    monitor->stopMonitoring();
    EXPECT_EQ(sim::callCount("FwpmFilterUnsubscribeChanges0"), 1u);
    EXPECT_EQ(sim::callCount("FwpmNetEventUnsubscribe0"), 1u);
    EXPECT_EQ(sim::callCount("FwpmEngineClose0"), 1u);
    EXPECT_EQ(sim::wfp::subscriptions(), 0u);
    EXPECT_EQ(sim::wfp::openSessions(), 0u);
    EXPECT_TRUE(sim::wfp::raiseNetEvent(dropBy(0)));
    sim::wfp::waitIdle();
    EXPECT_EQ(sim::wfp::deliveredNetEvents(), 0u);
    monitor->stopMonitoring();
    EXPECT_EQ(sim::callCount("FwpmEngineClose0"), 1u) << "nothing left to close";
}

TEST_F(Monitor, AFailedCloseIsLoggedAndTheHandleForgotten) {
    LogCapture log;
    auto monitor = start();
    sim::failCall("FwpmEngineClose0", 1, ERROR_ACCESS_DENIED);
    monitor->stopMonitoring();
    EXPECT_TRUE(logged(log, 2, "WinFWEventMonitor::closeFwpmEngine",
                       "FwpmEngineClose failed with error: Access is denied.\r\n(5)"));
    monitor.reset();
    EXPECT_EQ(sim::callCount("FwpmEngineClose0"), 1u);
}

TEST_F(Monitor, DestroyingARunningMonitorStopsIt) {
    auto monitor = start();
    monitor.reset();
    EXPECT_EQ(sim::wfp::subscriptions(), 0u);
    EXPECT_EQ(sim::wfp::openSessions(), 0u);
}

}  // namespace
