// Applying one rule: new rules are added whole, existing ones changed in place, rules that
// cannot be brought into line are deleted, and every failure is reported.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "rules/ComSupport.h"
#include "tests/rules/LogLines.h"

namespace tarn::test {
namespace {

class ActionsTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        actions->invalidRulesLog().pinLevel(4);
        actions->invalidRulesLog().setLineObserver(
            [this](int32_t, std::string_view, std::string_view message) {
                invalidLines.emplace_back(message);
            });
    }
    void TearDown() override { actions->invalidRulesLog().setLineObserver(nullptr); }

    std::vector<std::string> invalidLines;
};

FWRule webRule() {
    FWRule rule = makeRule(L"Allow web server", 6, FWRule::Direction::In, FWRule::Action::Allow);
    rule.localPorts = L"443,80";
    rule.remoteAddresses = L"fe80::/64,10.1.0.0/16";
    rule.applicationPath = L"%SystemRoot%\\system32\\svchost.exe";
    rule.serviceName = L"w3svc";
    rule.networkType = FWRule::NetworkPrivate;
    rule.edgeTraversal = true;
    return rule;
}

TEST_F(ActionsTest, ANewRuleIsAddedWithEveryProperty) {
    actions->applyFwRule(webRule(), true);
    const auto stored = sim::firewall::findRule(L"Allow web server");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->description, L"Allow web server description");
    EXPECT_EQ(stored->grouping, L"Tarn Firewall");
    EXPECT_EQ(stored->localPorts, L"443,80");
    EXPECT_EQ(stored->remoteAddresses, L"10.1.0.0/255.255.0.0,fe80::/64");
    EXPECT_EQ(stored->applicationName, L"%SystemRoot%\\system32\\svchost.exe");
    EXPECT_EQ(stored->serviceName, L"w3svc");
    EXPECT_EQ(stored->profiles, 2);
    EXPECT_EQ(stored->direction, 1);
    EXPECT_EQ(stored->action, 1);
    EXPECT_TRUE(stored->enabled);
    EXPECT_TRUE(stored->edgeTraversal);
    EXPECT_TRUE(
        logged(log, 4, "FwRuleActions::applyFwRule", "Firewall Rule Added: Allow web server"));
    EXPECT_EQ(provider->lists[keys::kStatusInstalledRules],
              std::vector<std::wstring>{L"Allow web server"});
    EXPECT_TRUE(alerts->alerts.empty());
}

TEST_F(ActionsTest, AnUnchangedRuleIsOnlyRead) {
    actions->applyFwRule(webRule(), false);
    log.clear();
    const auto [writes, reads] = writesAndReads([&] { actions->applyFwRule(webRule(), true); });
    EXPECT_EQ(writes, 0u);
    // The rule collection, the look-up, and one read of each of the 17 compared properties.
    EXPECT_EQ(reads, 19u);
    // With a shared collection, only the look-up and the properties.
    const FwRuleActions::SharedRules shared(*actions);
    const auto [sharedWrites, sharedReads] =
        writesAndReads([&] { actions->applyFwRule(webRule(), true); });
    EXPECT_EQ(sharedWrites, 0u);
    EXPECT_EQ(sharedReads, 18u);
    EXPECT_FALSE(log.contains("Firewall Rule Added"));
    EXPECT_EQ(provider->lists[keys::kStatusInstalledRules],
              std::vector<std::wstring>{L"Allow web server"});
}

TEST_F(ActionsTest, AProtocolChangeClearsThePortsFirst) {
    actions->applyFwRule(webRule(), false);
    FWRule icmp = webRule();
    icmp.protocol = 1;
    icmp.localPorts.clear();
    icmp.edgeTraversal = false;
    actions->applyFwRule(icmp, false);
    const auto stored = sim::firewall::findRule(L"Allow web server");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->protocol, 1);
    EXPECT_EQ(stored->localPorts, L"");
    EXPECT_EQ(stored->icmpTypesAndCodes, L"");  // reads back as "*", which is what was wanted
    EXPECT_EQ(sim::callCount("INetFwRule::get_IcmpTypesAndCodes"), 1u);
    EXPECT_TRUE(alerts->alerts.empty()) << log.dump();
}

