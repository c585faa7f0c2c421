// The property setters write only what differs by meaning, and log every write and failure.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "rules/ComSupport.h"
#include "rules/RuleSetters.h"
#include "rules/RuleValueEquivalence.h"
#include "tests/rules/LogLines.h"

namespace tarn::test {
namespace {

using namespace rule_setters;

class SettersTest : public EngineTest {
protected:
    // The stored rule "Setter rule" with the given fields, as the engine would see it.
    ComPtr<INetFwRule> storedRule(const std::function<void(sim::firewall::Rule&)>& fill) {
        sim::firewall::Rule rule;
        rule.name = L"Setter rule";
        rule.protocol = 6;
        fill(rule);
        sim::firewall::addRule(rule);
        ComPtr<INetFwRules> rules;
        EXPECT_EQ(holder->policy()->get_Rules(rules.put()), S_OK);
        ComPtr<INetFwRule> fwRule;
        EXPECT_EQ(rules.get()->Item(makeBstr(L"Setter rule").get(), fwRule.put()), S_OK);
        return fwRule;
    }
    sim::firewall::Rule stored() { return *sim::firewall::findRule(L"Setter rule"); }
};

using Setter = bool (*)(const std::wstring&, INetFwRule*, const std::wstring&);

struct StringCase {
    const char* what;
    Setter setter;
    void (*fill)(sim::firewall::Rule&);
    const wchar_t* wanted;
    bool writes;
    std::wstring sim::firewall::Rule::*field;
    const wchar_t* storedAfter;
};

TEST_F(SettersTest, StringPropertiesAreWrittenOnlyWhenTheyDifferInMeaning) {
    const StringCase cases[] = {
        {"ports in another order", &setLocalPorts,
         [](sim::firewall::Rule& r) { r.localPorts = L"80,443"; }, L"443,80", false,
         &sim::firewall::Rule::localPorts, L"80,443"},
        {"ports in another letter case", &setLocalPorts,
         [](sim::firewall::Rule& r) { r.localPorts = L"rpc"; }, L"RPC", false,
         &sim::firewall::Rule::localPorts, L"rpc"},
        {"merged address ranges", &setRemoteAddresses,
         [](sim::firewall::Rule& r) { r.remoteAddresses = L"10.0.0.1-10.0.0.6"; },
         L"10.0.0.1-10.0.0.5,10.0.0.6", false, &sim::firewall::Rule::remoteAddresses,
         L"10.0.0.1-10.0.0.6"},
        {"addresses in Windows notation and order", &setRemoteAddresses,
         [](sim::firewall::Rule& r) { r.remoteAddresses = L"10.0.0.0/255.255.255.0,fe80::/64"; },
         L"fe80::/64,10.0.0.0/24", false, &sim::firewall::Rule::remoteAddresses,
         L"10.0.0.0/255.255.255.0,fe80::/64"},
        {"any address", &setRemoteAddresses, [](sim::firewall::Rule&) {}, L"", false,
         &sim::firewall::Rule::remoteAddresses, L""},
        {"expanded program path", &setApplicationName,
         [](sim::firewall::Rule& r) { r.applicationName = L"C:\\WINDOWS\\System32\\svchost.exe"; },
         L"%SystemRoot%\\system32\\svchost.exe", false, &sim::firewall::Rule::applicationName,
         L"C:\\WINDOWS\\System32\\svchost.exe"},
        {"other addresses", &setRemoteAddresses, [](sim::firewall::Rule&) {}, L"10.0.0.7", true,
         &sim::firewall::Rule::remoteAddresses, L"10.0.0.7/255.255.255.255"},
        {"trailing comma and space", &setLocalPorts, [](sim::firewall::Rule&) {}, L"80,443, ", true,
         &sim::firewall::Rule::localPorts, L"80,443"},
        {"service cleared", &setServiceName,
         [](sim::firewall::Rule& r) { r.serviceName = L"dnscache"; }, L"", true,
         &sim::firewall::Rule::serviceName, L""},
        {"description case counts", &setDescription,
         [](sim::firewall::Rule& r) { r.description = L"Text"; }, L"text", true,
         &sim::firewall::Rule::description, L"text"},
    };
    for (const StringCase& c : cases) {
        sim::reset();
        ASSERT_TRUE(holder->beSureThatInterfaceIsAlive(true));
        log.clear();
        ComPtr<INetFwRule> rule = storedRule(c.fill);
        const auto [writes, reads] = writesAndReads(
            [&] { EXPECT_TRUE(c.setter(L"Setter rule", rule.get(), c.wanted)) << c.what; });
        EXPECT_EQ(writes, c.writes ? 1u : 0u) << c.what;
        EXPECT_EQ(reads, 1u) << c.what;
        EXPECT_EQ(stored().*c.field, c.storedAfter) << c.what;
        EXPECT_EQ(log.count("executing. Old: "), c.writes ? 1u : 0u) << c.what << log.dump();
    }
}

TEST_F(SettersTest, AWriteIsLoggedWithOldAndNewValue) {
    ComPtr<INetFwRule> rule =
        storedRule([](sim::firewall::Rule& r) { r.serviceName = L"dnscache"; });
    ASSERT_TRUE(setServiceName(L"Setter rule", rule.get(), L""));
    EXPECT_TRUE(logged(log, 4, "rule_setters::setStringProperty",
                       "Setter rule: put_ServiceName('[empty]') executing. Old: 'dnscache'"))
        << log.dump();
}

TEST_F(SettersTest, AFailedWriteIsLoggedAndAnswered) {
    ComPtr<INetFwRule> rule = storedRule([](sim::firewall::Rule&) {});
    EXPECT_FALSE(setLocalPorts(L"Setter rule", rule.get(), L"80x"));
    EXPECT_TRUE(log.contains("put_LocalPorts('80x') failed with: ", 2)) << log.dump();
    EXPECT_EQ(stored().localPorts, L"");
}

TEST_F(SettersTest, AFailedReadStillLeadsToTheWrite) {
    ComPtr<INetFwRule> rule = storedRule([](sim::firewall::Rule& r) { r.localPorts = L"80"; });
    sim::failCall("INetFwRule::get_LocalPorts", 1, E_FAIL);
    const auto [writes, reads] =
        writesAndReads([&] { EXPECT_TRUE(setLocalPorts(L"Setter rule", rule.get(), L"80")); });
    EXPECT_EQ(writes, 1u);
    EXPECT_TRUE(log.contains("getFunc failed with: ", 2));
}

TEST_F(SettersTest, TypedSettersCompareLogAndWrite) {
    ComPtr<INetFwRule> rule = storedRule([](sim::firewall::Rule& r) {
        r.direction = 2;
        r.enabled = false;
        r.profiles = 2;
    });
    EXPECT_TRUE(setDirection(L"Setter rule", rule.get(), NET_FW_RULE_DIR_IN));
    EXPECT_TRUE(logged(log, 4, "rule_setters::setDirection",
                       "Changing Direction out -> in for: Setter rule"));
    EXPECT_TRUE(setEnabled(L"Setter rule", rule.get()));
    EXPECT_TRUE(logged(log, 4, "rule_setters::setEnabled", "put_Enabled(true) for: Setter rule"));
    EXPECT_TRUE(setProfiles(L"Setter rule", rule.get(), NET_FW_PROFILE2_ALL));
    EXPECT_TRUE(
        logged(log, 4, "rule_setters::setProfiles", "put_Profiles(2147483647) for: Setter rule"));
    EXPECT_TRUE(setEdgeTraversal(L"Setter rule", rule.get(), true));
    EXPECT_TRUE(setAction(L"Setter rule", rule.get(), NET_FW_ACTION_BLOCK));
    EXPECT_TRUE(setProtocol(L"Setter rule", rule.get(), 17));
    const auto after = stored();
    EXPECT_EQ(after.direction, 1);
    EXPECT_TRUE(after.enabled);
    EXPECT_TRUE(after.edgeTraversal);
    EXPECT_EQ(after.action, 0);
    EXPECT_EQ(after.protocol, 17);
    log.clear();
    const auto [writes, reads] = writesAndReads([&] {
        EXPECT_TRUE(setEnabled(L"Setter rule", rule.get()));
        EXPECT_TRUE(setDirection(L"Setter rule", rule.get(), NET_FW_RULE_DIR_IN));
        EXPECT_TRUE(setProtocol(L"Setter rule", rule.get(), 17));
    });
    EXPECT_EQ(writes, 0u);
    EXPECT_EQ(reads, 3u);
    EXPECT_TRUE(log.lines().empty()) << log.dump();
}

TEST_F(SettersTest, TypedSetterFailuresAreLoggedWithTheErrorText) {
    ComPtr<INetFwRule> rule = storedRule([](sim::firewall::Rule& r) { r.direction = 2; });
    EXPECT_FALSE(setEdgeTraversal(L"Setter rule", rule.get(), true));  // outbound
    EXPECT_TRUE(log.contains("put_EdgeTraversal() failed: ", 2)) << log.dump();
    sim::failCall("INetFwRule::put_Action", 1, E_ACCESSDENIED);
    EXPECT_FALSE(setAction(L"Setter rule", rule.get(), NET_FW_ACTION_BLOCK));
    EXPECT_TRUE(log.contains("put_Action failed: ", 2));
    EXPECT_TRUE(log.contains("(5)", 2));
}

TEST(RuleValueEquivalence, ListsAddressesAndPathsCompareByMeaning) {
    EXPECT_TRUE(valuesEquivalent(Compare::List, L"80,443", L"443,80"));
    EXPECT_FALSE(valuesEquivalent(Compare::List, L"80, 443", L"443,80"));  // spaces count
    EXPECT_TRUE(valuesEquivalent(Compare::List, L"Lan,Wireless", L"wireless,LAN"));
    EXPECT_FALSE(valuesEquivalent(Compare::Exact, L"Lan", L"lan"));
    EXPECT_TRUE(valuesEquivalent(Compare::Addresses, L"10.0.0.0/255.255.255.0", L"10.0.0.0/24"));
    EXPECT_FALSE(valuesEquivalent(Compare::Addresses, L"10.0.0.0/255.255.255.0", L"10.0.0.0/25"));
    EXPECT_TRUE(valuesEquivalent(Compare::Path, L"%SystemRoot%\\a.exe", L"c:\\windows\\A.EXE"));
    EXPECT_EQ(comparisonOf("put_LocalAddresses"), Compare::Addresses);
    EXPECT_EQ(comparisonOf("put_InterfaceTypes"), Compare::List);
    EXPECT_EQ(comparisonOf("put_IcmpTypesAndCodes"), Compare::Exact);
    EXPECT_EQ(trimListTail(L"80,443, ,"), L"80,443");
    EXPECT_EQ(trimListTail(L" , "), L"");
}

}  // namespace
}  // namespace tarn::test
