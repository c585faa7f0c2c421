// The rule manager over whole passes: re-applying writes nothing, other programs' rules go off
// and come back exactly, a stopped service and uninstalling leave the firewall right.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "control/FwStateManager.h"
#include "tests/rules/LogLines.h"

namespace tarn::test {
namespace {

class ManagerTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        current.allowOtherRules = true;
    }

    // A policy of `count` rules whose texts Windows rewrites: prefixes, single addresses and
    // an IPv6 address written first.
    static std::vector<FWRule> largePolicy(int count) {
        std::vector<FWRule> rules;
        for (int i = 0; i < count; ++i) {
            FWRule rule = makeRule(L"Policy rule " + std::to_wstring(i), i % 3 == 0 ? 17 : 6,
                                   i % 2 ? FWRule::Direction::In : FWRule::Direction::Out,
                                   i % 5 ? FWRule::Action::Allow : FWRule::Action::Block);
            rule.remoteAddresses = L"fe80::" + std::to_wstring(i % 9000 + 1) + L",10." +
                                   std::to_wstring(i / 256 % 256) + L"." +
                                   std::to_wstring(i % 256) + L".0/24,192.168.1." +
                                   std::to_wstring(i % 250 + 1);
            rule.localPorts = L"443,80," + std::to_wstring(1000 + i);
            rule.applicationPath = L"%ProgramFiles%\\App" + std::to_wstring(i) + L"\\app.exe";
            rule.networkType = i % 4 == 0 ? FWRule::NetworkPublic : FWRule::NetworkAll;
            rules.push_back(rule);
        }
        return rules;
    }

    void pass() {
        manager.applyTarnDefaultRules();
        manager.applyCurrentRules();
        manager.updateSylphWhitelistRules();
    }

    FWCurrentSettings current;
    SimRuleManager manager{stop, provider, alerts, holder, &current};
};

TEST_F(ManagerTest, ReapplyingAThousandUnchangedRulesWritesNothing) {
    provider->currentRules = largePolicy(1000);
    manager.applyCurrentRules();
    ASSERT_EQ(sim::firewall::rules().size(), 1000u);
    ASSERT_TRUE(alerts->alerts.empty()) << alerts->alerts[0].reason;
    // Windows' own notation and order, not the policy's.
    EXPECT_EQ(sim::firewall::findRule(L"Policy rule 7")->remoteAddresses,
              L"10.0.7.0/255.255.255.0,192.168.1.8/255.255.255.255,fe80::8");
    const uint64_t calls = sim::firewall::calls();
    const auto [writes, reads] = writesAndReads([&] { manager.applyCurrentRules(); });
    EXPECT_EQ(writes, 0u);
    // One collection for the pass; per rule the look-up and each compared property, edge
    // traversal only for the 500 inbound rules.
    EXPECT_EQ(reads, 1u + 500u * 18u + 500u * 17u);
    // Besides, per rule, the question for the interface that holds the package identity.
    EXPECT_EQ(sim::firewall::calls() - calls, reads + 1000u);
    EXPECT_EQ(provider->stored[keys::kStatusInstalledRules].size(), 1000u);
}

TEST_F(ManagerTest, ARuleDroppedFromThePolicyIsDeleted) {
    provider->currentRules = largePolicy(3);
    manager.applyCurrentRules();
    provider->currentRules.pop_back();
    manager.applyCurrentRules();
    EXPECT_FALSE(sim::firewall::findRule(L"Policy rule 2").has_value());
    EXPECT_EQ(provider->stored[keys::kStatusInstalledRules],
              (std::vector<std::wstring>{L"Policy rule 0", L"Policy rule 1"}));
    current.firewallEnabled = false;
    manager.applyCurrentRules();
    EXPECT_TRUE(sim::firewall::rules().empty());
    EXPECT_TRUE(provider->stored[keys::kStatusInstalledRules].empty());
}