TEST_F(ActionsTest, AnActionThatCannotBeWrittenRecreatesTheRule) {
    actions->applyFwRule(webRule(), true);
    FWRule blocking = webRule();
    blocking.action = FWRule::Action::Block;
    sim::failCall("INetFwRule::put_Action", 1, E_FAIL);
    actions->applyFwRule(blocking, true);
    EXPECT_TRUE(logged(log, 4, "FwRuleActions::applyFwRule",
                       "Deleted old rule and creating new one: Allow web server"));
    ASSERT_EQ(sim::firewall::rules().size(), 1u);
    EXPECT_EQ(sim::firewall::rules()[0].action, 0);
    EXPECT_TRUE(alerts->alerts.empty());
    EXPECT_EQ(provider->lists[keys::kStatusInstalledRules],
              std::vector<std::wstring>{L"Allow web server"});
}

TEST_F(ActionsTest, FailuresAreReportedAndLeaveNoHalfUpdatedRule) {
    struct Case {
        const char* api;
        bool existing;
        const wchar_t* reason;
        const wchar_t* detail;
        bool outbound = false;
    };
    const Case cases[] = {
        {"INetFwRule::put_Profiles", false, L"Failed to set profiles", L"2"},
        {"INetFwRule::put_Description", true, L"Failed to set description", L"changed"},
        {"INetFwRules::Add", false, L"Failed to add rule", L""},
        {"INetFwRule3::put_LocalAppPackageId", false, L"Failed to set app package id",
         L"S-1-15-2-1"},
        {"INetFwRule::put_Direction", false, L"Failed to set direction", L"Out", true},
        {"INetFwPolicy2::get_Rules", true, L"Failed to read existing rules", L""},
        {"INetFwRules::Item", true, L"Failed to read existing rule", L""},
    };
    for (const Case& c : cases) {
        sim::reset();
        ASSERT_TRUE(holder->beSureThatInterfaceIsAlive(true));
        alerts->alerts.clear();
        FWRule rule = webRule();
        rule.applicationPackageId = L"S-1-15-2-1";
        if (c.outbound) {
            rule.direction = FWRule::Direction::Out;
            rule.edgeTraversal = false;
        }
        if (c.existing) {
            actions->applyFwRule(rule, false);
            rule.description = L"changed";
        }
        const auto before = sim::firewall::rules();
        sim::failCall(c.api, 1, E_FAIL);
        actions->applyFwRule(rule, false);
        ASSERT_EQ(alerts->alerts.size(), 1u) << c.api;
        EXPECT_EQ(alerts->alerts[0].reason, c.reason) << c.api;
        EXPECT_EQ(alerts->alerts[0].detail, c.detail) << c.api;
        const bool untouched = sim::firewall::rules() == before;
        EXPECT_TRUE(untouched || sim::firewall::rules().empty()) << c.api;
    }
}

TEST_F(ActionsTest, AFailingRuleIsLoggedOnceAndAlertedEveryTime) {
    sim::failAlways("INetFwRules::Add", E_FAIL);
    actions->applyFwRule(webRule(), false);
    actions->applyFwRule(webRule(), false);
    EXPECT_EQ(alerts->count(L"Allow web server"), 2u);
    ASSERT_EQ(invalidLines.size(), 1u);
    EXPECT_EQ(invalidLines[0].rfind("Failed to add rule: [Allow web server],", 0), 0u)
        << invalidLines[0];
}

TEST_F(ActionsTest, OutboundRulesNeverWriteEdgeTraversal) {
    FWRule outbound = makeRule(L"Outbound rule", 17, FWRule::Direction::Out);
    actions->applyFwRule(outbound, false);
    EXPECT_EQ(sim::callCount("INetFwRule::put_EdgeTraversal"), 0u);
    actions->applyFwRule(webRule(), false);
    EXPECT_EQ(sim::callCount("INetFwRule::put_EdgeTraversal"), 1u);
}

TEST_F(ActionsTest, WithoutINetFwRule3ThePackageIdentityIsSkipped) {
    sim::firewall::setRule3Supported(false);
    FWRule rule = webRule();
    rule.applicationPackageId = L"S-1-15-2-1";
    actions->applyFwRule(rule, true);
    EXPECT_TRUE(sim::firewall::findRule(L"Allow web server").has_value());
    EXPECT_TRUE(alerts->alerts.empty());
    EXPECT_EQ(provider->lists[keys::kStatusInstalledRules].size(), 1u);
}

