// The simulated Windows Firewall behaves as Windows does at the COM API: these run on the
// simulated machine and, under wine, with the same objects on wine's COM runtime.
#include <gtest/gtest.h>

#include "rules/CoInitializer.h"
#include "rules/ComSupport.h"
#include "sim/firewall_control.h"
#include "sim/machine.h"

namespace tarn::test {
namespace {

const HRESULT kNotFound = static_cast<HRESULT>(0x80070002L);
const HRESULT kInvalidData = static_cast<HRESULT>(0x8007000DL);
const HRESULT kRefusedAddress = static_cast<HRESULT>(0xD000000DL);
const HRESULT kNoEndpoint = static_cast<HRESULT>(0x800706D9L);

class SimFirewallTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        policy.reset(sim::firewall::createPolicy());
        ASSERT_EQ(policy.get()->get_Rules(rules.put()), S_OK);
    }

    std::wstring read(INetFwRule* rule, HRESULT (STDMETHODCALLTYPE INetFwRule::*get)(BSTR*),
                      bool* isNull = nullptr) {
        UniqueBstr value;
        EXPECT_EQ((rule->*get)(value.put()), S_OK);
        if (isNull != nullptr) {
            *isNull = !value;
        }
        return toWide(value.get());
    }
    // A new rule of that name and protocol, added to the firewall.
    ComPtr<INetFwRule> addRule(const std::wstring& name, LONG protocol = 6) {
        ComPtr<INetFwRule> rule(sim::firewall::createRule());
        EXPECT_EQ(rule.get()->put_Name(makeBstr(name).get()), S_OK);
        EXPECT_EQ(rule.get()->put_Protocol(protocol), S_OK);
        EXPECT_EQ(rules.get()->Add(rule.get()), S_OK);
        return rule;
    }
    ComPtr<INetFwRule> item(const std::wstring& name) {
        ComPtr<INetFwRule> rule;
        EXPECT_EQ(rules.get()->Item(makeBstr(name).get(), rule.put()), S_OK);
        return rule;
    }

    CoInitializer com;
    ComPtr<INetFwPolicy2> policy;
    ComPtr<INetFwRules> rules;
};

TEST_F(SimFirewallTest, NewRuleReadsBackAsWindowsReadsUnsetValues) {
    ComPtr<INetFwRule> rule(sim::firewall::createRule());
    LONG protocol = 0;
    EXPECT_EQ(rule.get()->get_Protocol(&protocol), S_OK);
    EXPECT_EQ(protocol, 256);
    bool isNull = false;
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_ApplicationName, &isNull), L"");
    EXPECT_TRUE(isNull);
    read(rule.get(), &INetFwRule::get_Description, &isNull);
    EXPECT_TRUE(isNull);
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_RemoteAddresses), L"*");
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_InterfaceTypes), L"All");
    VARIANT_BOOL enabled = VARIANT_TRUE;
    EXPECT_EQ(rule.get()->get_Enabled(&enabled), S_OK);
    EXPECT_EQ(enabled, VARIANT_FALSE);
    ASSERT_EQ(rule.get()->put_Protocol(6), S_OK);
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_LocalPorts), L"*");
}

TEST_F(SimFirewallTest, PortsAndIcmpOnlyWhereTheProtocolCarriesThem) {
    struct Case {
        LONG protocol;
        const wchar_t* ports;
        HRESULT expected;
    };
    const Case cases[] = {
        {256, L"80", E_INVALIDARG},  {1, L"80", E_INVALIDARG}, {58, L"80", E_INVALIDARG},
        {6, L"80,443", S_OK},        {17, L"1000-2000", S_OK}, {6, L"80x", kInvalidData},
        {6, L"70000", kInvalidData}, {6, L"RPC", S_OK},        {6, L"80, 443", kInvalidData},
    };
    for (const Case& c : cases) {
        ComPtr<INetFwRule> rule(sim::firewall::createRule());
        ASSERT_EQ(rule.get()->put_Protocol(c.protocol), S_OK);
        EXPECT_EQ(rule.get()->put_LocalPorts(makeBstr(c.ports).get()), c.expected)
            << c.protocol << " " << c.ports;
    }
    ComPtr<INetFwRule> tcp(sim::firewall::createRule());
    ASSERT_EQ(tcp.get()->put_Protocol(6), S_OK);
    EXPECT_EQ(tcp.get()->put_IcmpTypesAndCodes(makeBstr(L"8:0").get()), E_INVALIDARG);
}