TEST_F(ManagerTest, RefusedRulesAreReportedThroughTheActions) {
    provider->refused = {{makeRule(L"Bad rule"), L"Name is too short"}};
    manager.applyCurrentRules();
    ASSERT_EQ(alerts->alerts.size(), 1u);
    EXPECT_EQ(alerts->alerts[0].reason, L"Name is too short");
    EXPECT_EQ(provider->allowedDns, std::vector<std::wstring>{L"example.org"});
}

TEST_F(ManagerTest, OtherRulesGoOffAndExactlyTheUnchangedOnesComeBack) {
    sim::firewall::addRule(otherRule(L"Other rule on"));
    sim::firewall::addRule(otherRule(L"Other rule changed"));
    auto off = otherRule(L"Other rule already off");
    off.enabled = false;
    sim::firewall::addRule(off);
    provider->currentRules = largePolicy(2);
    current.allowOtherRules = false;
    manager.applyCurrentRules();
    for (const auto& rule : sim::firewall::rules()) {
        EXPECT_EQ(rule.enabled, rule.name.rfind(L"Policy rule", 0) == 0) << rule.name;
    }
    EXPECT_EQ(provider->stored[keys::kStatusDisabledOtherRules].size(), 2u);
    EXPECT_TRUE(logged(log, 4, "FwRuleManager::deleteNonTarnRules", "Disabling all rules"));

    sim::firewall::changeRule(L"Other rule changed", [](auto& r) { r.localPorts = L"446"; });
    current.allowOtherRules = true;
    manager.applyCurrentRules();
    EXPECT_TRUE(sim::firewall::findRule(L"Other rule on")->enabled);
    EXPECT_FALSE(sim::firewall::findRule(L"Other rule changed")->enabled);
    EXPECT_FALSE(sim::firewall::findRule(L"Other rule already off")->enabled);
    EXPECT_TRUE(provider->stored[keys::kStatusDisabledOtherRules].empty());
}

TEST_F(ManagerTest, IsolationDecidesAboutOtherRulesWhileItIsOn) {
    sim::firewall::addRule(otherRule(L"Other rule on"));
    current.networkIsolationEnabled = true;
    current.isolationAllowOtherRules = false;
    manager.applyCurrentRules();
    EXPECT_FALSE(sim::firewall::findRule(L"Other rule on")->enabled);
    current.networkIsolationEnabled = false;
    manager.applyCurrentRules();
    EXPECT_TRUE(sim::firewall::findRule(L"Other rule on")->enabled);
}

TEST_F(ManagerTest, AServiceStopMidPassGivesUpCleanlyAndTheNextPassCompletes) {
    provider->currentRules = largePolicy(20);
    int changes = 0;
    sim::firewall::setChangeHook([&](const sim::firewall::Rule*, const sim::firewall::Rule*) {
        if (++changes == 5) {
            sim::firewall::stopService();
        }
    });
    manager.applyCurrentRules();
    EXPECT_EQ(sim::firewall::rules().size(), 5u);
    EXPECT_FALSE(holder->beSureThatInterfaceIsAlive(false));
    sim::firewall::setChangeHook(nullptr);
    sim::firewall::startService();
    ASSERT_TRUE(holder->beSureThatInterfaceIsAlive(true));
    alerts->alerts.clear();
    manager.applyCurrentRules();
    EXPECT_EQ(sim::firewall::rules().size(), 20u);
    EXPECT_TRUE(alerts->alerts.empty());
    EXPECT_EQ(provider->stored[keys::kStatusInstalledRules].size(), 20u);
}