TEST_F(ActionsTest, OnlyEnabledBlockingRulesThatAskForAlertsAreAlertRules) {
    FWRule alerting = makeRule(L"Blocking rule 1", 6, FWRule::Direction::In, FWRule::Action::Block);
    alerting.sendAlerts = true;
    FWRule disabled = alerting;
    disabled.name = L"Blocking rule 2";
    disabled.enabled = false;
    actions->applyFwRule(alerting, true);
    actions->applyFwRule(disabled, true);
    EXPECT_EQ(provider->lists[keys::kStatusInstalledRules],
              (std::vector<std::wstring>{L"Blocking rule 1", L"Blocking rule 2"}));
    EXPECT_EQ(provider->lists[keys::kStatusRulesForSendingAlerts],
              std::vector<std::wstring>{L"Blocking rule 1"});
    EXPECT_TRUE(sim::firewall::findRule(L"Blocking rule 2")->enabled);  // every applied rule is on
}

TEST_F(ActionsTest, NoPolicyReportsNoInterface) {
    holder->beSureThatInterfaceIsAlive(false);
    actions->applyFwRule(webRule(), false);
    ASSERT_EQ(alerts->alerts.size(), 1u);
    EXPECT_EQ(alerts->alerts[0].reason, L"No FW interface");
    EXPECT_FALSE(actions->deleteFwRule(L"Allow web server"));
    EXPECT_FALSE(actions->enumerateAllFwRules([](INetFwRule*) {}));
}

TEST_F(ActionsTest, DeleteRemovesTheRuleAndItsNames) {
    FWRule rule = webRule();
    rule.action = FWRule::Action::Block;
    rule.sendAlerts = true;
    actions->applyFwRule(rule, true);
    EXPECT_TRUE(actions->deleteFwRule(L"Allow web server"));
    EXPECT_TRUE(sim::firewall::rules().empty());
    EXPECT_TRUE(provider->lists[keys::kStatusInstalledRules].empty());
    EXPECT_TRUE(provider->lists[keys::kStatusRulesForSendingAlerts].empty());
    EXPECT_TRUE(logged(log, 4, "FwRuleActions::deleteFwRule", "Rule removed: Allow web server"));
    sim::failCall("INetFwRules::Remove", 1, E_ACCESSDENIED);
    EXPECT_FALSE(actions->deleteFwRule(L"Allow web server"));
}

TEST_F(ActionsTest, AWindowsRuleReadsIntoARecord) {
    sim::firewall::addRule(otherRule(L"File sharing"));
    FWRule read;
    actions->enumerateAllFwRules([&](INetFwRule* rule) { read.init(rule); });
    EXPECT_EQ(read.name, L"File sharing");
    EXPECT_EQ(read.serviceName, L"error");  // Windows answers a null string when unset
    EXPECT_EQ(read.localPorts, L"445");
    EXPECT_EQ(read.remoteAddresses, L"*");
    EXPECT_EQ(read.networkType, FWRule::NetworkAll);
    EXPECT_EQ(read.direction, FWRule::Direction::In);
    EXPECT_EQ(read.action, FWRule::Action::Allow);
    EXPECT_TRUE(read.enabled);
    EXPECT_EQ(
        read.toText(),
        L"[File sharing],[@FirewallAPI.dll,-28502],[on],[C:\\Program Files\\Other\\other.exe],"
        L"[error],[6],[445],[*],[In],[Allow],[All],[*],[*],[error],[All],[],[]");
}

TEST_F(ActionsTest, AWalkEndsWhenStopped) {
    for (const wchar_t* name : {L"Rule number 1", L"Rule number 2", L"Rule number 3"}) {
        sim::firewall::addRule(otherRule(name));
    }
    int visited = 0;
    EXPECT_TRUE(actions->enumerateAllFwRules([&](INetFwRule*) { ++visited; }));
    EXPECT_EQ(visited, 3);
    visited = 0;
    EXPECT_FALSE(actions->enumerateAllFwRules([&](INetFwRule*) {
        if (++visited == 2) {
            stop.requestStop();
        }
    }));
    EXPECT_EQ(visited, 2);
}

TEST(FwRuleActionsStatic, NetworkTypesBecomeProfileMasks) {
    EXPECT_EQ(FwRuleActions::convertNetworkType(0), NET_FW_PROFILE2_ALL);
    EXPECT_EQ(FwRuleActions::convertNetworkType(1), 1);
    EXPECT_EQ(FwRuleActions::convertNetworkType(2), 2);
    EXPECT_EQ(FwRuleActions::convertNetworkType(4), 4);
    LogCapture log;
    EXPECT_EQ(FwRuleActions::convertNetworkType(3), NET_FW_PROFILE2_ALL);
    EXPECT_TRUE(logged(log, 3, "FwRuleActions::convertNetworkType", "Unknown: 3"));
}

}  // namespace
}  // namespace tarn::test
