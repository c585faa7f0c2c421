// The group-policy reader and the watch of the firewall service and the policy keys.
#include <gtest/gtest.h>

#include "control/FirewallStatusObserver.h"
#include "control/GpoMonitor.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/services_control.h"
#include "tests/control/ControllerMachine.h"

namespace {

using tarn::test::eventually;

constexpr const wchar_t* kPolicies = L"HKLM\\SOFTWARE\\Policies\\Microsoft\\WindowsFirewall\\";

struct GpoCase {
    const char* name;
    std::vector<std::pair<const wchar_t*, DWORD>> values;  // profile key, EnableFirewall
    FirewallGpoState expected;
    GpoState overall;
};

class GpoTest : public ::testing::TestWithParam<GpoCase> {
protected:
    void SetUp() override { sim::reset(); }
};

TEST_P(GpoTest, StatePerProfile) {
    for (const auto& [profile, value] : GetParam().values) {
        sim::registry::setDword(std::wstring(kPolicies) + profile, L"EnableFirewall", value);
    }
    const FirewallGpoState state = GpoMonitor::getFirewallGpoState();
    EXPECT_TRUE(state == GetParam().expected);
    EXPECT_EQ(state.overall(), GetParam().overall);
}

using G = GpoState;
INSTANTIATE_TEST_SUITE_P(
    Policies, GpoTest,
    ::testing::Values(
        GpoCase{"None", {}, {G::Unconfigured, G::Unconfigured, G::Unconfigured}, G::Unconfigured},
        GpoCase{"StandardOff",
                {{L"StandardProfile", 0}},
                {G::Disabled, G::Disabled, G::Unconfigured},
                G::Disabled},
        GpoCase{"DomainOn",
                {{L"DomainProfile", 1}},
                {G::Unconfigured, G::Unconfigured, G::Enabled},
                G::Enabled},
        GpoCase{"TwoIsDisabled",
                {{L"DomainProfile", 2}},
                {G::Unconfigured, G::Unconfigured, G::Disabled},
                G::Disabled},
        GpoCase{"OwnKeysWinOverStandard",
                {{L"StandardProfile", 0}, {L"PublicProfile", 1}},
                {G::Unconfigured, G::Enabled, G::Unconfigured},
                G::Enabled}),
    [](const auto& info) { return std::string(info.param.name); });

class CountingProvider : public tarn::test::CountingSettings {
public:
    using CountingSettings::CountingSettings;
    void triggerReapplyAllSettings() override { ++triggers; }
    std::atomic<int> triggers{0};
};

class ObserverTest : public tarn::test::ControllerMachine {};

TEST_F(ObserverTest, ServiceStateAndPolicyChanges) {
    auto provider = std::make_shared<CountingProvider>(L"test", scheduler, stopEvent);
    FirewallStatusObserver observer(stopEvent);
    EXPECT_TRUE(observer.isFirewallServiceRunning());
    sim::services::setState(L"MpsSvc", SERVICE_STOP_PENDING);
    EXPECT_FALSE(observer.isFirewallServiceRunning());
    sim::services::setState(L"MpsSvc", SERVICE_RUNNING);
    sim::failCall("QueryServiceStatusEx", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(observer.isFirewallServiceRunning()) << "a failed query counts as stopped";

    ASSERT_TRUE(observer.start(provider));
    ASSERT_TRUE(eventually([] { return sim::callCount("RegNotifyChangeKeyValue") >= 2; }));
    sim::registry::setDword(L"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\Deep\\Key", L"X", 1);
    EXPECT_TRUE(eventually([&] { return provider->triggers == 1; }));
    // Re-armed after each change: a second change is seen too.
    ASSERT_TRUE(eventually([] { return sim::callCount("RegNotifyChangeKeyValue") >= 4; }));
    sim::registry::setDword(
        L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy"
        L"\\StandardProfile",
        L"EnableFirewall", 1);
    EXPECT_TRUE(eventually([&] { return provider->triggers == 2; }));
    observer.stop();
    EXPECT_EQ(sim::services::openHandles(), 0u + 1u) << "the observer's service handle";
}

TEST_F(ObserverTest, UnopenableServiceCountsAsRunning) {
    sim::failCall("OpenServiceW", 1, ERROR_ACCESS_DENIED);
    FirewallStatusObserver observer(stopEvent);
    sim::services::setState(L"MpsSvc", SERVICE_STOPPED);
    EXPECT_TRUE(observer.isFirewallServiceRunning());
    EXPECT_EQ(sim::services::openHandles(), 0u);
}

}  // namespace