TEST_F(SimFirewallTest, ProtocolChangeKeepsNothingTheNewProtocolCannotCarry) {
    ComPtr<INetFwRule> rule(sim::firewall::createRule());
    ASSERT_EQ(rule.get()->put_Protocol(6), S_OK);
    ASSERT_EQ(rule.get()->put_RemotePorts(makeBstr(L"443").get()), S_OK);
    EXPECT_EQ(rule.get()->put_Protocol(1), E_INVALIDARG);  // not cleared for the caller
    EXPECT_EQ(rule.get()->put_Protocol(17), S_OK);         // UDP keeps the ports
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_RemotePorts), L"443");
    ASSERT_EQ(rule.get()->put_RemotePorts(makeBstr(L"").get()), S_OK);
    ASSERT_EQ(rule.get()->put_Protocol(1), S_OK);
    ASSERT_EQ(rule.get()->put_IcmpTypesAndCodes(makeBstr(L"8:0").get()), S_OK);
    EXPECT_EQ(rule.get()->put_Protocol(58), S_OK);  // ICMPv6 keeps "8:0"
    EXPECT_EQ(rule.get()->put_Protocol(6), E_INVALIDARG);
}

TEST_F(SimFirewallTest, AddressesAreStoredInWindowsNotation) {
    struct Case {
        const wchar_t* written;
        HRESULT expected;
        const wchar_t* readBack;
    };
    const Case cases[] = {
        {L"10.0.0.0/24", S_OK, L"10.0.0.0/255.255.255.0"},
        {L"10.0.0.1", S_OK, L"10.0.0.1/255.255.255.255"},
        {L"10.0.0.1/32", S_OK, L"10.0.0.1/255.255.255.255"},
        {L"10.0.0.1-10.0.0.9", S_OK, L"10.0.0.1-10.0.0.9"},
        {L"fe80::/64,10.0.0.1", S_OK, L"10.0.0.1/255.255.255.255,fe80::/64"},
        {L"LocalSubnet", S_OK, L"LocalSubnet"},
        {L"*", S_OK, L"*"},
        {L"", S_OK, L"*"},
        {L"127.0.0.1", S_OK, L"127.0.0.1/255.255.255.255"},
        {L"::1", kRefusedAddress, L"*"},
        {L"ff02::1", kRefusedAddress, L"*"},
        {L"10.0.0.300", E_INVALIDARG, L"*"},
        {L"10.0.0.9-10.0.0.1", E_INVALIDARG, L"*"},
        {L"example.org", E_INVALIDARG, L"*"},
    };
    for (const Case& c : cases) {
        ComPtr<INetFwRule> rule(sim::firewall::createRule());
        EXPECT_EQ(rule.get()->put_RemoteAddresses(makeBstr(c.written).get()), c.expected)
            << c.written;
        EXPECT_EQ(read(rule.get(), &INetFwRule::get_RemoteAddresses), c.readBack) << c.written;
    }
}

TEST_F(SimFirewallTest, OnlyANullStringClearsTheProgram) {
    ComPtr<INetFwRule> rule(sim::firewall::createRule());
    ASSERT_EQ(rule.get()->put_ApplicationName(makeBstr(L"C:\\a.exe").get()), S_OK);
    EXPECT_EQ(rule.get()->put_ApplicationName(makeBstr(L"").get()), E_INVALIDARG);
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_ApplicationName), L"C:\\a.exe");
    EXPECT_EQ(rule.get()->put_ApplicationName(nullptr), S_OK);
    bool isNull = false;
    read(rule.get(), &INetFwRule::get_ApplicationName, &isNull);
    EXPECT_TRUE(isNull);
}

TEST_F(SimFirewallTest, EdgeTraversalOnlyForInboundRules) {
    ComPtr<INetFwRule> rule(sim::firewall::createRule());
    ASSERT_EQ(rule.get()->put_EdgeTraversal(VARIANT_TRUE), S_OK);
    EXPECT_EQ(rule.get()->put_Direction(NET_FW_RULE_DIR_OUT), E_INVALIDARG);
    ASSERT_EQ(rule.get()->put_EdgeTraversal(VARIANT_FALSE), S_OK);
    ASSERT_EQ(rule.get()->put_Direction(NET_FW_RULE_DIR_OUT), S_OK);
    EXPECT_EQ(rule.get()->put_EdgeTraversal(VARIANT_TRUE), E_INVALIDARG);
    EXPECT_EQ(rule.get()->put_EdgeTraversal(VARIANT_FALSE), S_OK);
}

