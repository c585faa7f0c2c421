// Automatic profile selection against a scripted provider and network: which profile it
// writes, the Lanshare parameters, which changes call for a full update, and its schedule.
#include <gmock/gmock.h>

#include <thread>

#include "profile_selection/AutomaticProfileSelection.h"
#include "tests/profile_selection/MockProvider.h"
#include "tests/settings/ProviderTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::LogCapture;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;
using Texts = std::vector<std::wstring>;

// Lists set by the test; refresh answers as scripted and counts its calls.
class ScriptedNetwork : public NetworkSettings {
public:
    void setNetworks(Texts networks) {
        std::lock_guard lock(m_mutex);
        m_networks = std::move(networks);
    }
    void setRefreshAnswer(bool changed) { m_changed = changed; }
    int refreshes() const { return m_refreshes; }

    bool refresh() override {
        ++m_refreshes;
        return m_changed.load();
    }
    Texts getNetworks() const override {
        std::lock_guard lock(m_mutex);
        return m_networks;
    }
    Texts getGateways() const override { return {L"192.168.2.1"}; }

private:
    mutable std::mutex m_mutex;
    Texts m_networks;
    std::atomic<bool> m_changed{false};
    std::atomic<int> m_refreshes{0};
};

AutomaticProfileSelectionRule rule(int64_t priority, const wchar_t* profile, const wchar_t* method1,
                                   const wchar_t* argument1, const wchar_t* method2 = L"always") {
    return {priority, profile, method1, argument1, method2, L""};
}

AutomaticProfileSelectionSettings enabledWith(std::vector<AutomaticProfileSelectionRule> rules) {
    AutomaticProfileSelectionSettings settings;
    settings.enabled = true;
    for (const auto& r : rules) {
        settings.rules[r.priority] = r;
    }
    return settings;
}

const LanshareSettings kNothingAllowed{false, false, -1, L""};

class Selection : public ::testing::Test {
protected:
    ~Selection() override {
        if (m_loop.joinable()) {
            scheduler.stop(false);
            m_loop.join();
        }
        selection.reset();  // after the loop: its tasks refer to it
    }

    // Created without running the scheduler: the tests call the operations themselves.
    void create() {
        selection = std::make_unique<AutomaticProfileSelection>(scheduler, provider, network);
    }
    void createAndRun() {
        // Every full update writes the parameters.
        ON_CALL(*provider, setLanshareAllowRulesParams(_, _))
            .WillByDefault(::testing::InvokeWithoutArgs([this] { ++fullUpdates; }));
        create();
        m_loop = std::thread([this] { scheduler.run(); });
    }

    std::shared_ptr<NiceMock<tarn::test::MockProvider>> provider =
        std::make_shared<NiceMock<tarn::test::MockProvider>>();
    std::shared_ptr<ScriptedNetwork> network = std::make_shared<ScriptedNetwork>();
    tarn::test::FakeClockScheduler scheduler;
    std::unique_ptr<AutomaticProfileSelection> selection;
    std::atomic<int> fullUpdates{0};

private:
    std::thread m_loop;
};

TEST_F(Selection, StartUpUpdatesAtOnceAndPollsEveryTenSeconds) {
    createAndRun();
    scheduler.settle();
    EXPECT_EQ(fullUpdates, 1);
    EXPECT_EQ(network->refreshes(), 0);
    scheduler.advance(9999ms);
    scheduler.settle();
    EXPECT_EQ(network->refreshes(), 0);
    scheduler.advance(1ms);
    scheduler.settle();
    EXPECT_EQ(network->refreshes(), 1);
    EXPECT_EQ(fullUpdates, 1) << "an unchanged network calls for nothing";

    network->setRefreshAnswer(true);
    scheduler.advance(10s);
    scheduler.settle();
    scheduler.settle();  // the full update that the poll scheduled
    EXPECT_EQ(network->refreshes(), 2);
    EXPECT_EQ(fullUpdates, 2);
}

