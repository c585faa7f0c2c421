// Profiles on a real store: which profile is current, the current settings and rules, and the
// status written back.
#include <functional>
#include <utility>

#include "settings/HostExecutable.h"
#include "tests/settings/ProviderTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

namespace keys = tarn::keys;
using tarn::test::ProviderTest;

constexpr const char* kProfiles = R"([
    {"profile_name": "office", "profile_visible_name": "Office", "allow_other_rules": false,
     "defaults": {"public_network": {"block_all_inbound": true}},
     "rules": [{"name": "office rule 1"}, {"name": "office rule 2"}]},
    {"profile_name": "office", "profile_visible_name": "Second office"},
    {"profile_name": "home", "profile_visible_name": "Home", "rules": [{"name": "home rule"}]}])";

constexpr const char* kIsolation = R"({"enabled": false, "profile_name": "home",
    "profile_visible_name": "Isolated", "allow_other_rules": false,
    "defaults": {"public_network": {"fw_enabled": false}},
    "rules": [{"name": "isolation rule"}],
    "additional_rules": [{"name": "ISOLATION RULE"}, {"name": "extra rule"}]})";

class ProfilesTest : public ProviderTest {
protected:
    void SetUp() override {
        set(keys::kProfiles, kProfiles);
        set(keys::kNetworkIsolation, kIsolation);
        start();
    }
    std::vector<std::wstring> currentRuleNames() {
        std::vector<std::wstring> names;
        for (const auto& rule : settings->getCurrentRules(resolved, reporter())) {
            names.push_back(rule.name);
        }
        return names;
    }
};

TEST_F(ProfilesTest, CurrentProfileNameFollowsIsolationThenSelectionThenTheGlobalName) {
    struct Step {
        const wchar_t* key;
        std::string json;
        const wchar_t* expected;
    };
    const Step steps[] = {
        {keys::kCurrentProfileName, R"("home")", L"home"},
        {keys::kCurrentAutoselectedProfileName, R"("office")", L"home"},
        {keys::kAutomaticProfileSelectionEnabled, "true", L"office"},
        {keys::kCurrentProfileNameChangedByUser, "true", L"home"},
        {keys::kCurrentProfileNameChangedByUser, "false", L"office"},
        {keys::kCurrentAutoselectedProfileName, R"("")", L"home"},
        {keys::kNetworkIsolationEnabled, "true", L"home"},
        {keys::kNetworkIsolationProfileName, R"("isolated")", L"isolated"},
    };
    for (const Step& step : steps) {
        set(step.key, step.json);
        EXPECT_EQ(settings->getCurrentProfileName(), step.expected)
            << tarn::str::toUtf8(step.key) << " = " << step.json;
    }
}

TEST_F(ProfilesTest, ADanglingNameIsResetUnlessItIsReadOnly) {
    tarn::test::LogCapture log;
    set(keys::kCurrentProfileName, R"("gone")");
    EXPECT_EQ(settings->getCurrentProfileName(), L"");
    EXPECT_EQ(stored(keys::kCurrentProfileName), std::nullopt) << "deleted";
    EXPECT_TRUE(log.contains(R"(There's not current profile name: "gone" in profiles' array)", 3));

    set(keys::kCurrentProfileName, R"("gone")");
    ASSERT_EQ(PyxOrrery_SetConstraints(store.get(), keys::kCurrentProfileName,
                                       PYX_ORRERY_CONSTRAINT_READ_ONLY),
              0);
    log.clear();
    EXPECT_TRUE(settings->isCurrentProfileNameLocked());
    EXPECT_EQ(settings->getCurrentProfileName(), L"");
    EXPECT_EQ(stored(keys::kCurrentProfileName), R"("gone")");
    EXPECT_TRUE(
        log.contains("Global current prifile wasn't found in profile list. Global current "
                     "profile name: gone",
                     2))
        << log.dump();
    EXPECT_EQ(settings->getCurrentSettings().profileVisibleName, L"");
}

// Another process writes the current profile name while the provider checks the stored one.
class RacingSettings : public tarn::test::FixedDnsSettings {
public:
    using FixedDnsSettings::FixedDnsSettings;
    std::function<void()> whileChecking;