TEST_F(SimFirewallTest, NamesAreNotUnique) {
    addRule(L"Same name");
    addRule(L"Same name", 17);
    EXPECT_EQ(sim::firewall::rules().size(), 2u);
    ComPtr<INetFwRule> missing;
    EXPECT_EQ(rules.get()->Item(makeBstr(L"Missing").get(), missing.put()), kNotFound);
    EXPECT_EQ(rules.get()->Remove(makeBstr(L"Missing").get()), S_OK);
    EXPECT_EQ(rules.get()->Remove(makeBstr(L"Same name").get()), S_OK);
    ASSERT_EQ(sim::firewall::rules().size(), 1u);
    EXPECT_EQ(sim::firewall::rules()[0].protocol, 17);
    ComPtr<INetFwRule> stored = item(L"Same name");
    EXPECT_EQ(rules.get()->Add(stored.get()), E_UNEXPECTED);
    for (const wchar_t* bad : {L"all", L"ALL", L"a|b", L""}) {
        EXPECT_EQ(stored.get()->put_Name(makeBstr(bad).get()), E_INVALIDARG) << bad;
    }
}

TEST_F(SimFirewallTest, EveryPutOnAStoredRuleIsCommittedAtOnce) {
    addRule(L"Committed");
    ComPtr<INetFwRule> rule = item(L"Committed");
    ASSERT_EQ(rule.get()->put_LocalPorts(makeBstr(L"8080").get()), S_OK);
    ASSERT_EQ(rule.get()->put_Name(makeBstr(L"Renamed").get()), S_OK);
    const auto stored = sim::firewall::findRule(L"Renamed");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->localPorts, L"8080");
    EXPECT_FALSE(sim::firewall::findRule(L"Committed").has_value());
}

TEST_F(SimFirewallTest, EnumerationVisitsEveryRuleInOrderThenAnswersSFalse) {
    for (const wchar_t* name : {L"First rule", L"Second rule", L"Third rule"}) {
        addRule(name);
    }
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(rules.get()->get__NewEnum(unknown.put()), S_OK);
    ComPtr<IEnumVARIANT> items;
    ASSERT_EQ(queryInterface(unknown.get(), items), S_OK);
    std::vector<std::wstring> names;
    for (;;) {
        UniqueVariant v;
        const HRESULT hr = items.get()->Next(1, v.reset(), nullptr);
        if (hr == S_FALSE) {
            break;
        }
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(V_VT(&v.get()), VT_DISPATCH);
        ComPtr<INetFwRule> rule;
        ASSERT_EQ(queryInterface(V_DISPATCH(&v.get()), rule), S_OK);
        names.push_back(read(rule.get(), &INetFwRule::get_Name));
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"First rule", L"Second rule", L"Third rule"}));
}

TEST_F(SimFirewallTest, ProfilePropertiesTakeOneProfileAtATime) {
    EXPECT_EQ(policy.get()->put_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, VARIANT_FALSE), S_OK);
    EXPECT_EQ(policy.get()->put_DefaultInboundAction(NET_FW_PROFILE2_DOMAIN, NET_FW_ACTION_ALLOW),
              S_OK);
    EXPECT_EQ(
        policy.get()->put_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(7), VARIANT_FALSE),
        E_INVALIDARG);
    EXPECT_EQ(policy.get()->put_FirewallEnabled(NET_FW_PROFILE2_ALL, VARIANT_FALSE), E_INVALIDARG);
    EXPECT_FALSE(sim::firewall::profile(2).firewallEnabled);
    EXPECT_TRUE(sim::firewall::profile(4).firewallEnabled);
    EXPECT_EQ(sim::firewall::profile(1).defaultInboundAction, 1);
    NET_FW_ACTION outbound = NET_FW_ACTION_MAX;
    EXPECT_EQ(policy.get()->get_DefaultOutboundAction(NET_FW_PROFILE2_PUBLIC, &outbound), S_OK);
    EXPECT_EQ(outbound, NET_FW_ACTION_ALLOW);
}