TEST_F(ManagerTest, UninstallLeavesTheFirewallExactlyAsBeforeTheFirstPass) {
    sim::firewall::addRule(otherRule(L"Other rule on"));
    auto off = otherRule(L"Other rule already off");
    off.enabled = false;
    sim::firewall::addRule(off);
    sim::firewall::setProfile(2, {false, true, true, true, 1, 0});
    const auto rulesBefore = sim::firewall::rules();
    const sim::firewall::ProfileSettings profilesBefore[] = {
        sim::firewall::profile(1), sim::firewall::profile(2), sim::firewall::profile(4)};

    FwStateManager state(provider, holder, &current);
    provider->defaultRules = {makeRule(L"Tarn: Allow DNS queries", 17, FWRule::Direction::Out),
                              makeRule(L"Tarn: Allow DHCP", 17, FWRule::Direction::Out)};
    provider->whitelist = {L"C:\\Tools\\tool.exe"};
    provider->currentRules = largePolicy(4);
    current.allowOtherRules = false;
    state.applyNetworkSettings(current);
    provider->firewallEnabledStatus = true;
    pass();
    ASSERT_EQ(sim::firewall::rules().size(), 2u + 2u + 1u + 4u);
    ASSERT_FALSE(sim::firewall::findRule(L"Other rule on")->enabled);

    manager.restoreNonTarnRuleSet(true);
    state.restoreNetworkSettings();
    EXPECT_EQ(sim::firewall::rules(), rulesBefore);
    EXPECT_EQ(sim::firewall::profile(1), profilesBefore[0]);
    EXPECT_EQ(sim::firewall::profile(2), profilesBefore[1]);
    EXPECT_EQ(sim::firewall::profile(4), profilesBefore[2]);
}

TEST_F(ManagerTest, RestoringWithoutUninstallKeepsDefaultsWhitelistAndDisabledRules) {
    sim::firewall::addRule(otherRule(L"Other rule on"));
    provider->defaultRules = {makeRule(L"Tarn: Allow DHCP", 17, FWRule::Direction::Out)};
    provider->whitelist = {L"C:\\Tools\\tool.exe"};
    provider->currentRules = largePolicy(2);
    current.allowOtherRules = false;
    pass();
    manager.restoreNonTarnRuleSet(false);
    EXPECT_TRUE(sim::firewall::findRule(L"Tarn: Allow DHCP").has_value());
    EXPECT_TRUE(sim::firewall::findRule(L"Tarn whitelisted process tool.exe").has_value());
    EXPECT_FALSE(sim::firewall::findRule(L"Other rule on")->enabled);
    EXPECT_FALSE(sim::firewall::findRule(L"Policy rule 0").has_value());
}

TEST_F(ManagerTest, WhitelistRulesFollowTheWhitelist) {
    provider->whitelist = {L"C:\\A\\tool.exe", L"D:\\B\\tool.exe", L"C:\\other.exe"};
    manager.updateSylphWhitelistRules();
    ASSERT_EQ(sim::firewall::rules().size(), 2u);
    EXPECT_EQ(sim::firewall::findRule(L"Tarn whitelisted process tool.exe")->applicationName,
              L"D:\\B\\tool.exe");
    provider->whitelist = {L"C:\\other.exe"};
    manager.updateSylphWhitelistRules();
    EXPECT_FALSE(sim::firewall::findRule(L"Tarn whitelisted process tool.exe").has_value());
    EXPECT_EQ(provider->stored[keys::kStatusInstalledSylphRules],
              std::vector<std::wstring>{L"Tarn whitelisted process other.exe"});
}

TEST_F(ManagerTest, OldInboundRulesAreCleanedUpOnce) {
    sim::firewall::addRule(otherRule(L"Tarn: Allow mDNS (In)"));
    provider->deleteOldInbound = true;
    provider->inboundDefaultsAllowed = false;
    manager.applyTarnDefaultRules();
    EXPECT_TRUE(sim::firewall::rules().empty());
    EXPECT_TRUE(provider->oldInboundDeleted);
    sim::firewall::addRule(otherRule(L"Tarn: Allow mDNS (In)"));
    manager.applyTarnDefaultRules();
    EXPECT_EQ(sim::firewall::rules().size(), 1u);
}

}  // namespace
}  // namespace tarn::test
