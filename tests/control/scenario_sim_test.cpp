// The controller on the simulated machine, driven through the settings store as the
// management writes it.
#include "sim/launch_control.h"
#include "tests/control/ControllerMachine.h"

namespace {

using namespace tarn::test;
namespace keys = tarn::keys;

constexpr const wchar_t* kHandlers =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\test\\NetworkIsolation\\Handlers\\";
constexpr const wchar_t* kUserHandler = L"C:\\Tools\\isolation_user.exe";
constexpr const wchar_t* kStandardPolicy =
    L"HKLM\\SOFTWARE\\Policies\\Microsoft\\WindowsFirewall\\StandardProfile";
constexpr const wchar_t* kFirewallPolicy =
    L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";

void createProgram(const std::wstring& path) {
    CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
    const tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
}

const std::string kIsolationOn =
    R"({"enabled":true,"local":{"enabled":false},"profile_name":"isolated",)"
    R"("profile_visible_name":"Isolation","allow_other_rules":false,"rules":[)" +
    allowRule("Isolation: management", 443) + "]}";
const std::string kIsolationOff =
    R"({"enabled":false,"local":{"enabled":false},"profile_name":"isolated","rules":[]})";

using ScenarioTest = ControllerMachine;

TEST_F(ScenarioTest, FirstPassAppliesDefaultAndPolicyRulesAndSavesWindowsDefaults) {
    sim::firewall::ProfileSettings publicBefore = sim::firewall::profile(NET_FW_PROFILE2_PUBLIC);
    startController({allowRule("Office: RDP", 3389)},
                    R"({"public_network":{"fw_enabled":true,"block_all_inbound":true}})");
    EXPECT_TRUE(hasRule(L"Office: RDP"));
    EXPECT_TRUE(hasRule(L"Tarn: Allow DNS queries")) << "a default rule";
    EXPECT_TRUE(sim::firewall::profile(NET_FW_PROFILE2_PUBLIC).blockAllInboundTraffic);
    ASSERT_TRUE(stored(keys::kStatusOldNetworkDefaults).has_value());
    const auto saved = nlohmann::json::parse(*stored(keys::kStatusOldNetworkDefaults));
    EXPECT_EQ(saved["public_network"]["block_all_inbound"], publicBefore.blockAllInboundTraffic);
    EXPECT_EQ(stored(keys::kStatusCurrentSecurityLevelName), R"("Office")");
    EXPECT_EQ(stored(keys::kStatusFwGpoState), R"("unconfigured")");
}

TEST_F(ScenarioTest, RuleRemovedFromThePolicyDisappears) {
    startController({allowRule("Office: RDP", 3389), allowRule("Office: Web", 80)});
    ASSERT_TRUE(hasRule(L"Office: Web")) << log.dump();
    setAndWait(keys::kProfiles, profilesWith({allowRule("Office: RDP", 3389)}));
    EXPECT_FALSE(hasRule(L"Office: Web"));
    EXPECT_TRUE(hasRule(L"Office: RDP"));
}

TEST_F(ScenarioTest, IsolationOnThenOffRunsTheHandlersTwiceInEveryUserSession) {
    createProgram(kUserHandler);
    sim::registry::setString(std::wstring(kHandlers) + L"User", L"notify", kUserHandler);
    sim::sessions::logOn(1, L"alice", WTSActive, L"Console");
    sim::sessions::logOn(2, L"bob", WTSDisconnected);
    sim::sessions::logOn(3, L"carol", WTSActive);
    startController();
    setIsolation(kIsolationOn, true);
    EXPECT_TRUE(hasRule(L"Isolation: management"));
    setIsolation(kIsolationOff, false);

    std::vector<uint32_t> sessions;
    for (const auto& launch : sim::launch::launches()) {
        sessions.push_back(launch.session);
        EXPECT_EQ(launch.program, kUserHandler);
    }
    EXPECT_EQ(sessions, (std::vector<uint32_t>{1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(spooledEvents(),
              (std::vector<std::string>{"network_isolation.enable", "network_isolation.disable"}));
    reapplyAll();
    EXPECT_EQ(sim::launch::launches().size(), 6u) << "an unchanged state runs nothing";
}

TEST_F(ScenarioTest, GroupPolicyForcingTheFirewallOffIsReportedAndIsolationCannotHold) {
    startController();
    setIsolation(kIsolationOn, true);
    const size_t before = settings->statusWrites();
    sim::registry::setDword(kStandardPolicy, L"EnableFirewall", 0);
    // The policy watch asks for a full re-application, which comes after the trigger's delay.
    ASSERT_TRUE(eventually([&] {
        runTriggers();
        return settings->statusWrites() > before &&
               stored(keys::kStatusFwGpoState) == R"("disabled")";
    })) << log.dump();
    EXPECT_EQ(stored(keys::kStatusEnabledByGpo), "false");
    EXPECT_EQ(stored(keys::kStatusFwGpoStatePrivate), R"("disabled")");
    EXPECT_EQ(stored(keys::kStatusFwGpoStateDomain), R"("unconfigured")");
    EXPECT_EQ(stored(keys::kStatusNetworkIsolationEnabled), "false");
    EXPECT_EQ(spooledEvents(),
              (std::vector<std::string>{"network_isolation.enable", "network_isolation.disable"}));
}

TEST_F(ScenarioTest, FirewallServiceStoppingReportsUnavailableAndItsReturnReappliesAll) {
    startController();
    ASSERT_TRUE(settings->lastServiceRunning());
    sim::services::setState(L"MpsSvc", SERVICE_STOPPED);
    setAndWait(keys::kProfiles,
               profilesWith({allowRule("Office: RDP", 3389), allowRule("Office: Web", 80)}));
    EXPECT_FALSE(settings->lastServiceRunning());
    EXPECT_EQ(stored(keys::kStatusNetworkIsolationEnabled), "false");
    sim::firewall::removeAllRules();  // what the firewall held is gone with it

    sim::services::setState(L"MpsSvc", SERVICE_RUNNING);
    const size_t before = settings->statusWrites();
    sim::registry::setDword(kFirewallPolicy, L"PolicyVersion", 542);  // the service is back
    ASSERT_TRUE(eventually([&] {
        runTriggers();
        return settings->statusWrites() > before && settings->lastServiceRunning();
    })) << log.dump();
    EXPECT_TRUE(hasRule(L"Office: RDP"));
    EXPECT_TRUE(hasRule(L"Office: Web")) << "the change queued while it was down";
}

TEST_F(ScenarioTest, ServiceDownAtStartIsPolledUntilItRuns) {
    sim::services::setState(L"MpsSvc", SERVICE_STOPPED);
    set(keys::kFirewallEnabled, "true");
    set(keys::kCurrentProfileName, R"("office")");
    set(keys::kProfiles, profilesWith({allowRule("Office: RDP", 3389)}));
    settings = std::make_shared<CountingSettings>(kNamespace, scheduler, stopEvent);
    winfw = std::make_shared<TestWinFW>(kNamespace, stopEvent);
    ASSERT_TRUE(settings->start({winfw}));
    ASSERT_TRUE(winfw->start(settings));
    ASSERT_TRUE(settings->waitForStatusAfter(0));
    EXPECT_FALSE(settings->lastServiceRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(settings->statusWrites(), 1u) << "the unavailable status once, however long";
    sim::services::setState(L"MpsSvc", SERVICE_RUNNING);
    ASSERT_TRUE(eventually([] { return hasRule(L"Office: RDP"); })) << log.dump();
}

class UninstallTest : public ControllerMachine, public ::testing::WithParamInterface<bool> {};

TEST_P(UninstallTest, StopRestoresTheFirewallExactlyWhenUninstalling) {
    const bool uninstalling = GetParam();
    sim::firewall::Rule other;
    other.name = L"Other program";
    other.enabled = true;
    sim::firewall::addRule(other);
    const auto rulesBefore = firewallRuleNames();
    std::vector<sim::firewall::ProfileSettings> before;
    for (int32_t type : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
        before.push_back(sim::firewall::profile(type));
    }
    startController({allowRule("Office: RDP", 3389)},
                    R"({"domain_network":{"fw_enabled":true,"block_all_inbound":true},)"
                    R"("public_network":{"fw_enabled":false}})");
    ASSERT_TRUE(hasRule(L"Office: RDP"));
    sim::registry::setDword(kPyxKey, L"FW_UNINSTALLING", uninstalling ? 1 : 0);
    stopController();
    std::vector<sim::firewall::ProfileSettings> after;
    for (int32_t type : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
        after.push_back(sim::firewall::profile(type));
    }
    if (uninstalling) {
        EXPECT_EQ(firewallRuleNames(), rulesBefore);
        EXPECT_TRUE(after == before);
        EXPECT_TRUE(sim::firewall::findRule(L"Other program")->enabled);
    } else {
        EXPECT_TRUE(hasRule(L"Office: RDP"));
        EXPECT_FALSE(after == before);
    }
}

INSTANTIATE_TEST_SUITE_P(Flag, UninstallTest, ::testing::Bool());

}  // namespace
