// A fault at every single firewall call of a full pass over a mixed policy: no rule is left
// half updated, the name lists stay true to the firewall, each failing rule is reported once,
// and the next pass without faults repairs everything.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "EngineTestSupport.h"

namespace tarn::test {
namespace {

using sim::firewall::Rule;

// Natively every call index is tried. Under wine a firewall call costs far more and each index
// takes three passes, so the Windows build tries every fifth index: 5 shares no factor with the
// 18 or 19 calls an unchanged rule takes, so every kind of call of a rule is still hit.
constexpr uint64_t kSweepStride = TARN_FAULT_SWEEP_STRIDE;

FWRule policyRule(const std::wstring& name, int32_t protocol, FWRule::Direction direction,
                  const std::wstring& ports, const std::wstring& addresses) {
    FWRule rule = makeRule(name, protocol, direction);
    rule.localPorts = ports;
    rule.remoteAddresses = addresses;
    return rule;
}

// The policy before: A stays, B and D and G and H change, C goes.
std::vector<FWRule> firstPolicy() {
    return {policyRule(L"Rule A unchanged", 6, FWRule::Direction::In, L"443", L"10.0.0.0/24"),
            policyRule(L"Rule B changed", 6, FWRule::Direction::In, L"80", L""),
            policyRule(L"Rule C removed", 17, FWRule::Direction::Out, L"53", L"10.0.0.53"),
            policyRule(L"Rule D to ICMP", 6, FWRule::Direction::In, L"22", L""),
            policyRule(L"Rule G turns in", 17, FWRule::Direction::Out, L"", L""),
            policyRule(L"Rule H blocks", 6, FWRule::Direction::In, L"8443", L"")};
}

// The policy of the pass under test, with two new rules E and F.
std::vector<FWRule> secondPolicy() {
    auto rules = firstPolicy();
    rules.erase(rules.begin() + 2);
    rules[1].localPorts = L"80,8080";
    rules[1].remoteAddresses = L"fe80::1,10.0.0.1";
    rules[1].description = L"B, now with more ports";
    rules[2].protocol = 1;
    rules[2].localPorts.clear();
    rules[2].icmpTypesAndCodes = L"8:0";
    rules[3].direction = FWRule::Direction::In;
    rules[3].edgeTraversal = true;
    rules[4].action = FWRule::Action::Block;
    rules[4].sendAlerts = true;
    rules.push_back(policyRule(L"Rule E new", 6, FWRule::Direction::Out, L"25", L"LocalSubnet"));
    FWRule packaged = policyRule(L"Rule F new packaged", 256, FWRule::Direction::In, L"", L"");
    packaged.applicationPackageId = L"S-1-15-2-42";
    rules.push_back(packaged);
    return rules;
}

// One machine: other programs' rules, and the firewall after a pass over the first policy.
struct World {
    World() {
        sim::reset();
        holder->beSureThatInterfaceIsAlive(true);
        sim::firewall::addRule(otherRule(L"Other program on 1"));
        sim::firewall::addRule(otherRule(L"Other program on 2"));
        Rule off = otherRule(L"Other program off");
        off.enabled = false;
        sim::firewall::addRule(off);
        provider->defaultRules = {makeRule(L"Tarn: Allow DNS queries", 17, FWRule::Direction::Out),
                                  makeRule(L"Tarn: Allow DHCP", 17, FWRule::Direction::Out)};
        provider->whitelist = {L"C:\\Tools\\tool.exe"};
        provider->currentRules = firstPolicy();
        pass();
        actions()->invalidRulesLog().pinLevel(4);
        actions()->invalidRulesLog().setLineObserver(
            [this](int32_t, std::string_view, std::string_view message) {
                invalidLines.emplace_back(message);
            });
        provider->currentRules = secondPolicy();
        current.allowOtherRules = false;
        alerts->alerts.clear();
    }
    ~World() { actions()->invalidRulesLog().setLineObserver(nullptr); }

    void pass() {
        manager.applyTarnDefaultRules();
        manager.applyCurrentRules();
        manager.updateSylphWhitelistRules();
    }
    std::shared_ptr<FwRuleActions> actions() { return manager.actions; }