TEST_F(Selection, TheFirstMatchingRuleByPriorityNamesTheProfile) {
    // The rule with the lower number is looked at first, whatever the order of the policy.
    ON_CALL(*provider, getAutomaticProfileSelectionSettings())
        .WillByDefault(Return(enabledWith(
            {rule(10, L"A", L"always", L""), rule(5, L"B", L"my_network", L"10.*.*.*")})));
    ON_CALL(*provider, getAutoselectedProfileName()).WillByDefault(Return(L"old"));
    create();
    struct Case {
        Texts networks;
        const wchar_t* chosen;
    };
    const Case cases[] = {
        {{L"10.0.0.0 10.0.0.255"}, L"B"},
        {{L"192.168.1.0 192.168.1.255"}, L"A"},
        {{L"192.168.1.0 192.168.1.255", L"10.20.4.0 10.20.7.255"}, L"B"},
        {{}, L"A"},
    };
    for (const Case& c : cases) {
        network->setNetworks(c.networks);
        ::testing::InSequence order;
        EXPECT_CALL(*provider, setAutoselectedProfileName(std::wstring(c.chosen)));
        EXPECT_CALL(*provider, resetProfileNameChangedByUser());
        selection->detectCurrentProfileName();
        ::testing::Mock::VerifyAndClearExpectations(provider.get());
    }
}

TEST_F(Selection, BothConditionsOfARuleMustHold) {
    ON_CALL(*provider, getAutomaticProfileSelectionSettings())
        .WillByDefault(Return(enabledWith(
            {rule(1, L"office", L"my_network", L"10.*.*.*", L"default_gateway_ip_address"),
             rule(2, L"home", L"default_gateway_ip_address", L"192.168.2.1", L"always")})));
    network->setNetworks({L"10.20.4.0 10.20.7.255"});
    create();
    EXPECT_CALL(*provider, setAutoselectedProfileName(std::wstring(L"home")));
    selection->detectCurrentProfileName();
}

TEST_F(Selection, NothingIsWrittenWithoutANewChoice) {
    struct Case {
        const char* what;
        AutomaticProfileSelectionSettings settings;
    };
    auto disabled = enabledWith({rule(1, L"A", L"always", L"")});
    disabled.enabled = false;
    const Case cases[] = {
        {"disabled", disabled},
        {"no rules", enabledWith({})},
        {"no rule matches",
         enabledWith({rule(1, L"A", L"never", L""), rule(2, L"B", L"my_network", L"10.1.0.1")})},
        {"an empty name", enabledWith({rule(1, L"", L"always", L"")})},
        {"the same name", enabledWith({rule(1, L"current", L"always", L"")})},
    };
    ON_CALL(*provider, getAutoselectedProfileName()).WillByDefault(Return(L"current"));
    network->setNetworks({L"10.0.0.0 10.0.0.255"});
    create();
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_CALL(*provider, getAutomaticProfileSelectionSettings()).WillOnce(Return(c.settings));
        EXPECT_CALL(*provider, setAutoselectedProfileName(_)).Times(0);
        EXPECT_CALL(*provider, resetProfileNameChangedByUser()).Times(0);
        selection->detectCurrentProfileName();
        EXPECT_FALSE(log.contains("Detected new profile name")) << c.what;
        ::testing::Mock::VerifyAndClearExpectations(provider.get());
    }
    LogCapture log;
    EXPECT_CALL(*provider, getAutomaticProfileSelectionSettings())
        .WillOnce(Return(enabledWith({rule(1, L"next", L"always", L"")})));
    selection->detectCurrentProfileName();
    EXPECT_TRUE(log.contains("Detected new profile name: next", 4)) << log.dump();
}