TEST_F(SimFirewallTest, StoppedServiceFailsEveryCallAndOldObjectsStayDead) {
    addRule(L"Before stop");
    ComPtr<INetFwRule> rule = item(L"Before stop");
    sim::firewall::stopService();
    VARIANT_BOOL enabled = VARIANT_FALSE;
    EXPECT_EQ(policy.get()->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &enabled), kNoEndpoint);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(rules.get()->get__NewEnum(unknown.put()), kNoEndpoint);
    EXPECT_EQ(rule.get()->put_LocalPorts(makeBstr(L"1").get()), kNoEndpoint);
    sim::firewall::startService();
    EXPECT_EQ(policy.get()->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &enabled), kNoEndpoint);
    ComPtr<INetFwPolicy2> fresh(sim::firewall::createPolicy());
    EXPECT_EQ(fresh.get()->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &enabled), S_OK);
}

TEST_F(SimFirewallTest, WithoutElevationOnlyReadsWork) {
    addRule(L"Elevation");
    sim::firewall::setElevated(false);
    ComPtr<INetFwRule> rule = item(L"Elevation");
    EXPECT_EQ(read(rule.get(), &INetFwRule::get_Name), L"Elevation");
    EXPECT_EQ(rule.get()->put_Enabled(VARIANT_TRUE), E_ACCESSDENIED);
    EXPECT_EQ(rules.get()->Remove(makeBstr(L"Elevation").get()), E_ACCESSDENIED);
    ComPtr<INetFwRule> added(sim::firewall::createRule());
    ASSERT_EQ(added.get()->put_Name(makeBstr(L"Added").get()), S_OK);  // not stored yet
    EXPECT_EQ(rules.get()->Add(added.get()), E_ACCESSDENIED);
    EXPECT_EQ(policy.get()->put_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, VARIANT_FALSE),
              E_ACCESSDENIED);
}

TEST_F(SimFirewallTest, CountsCallsReadsWritesAndInjectsFaults) {
    addRule(L"Counted");
    const uint64_t reads = sim::firewall::reads();
    const uint64_t writes = sim::firewall::writes();
    sim::failCall("INetFwRules::Item", 1, E_FAIL);
    ComPtr<INetFwRule> rule;
    EXPECT_EQ(rules.get()->Item(makeBstr(L"Counted").get(), rule.put()), E_FAIL);
    rule = item(L"Counted");
    EXPECT_EQ(rule.get()->put_Enabled(VARIANT_TRUE), S_OK);
    EXPECT_EQ(sim::firewall::reads() - reads, 2u);
    EXPECT_EQ(sim::firewall::writes() - writes, 1u);
    EXPECT_EQ(sim::callCount("INetFwRules::Item"), 2u);
    EXPECT_EQ(sim::callCount("INetFwRule::put_Enabled"), 1u);
}

TEST_F(SimFirewallTest, ChangeHookSeesEveryCommittedChange) {
    std::vector<std::pair<std::wstring, std::wstring>> changes;
    sim::firewall::setChangeHook(
        [&](const sim::firewall::Rule* before, const sim::firewall::Rule* after) {
            changes.emplace_back(before ? before->name : L"-", after ? after->name : L"-");
        });
    addRule(L"Hooked");
    ASSERT_EQ(item(L"Hooked").get()->put_Enabled(VARIANT_TRUE), S_OK);
    ASSERT_EQ(rules.get()->Remove(makeBstr(L"Hooked").get()), S_OK);
    using Change = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(changes,
              (std::vector<Change>{{L"-", L"Hooked"}, {L"Hooked", L"Hooked"}, {L"Hooked", L"-"}}));
}

TEST_F(SimFirewallTest, EveryObjectDiesWithItsLastReference) {
    const int64_t before = sim::firewall::liveObjects();
    {
        ComPtr<INetFwRule> rule = addRule(L"Alive");
        ComPtr<IUnknown> unknown;
        ASSERT_EQ(rules.get()->get__NewEnum(unknown.put()), S_OK);
        EXPECT_GT(sim::firewall::liveObjects(), before);
    }
    EXPECT_EQ(sim::firewall::liveObjects(), before);
}

}  // namespace
}  // namespace tarn::test