    bool isCurrentProfileNameLocked() override {
        if (auto write = std::exchange(whileChecking, nullptr)) {
            write();
        }
        return FixedDnsSettings::isCurrentProfileNameLocked();
    }
};

TEST_F(ProfilesTest, OnlyTheDanglingNameIsDeletedNeverOneWrittenMeanwhile) {
    settings->stop();
    auto racing = std::make_shared<RacingSettings>(L"test", scheduler, tarn::makeSharedEvent());
    settings = racing;
    ASSERT_TRUE(racing->start({}));

    set(keys::kCurrentProfileName, R"("gone")");
    racing->whileChecking = [this] { set(keys::kCurrentProfileName, R"("home")"); };
    EXPECT_EQ(settings->getCurrentProfileName(), L"home");
    EXPECT_EQ(stored(keys::kCurrentProfileName), R"("home")");

    // A name changed to another dangling one is checked in its turn, and that one goes.
    set(keys::kCurrentProfileName, R"("gone")");
    racing->whileChecking = [this] { set(keys::kCurrentProfileName, R"("also gone")"); };
    EXPECT_EQ(settings->getCurrentProfileName(), L"");
    EXPECT_EQ(stored(keys::kCurrentProfileName), std::nullopt);
}

TEST_F(ProfilesTest, CurrentSettingsComeFromTheFirstProfileOfTheName) {
    set(keys::kCurrentProfileName, R"("office")");
    FWCurrentSettings expected;
    expected.profileName = L"office";
    expected.profileVisibleName = L"Office";
    expected.allowOtherRules = false;
    expected.isolationAllowOtherRules = false;  // the isolation object's member
    expected.networkDefaults.public_network.block_all_inbound = true;
    EXPECT_EQ(settings->getCurrentSettings(), expected);

    set(keys::kFirewallEnabled, "false");  // no profile is read then
    expected.firewallEnabled = false;
    expected.profileVisibleName.clear();
    expected.allowOtherRules = true;
    expected.networkDefaults = {};
    EXPECT_EQ(settings->getCurrentSettings(), expected);
}

TEST_F(ProfilesTest, IsolationOverridesTheSwitchesButNotAllSecurityDisabled) {
    set(keys::kFirewallEnabled, "false");
    set(keys::kWinFwEnabled, "false");
    set(keys::kNetworkIsolationEnabled, "true");
    const FWCurrentSettings isolated = settings->getCurrentSettings();
    EXPECT_EQ(isolated.profileName, L"home");
    EXPECT_EQ(isolated.profileVisibleName, L"Isolated");
    EXPECT_TRUE(isolated.firewallEnabled && isolated.winfwEnabled);
    EXPECT_TRUE(isolated.networkIsolationEnabled);
    EXPECT_FALSE(isolated.allowOtherRules);
    EXPECT_FALSE(isolated.allowsOtherRules());
    // Isolation's own defaults, whatever the profile says.
    EXPECT_TRUE(isolated.networkDefaults.public_network.fw_enabled);
    EXPECT_FALSE(isolated.networkDefaults.private_network.allow_unknown_outbound);

    set(keys::kComputerSecurityProtectionStatus, R"("AllSecurityDisabled")");
    const FWCurrentSettings off = settings->getCurrentSettings();
    EXPECT_FALSE(off.firewallEnabled);
    EXPECT_FALSE(off.winfwEnabled);
}