TEST_F(Selection, ALockedCurrentProfileNameTakesBackTheUsersChoice) {
    create();
    LogCapture log;
    EXPECT_CALL(*provider, isCurrentProfileNameLocked()).WillOnce(Return(true));
    EXPECT_CALL(*provider, resetProfileNameChangedByUser());
    selection->onFWSettingChanged(L"windows.firewall.current_profile_name");
    EXPECT_EQ(log.count("windows.firewall.current_profile_name is readonly", 4), 1u) << log.dump();
    ::testing::Mock::VerifyAndClearExpectations(provider.get());

    EXPECT_CALL(*provider, isCurrentProfileNameLocked()).WillOnce(Return(false));
    EXPECT_CALL(*provider, resetProfileNameChangedByUser()).Times(0);
    selection->onFWSettingChanged(L"windows.firewall.current_profile_name");
}

TEST_F(Selection, WhichChangedKeysCallForAFullUpdate) {
    createAndRun();
    scheduler.settle();
    ASSERT_EQ(fullUpdates, 1);
    const std::pair<const wchar_t*, bool> keys[] = {
        {L"windows.firewall.automatic_profile_selection", true},
        {L"windows.firewall.automatic_profile_selection.enabled", true},
        {L"x.windows.firewall.automatic_profile_selection.rules", true},
        {L"windows.ferry2.lanshare", true},
        {L"windows.ferry2.lanshare.port", true},
        {L"windows.ferry2.lanshares", true},
        {L"Windows.ferry2.lanshare", false},
        {L"local.windows.ferry2.lanshare.allow_rules.port", false},
        {L"windows.firewall.network_isolation.enabled", true},
        {L"windows.firewall.network_isolation.local.enabled", true},
        {L"windows.firewall.network_isolation", false},
        {L"windows.firewall.profiles", false},
        {L"windows.firewall.current_autoselected_profile_name", false},
        {L"windows.firewall.current_profile_name", false},
    };
    for (const auto& [key, wanted] : keys) {
        const std::string label = tarn::str::toUtf8(key);
        LogCapture log;
        const int before = fullUpdates;
        selection->onFWSettingChanged(key);
        scheduler.settle();
        EXPECT_EQ(fullUpdates - before, wanted ? 1 : 0) << label;
        EXPECT_EQ(log.contains("Settings change detected in " + label, 4), wanted) << label;
    }
}

TEST_F(Selection, LanshareParametersFollowThePolicyTheNetworkAndIsolation) {
    struct Case {
        const char* what;
        LanshareSettings policy;
        bool isolation;
        Texts networks;
        LanshareSettings written;
        const wchar_t* subnet;
    };
    const LanshareSettings server{true, false, 8080, L"192.168.1.255"};
    const Texts home = {L"192.168.1.0 192.168.1.255"};
    const Case cases[] = {
        {"allowed", server, false, home, server, L"192.168.1.1 192.168.1.254"},
        {"isolated", server, true, home, kNothingAllowed, L""},
        {"not on that network", server, false, {L"10.0.0.0 10.0.0.255"}, kNothingAllowed, L""},
        {"no network", server, false, {}, kNothingAllowed, L""},
        {"both sides off", {false, false, 8080, L""}, false, home, kNothingAllowed, L""},
        {"negative port", {true, true, -5, L""}, false, home, kNothingAllowed, L""},
        {"port 0", {false, true, 0, L""}, false, home, {false, true, 0, L""}, L""},
    };
    create();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        network->setNetworks(c.networks);
        ON_CALL(*provider, getLanshareSettings()).WillByDefault(Return(c.policy));
        ON_CALL(*provider, isNetworkIsolationEnabled()).WillByDefault(Return(c.isolation));
        EXPECT_CALL(*provider, setLanshareAllowRulesParams(c.written, std::wstring(c.subnet)));
        LogCapture log;
        selection->updateLanshareRulesParams();
        ::testing::Mock::VerifyAndClearExpectations(provider.get());
        if (!c.isolation && c.policy.port >= 0 &&
            (c.policy.serverEnabled || c.policy.clientEnabled)) {
            EXPECT_EQ(log.count("IP range: ", 4), c.networks.size()) << c.what;
        }
    }
}

}  // namespace