    Stoppable stop;
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<CountingAlerts> alerts = std::make_shared<CountingAlerts>();
    std::shared_ptr<SimPolicyHolder> holder = std::make_shared<SimPolicyHolder>();
    FWCurrentSettings current;
    SimRuleManager manager{stop, provider, alerts, holder, &current};
    std::vector<std::string> invalidLines;
};

std::map<std::wstring, Rule> byName(const std::vector<Rule>& rules) {
    std::map<std::wstring, Rule> out;
    for (Rule rule : rules) {
        rule.grouping.clear();  // its write is not checked: the next pass sets it
        out.emplace(rule.name, rule);
    }
    return out;
}

std::set<std::wstring> asSet(const std::vector<std::wstring>& names) {
    return {names.begin(), names.end()};
}

TEST(FaultSweep, EveryCallOfAMixedPassFailsOnceAndTheNextPassRepairs) {
    CoInitializer com;
    std::map<std::wstring, Rule> before;
    std::map<std::wstring, Rule> expected;
    std::map<std::wstring, std::vector<std::wstring>> expectedLists;
    uint64_t passCalls = 0;
    {
        World clean;
        before = byName(sim::firewall::rules());
        const uint64_t start = sim::firewall::calls();
        clean.pass();
        passCalls = sim::firewall::calls() - start;
        ASSERT_TRUE(clean.alerts->alerts.empty()) << clean.alerts->alerts[0].reason;
        expected = byName(sim::firewall::rules());
        expectedLists = clean.provider->stored;
    }
    ASSERT_GT(passCalls, 300u);
    ASSERT_FALSE(expected.count(L"Rule C removed"));

    uint64_t tried = 0;
    for (uint64_t k = 1; k <= passCalls; k += kSweepStride) {
        World world;
        const uint64_t start = sim::firewall::calls();
        sim::firewall::failNthCall(start + k, static_cast<uint32_t>(E_FAIL));
        world.pass();
        ASSERT_GE(sim::firewall::calls() - start, k) << "call " << k << " was not reached";
        ++tried;

        // Each rule is as before, fully updated, or gone; never two of one name.
        const auto rules = sim::firewall::rules();
        const auto now = byName(rules);
        ASSERT_EQ(now.size(), rules.size()) << k;
        for (const auto& [name, rule] : now) {
            const bool isOther = name.rfind(L"Other program", 0) == 0;
            Rule comparable = rule;
            if (isOther) {
                comparable.enabled = before.at(name).enabled;
            }
            const bool asBefore = before.count(name) && before.at(name) == comparable;
            const bool asExpected = expected.count(name) && expected.at(name) == comparable;
            EXPECT_TRUE(asBefore || asExpected)
                << "call " << k << ": " << std::string(name.begin(), name.end());
        }
        // Every rule of the policy in the firewall is in the stored list, so none is orphaned.
        const auto installed = asSet(world.provider->stored[keys::kStatusInstalledRules]);
        for (const auto& [name, rule] : now) {
            if (name.rfind(L"Rule ", 0) == 0) {
                EXPECT_TRUE(installed.count(name))
                    << "call " << k << ": " << std::string(name.begin(), name.end());
            }
        }
        // Every other program's rule switched off is remembered.
        const size_t switchedOff = std::count_if(rules.begin(), rules.end(), [&](const Rule& r) {
            return r.name.rfind(L"Other program on", 0) == 0 && !r.enabled;
        });
        EXPECT_EQ(world.provider->stored[keys::kStatusDisabledOtherRules].size(), switchedOff) << k;
        // A failing rule: one line in the invalid-rules log, one alert.
        EXPECT_LE(world.alerts->alerts.size(), 1u) << k;
        EXPECT_EQ(world.invalidLines.size(), world.alerts->alerts.size()) << k;

        world.pass();
        EXPECT_EQ(byName(sim::firewall::rules()), expected) << "after the repair of call " << k;
        for (const auto& [list, names] : expectedLists) {
            EXPECT_EQ(asSet(world.provider->stored[list]), asSet(names))
                << "call " << k << " list " << std::string(list.begin(), list.end());
        }
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    EXPECT_EQ(tried, (passCalls + kSweepStride - 1) / kSweepStride);
}

}  // namespace
}  // namespace tarn::test