TEST_F(ProfilesTest, CurrentRulesWithIsolationAndLanshare) {
    set(keys::kCurrentProfileName, R"("office")");
    EXPECT_EQ(currentRuleNames(), (std::vector<std::wstring>{L"office rule 1", L"office rule 2"}));

    set(L"local.windows.ferry2.lanshare.allow_rules",
        R"({"port": 8080, "server_enabled": true, "client_enabled": true, "subnet": "10.0.0.5"})");
    set(keys::kNetworkIsolationEnabled, "true");
    EXPECT_EQ(currentRuleNames(),
              (std::vector<std::wstring>{
                  L"isolation rule", L"extra rule", L"Tarn Lanshare (TCP 8080:in)",
                  L"Tarn Lanshare (UDP 8080:in)", L"Tarn Lanshare (UDP 8080:out)"}));
    EXPECT_EQ(reports.size(), 1u);  // the second isolation rule of one name

    const auto rules = settings->getCurrentRules(resolved, reporter());
    ASSERT_EQ(rules.size(), 5u);
    struct Expected {
        int32_t protocol;
        FWRule::Direction direction;
        const wchar_t* localPorts;
        const wchar_t* remotePorts;
    };
    const Expected expected[] = {{6, FWRule::Direction::In, L"8080", L"1024-65535"},
                                 {17, FWRule::Direction::In, L"8080", L"1024-65535"},
                                 {17, FWRule::Direction::Out, L"1024-65535", L"8080"}};
    for (size_t i = 0; i < 3; ++i) {
        const FWRule& rule = rules[2 + i];
        EXPECT_EQ(rule.protocol, expected[i].protocol);
        EXPECT_EQ(rule.direction, expected[i].direction);
        EXPECT_EQ(rule.localPorts, expected[i].localPorts);
        EXPECT_EQ(rule.remotePorts, expected[i].remotePorts);
        EXPECT_EQ(rule.remoteAddresses, L"10.0.0.5");
        EXPECT_EQ(rule.action, FWRule::Action::Allow);
        EXPECT_EQ(rule.applicationPath, tarn::hostExecutablePath());
        EXPECT_EQ(rule.description, rule.name);
    }

    set(keys::kNetworkIsolation, "[]");  // no profile at all: only Lanshare's rules
    set(keys::kProfiles, "[]");
    set(L"local.windows.ferry2.lanshare.allow_rules.server_enabled", "false");
    EXPECT_EQ(currentRuleNames(), std::vector<std::wstring>{L"Tarn Lanshare (UDP 8080:out)"});
}

TEST_F(ProfilesTest, StatusCarriesTheSettingsAndTheGroupPolicyState) {
    FWCurrentSettings current;
    current.profileName = L"office";
    current.profileVisibleName = L"Office";
    current.networkIsolationEnabled = true;
    struct Case {
        FirewallGpoState gpo;
        bool serviceRunning;
        const char* overall;
        const char* byGpo;
        const char* combined;
    };
    using G = GpoState;
    const Case cases[] = {
        {{G::Unconfigured, G::Unconfigured, G::Unconfigured}, true, "unconfigured", "true", "true"},
        {{G::Enabled, G::Disabled, G::Unconfigured}, true, "disabled", "false", "true"},
        {{G::Unconfigured, G::Unconfigured, G::Enabled}, false, "enabled", "true", "false"},
        {{G::Enabled, static_cast<G>(7), G::Unconfigured}, true, "enabled", "true", "true"},
    };
    for (const Case& c : cases) {
        settings->writeStatus(current, false, c.gpo, c.serviceRunning);
        EXPECT_EQ(stored(keys::kStatusFwGpoState), std::string("\"") + c.overall + "\"");
        EXPECT_EQ(stored(keys::kStatusEnabledByGpo), c.byGpo);
        EXPECT_EQ(stored(keys::kStatusCombinedEnabled), c.combined);
    }
    EXPECT_EQ(stored(L"status.windows.firewall.fw_gpo_state_details"),
              R"({"domain_network":"unconfigured","private_network":"enabled",)"
              R"("public_network":"unconfigured"})");
    EXPECT_EQ(stored(keys::kStatusCurrentSecurityLevel), R"("office")");
    EXPECT_EQ(stored(keys::kStatusCurrentSecurityLevelName), R"("Office")");
    EXPECT_EQ(stored(keys::kStatusNetworkIsolationEnabled), "false");
    EXPECT_EQ(stored(keys::kStatusNetworkIsolationProfileIsolation), "true");
    EXPECT_FALSE(settings->isNetworkIsolationActive());
    EXPECT_TRUE(settings->isProfileIsolationStatus());

    current.networkDefaults.domain_network.fw_enabled = false;
    current.winfwEnabled = false;
    settings->writeStatus(current, true, {}, true);
    EXPECT_EQ(stored(keys::kStatusCombinedEnabled), "false");
    EXPECT_FALSE(settings->isWinFwEnabledStatus());
    EXPECT_TRUE(settings->isFirewallEnabledStatus());
    EXPECT_TRUE(settings->isNetworkIsolationActive());
}

}  // namespace
