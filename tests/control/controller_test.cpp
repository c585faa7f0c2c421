// How the controller reads its queue of changed keys.
#include <gtest/gtest.h>

#include "common/Str.h"
#include "control/WinFW.h"
#include "settings_store/OrreryKeys.h"

inline void PrintTo(const WinFW::ChangeFlags& f, std::ostream* os) {
    *os << "{only filters " << f.onlyFiltersReapply << ", rules " << f.rulesChanged << ", all "
        << f.reapplyAll << ", whitelist " << f.whitelistChanged << "}";
}

namespace {

namespace keys = tarn::keys;

class QueueProbe : public WinFW {
public:
    QueueProbe() : WinFW(L"test", tarn::makeSharedEvent()) {}
    using WinFW::takeChanges;
};

TEST(ControllerKeys, RuleKeys) {
    for (const auto& [key, isRule] : std::vector<std::pair<std::wstring, bool>>{
             {L"windows.firewall.current_profile_name", true},
             {L"windows.firewall.current_profile_name_changed_by_user", false},
             {L"windows.firewall.profiles", true},
             {L"windows.firewall.profiles_extra", true},
             {L"windows.firewall.network_isolation.local.enabled", true},
             {L"local.windows.ferry2.lanshare.allow_rules.port", true},
             {L"Windows.firewall.profiles", false},
             {L"windows.firewall.enabled", false},
             {L"windows.firewall.trigger_settings_reapply", false}}) {
        EXPECT_EQ(WinFW::isRuleKey(key), isRule) << tarn::str::toUtf8(key);
    }
}

using Flags = WinFW::ChangeFlags;

TEST(ControllerKeys, DrainingTheQueueGivesTheFlags) {
    struct Case {
        std::vector<std::wstring> keys;
        Flags flags;
    };
    const std::vector<Case> cases = {
        {{keys::kTriggerFiltersReapply}, {true, false, false, false}},
        {{keys::kTriggerFiltersReapply, keys::kTriggerFiltersReapply}, {true, false, false, false}},
        {{keys::kTriggerFiltersReapply, keys::kFirewallEnabled}, {false, false, false, false}},
        {{keys::kTriggerFiltersReapply, keys::kProfiles}, {false, true, false, false}},
        {{keys::kTriggerSettingsReapply}, {false, false, true, false}},
        {{keys::kStatusWhitelistedProcesses}, {false, false, false, true}},
        {{keys::kStatusAdditionalWhitelistedProcesses, keys::kTriggerFiltersReapply},
         {true, false, false, true}},
        {{keys::kTriggerSettingsReapply, keys::kProfiles, keys::kStatusWhitelistedProcesses},
         {false, true, true, true}},
        {{keys::kCurrentProfileNameChangedByUser}, {false, false, false, false}},
    };
    QueueProbe probe;
    for (const auto& c : cases) {
        for (const auto& key : c.keys) {
            probe.onFWSettingChanged(key);
        }
        EXPECT_EQ(probe.takeChanges(), c.flags) << tarn::str::toUtf8(c.keys.front());
        EXPECT_EQ(probe.takeChanges(), Flags{}) << "the queue is empty afterwards";
    }
    probe.stop();
}

}  // namespace
