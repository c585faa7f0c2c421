// Doubles of the rule engine's tests and benchmarks: an in-memory settings provider, an alert
// sender that counts, and the simulated firewall handed to the engine where it would create
// Windows' own objects.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "monitoring/IFWAlertApi.h"
#include "plugin/Stoppable.h"
#include "rules/FwPolicyHolder.h"
#include "rules/FwRuleActions.h"
#include "rules/FwRuleManager.h"
#include "settings/IFWSettingsProvider.h"
#include "settings_store/OrreryKeys.h"
#include "sim/firewall_control.h"

namespace tarn::test {

class FakeProvider : public IFWSettingsProvider {
public:
    std::vector<FWRule> currentRules;
    std::vector<FWRule> defaultRules;
    std::vector<std::wstring> whitelist;
    // Rules that the provider refuses while it reads the current rules, with the reason.
    std::vector<std::pair<FWRule, std::wstring>> refused;
    std::map<std::wstring, std::vector<std::wstring>> lists;   // in memory
    std::map<std::wstring, std::vector<std::wstring>> stored;  // as last stored
    std::map<std::wstring, std::set<std::wstring>> index;
    bool firewallEnabledStatus = false;
    FWNetworkDefaultsSettings oldSettings;
    int storedOldSettings = 0;
    bool deleteOldInbound = false;
    bool inboundDefaultsAllowed = true;
    bool oldInboundDeleted = false;
    std::vector<std::wstring> allowedDns;

    std::vector<FWRule> getCurrentRules(std::vector<std::wstring>& resolvedDnsNames,
                                        const InvalidRuleReporter& reporter) override {
        for (const auto& [rule, reason] : refused) {
            reporter(rule, reason, L"");
        }
        resolvedDnsNames = {L"example.org"};
        return currentRules;
    }
    // Indexed, so that benchmarks of large policies measure the engine, not this double.
    void addRuleToList(const std::wstring& list, const std::wstring& name) override {
        if (index[list].insert(name).second) {
            lists[list].push_back(name);
        }
    }
    void removeRuleFromList(const std::wstring& list, const std::wstring& name) override {
        if (index[list].erase(name) == 0) {
            return;
        }
        auto& names = lists[list];
        names.erase(std::find(names.begin(), names.end(), name));
    }
    void storeList(const std::wstring& list) override { stored[list] = lists[list]; }
    std::vector<std::wstring> getList(const std::wstring& list) override { return lists[list]; }
    std::vector<std::wstring> getAllTarnRuleNames() override {
        auto names = lists[keys::kStatusInstalledRules];
        const auto& sylph = lists[keys::kStatusInstalledSylphRules];
        names.insert(names.end(), sylph.begin(), sylph.end());
        for (const auto& rule : defaultRules) {
            names.push_back(rule.name);
        }
        return names;
    }
    void storeOldNetworkSettings(const FWNetworkDefaultsSettings& defaults) override {
        oldSettings = defaults;
        ++storedOldSettings;
    }
    FWNetworkDefaultsSettings getOldNetworkSettings() override { return oldSettings; }
    void triggerReapplyFilters() override {}
    void triggerReapplyAllSettings() override {}
    FWCurrentSettings getCurrentSettings() override { return {}; }
    std::wstring getCurrentProfileName() override { return L""; }
    bool isCurrentProfileNameLocked() override { return false; }
    std::wstring getAutoselectedProfileName() override { return L""; }
    bool isNetworkIsolationEnabled() override { return false; }
    bool isNetworkIsolationActive() override { return false; }
    void writeStatus(const FWCurrentSettings&, bool, const FirewallGpoState&, bool) override {}
    void setAllowedDnsFromRules(const std::vector<std::wstring>& names) override {
        allowedDns = names;
    }
    bool isFirewallEnabledStatus() override { return firewallEnabledStatus; }
    bool isWinFwEnabledStatus() override { return true; }
    bool isProfileIsolationStatus() override { return false; }
    bool isSensorEnabled() override { return false; }
    bool isDnsIsolationStatus() override { return false; }
    bool canApplyDefaultInboundRules() override { return inboundDefaultsAllowed; }
    std::wstring getCommandPostAddress() override { return L""; }
    AutomaticProfileSelectionSettings getAutomaticProfileSelectionSettings() override { return {}; }
    LanshareSettings getLanshareSettings() override { return {}; }
    void setLanshareAllowRulesParams(const LanshareSettings&, const std::wstring&) override {}
    std::vector<std::wstring> getWhitelistedProcesses() override { return whitelist; }
    void setAutoselectedProfileName(const std::wstring&) override {}
    void getTarnDefaultRules(std::vector<FWRule>& out) override {
        out.insert(out.end(), defaultRules.begin(), defaultRules.end());
    }
    void resetProfileNameChangedByUser() override {}
    bool shouldDeleteOldInboundRules() override { return deleteOldInbound && !oldInboundDeleted; }
    void setOldInboundRulesDeleted() override { oldInboundDeleted = true; }
};

class CountingAlerts : public IFWAlertApi {
public:
    struct Alert {
        std::wstring rule;
        std::wstring reason;
        std::wstring detail;
    };
    std::vector<Alert> alerts;

    void sendRuleTriggeredAlert(const WfpEventInfo&) override {}
    void sendRuleApplicationFailedAlert(const FWRule& rule, const std::wstring& reason,
                                        const std::wstring& detail) override {
        alerts.push_back({rule.name, reason, detail});
    }
    size_t count(const std::wstring& rule) const {
        return static_cast<size_t>(std::count_if(alerts.begin(), alerts.end(),
                                                 [&](const Alert& a) { return a.rule == rule; }));
    }
};

// The simulated firewall's policy instead of Windows' own.
class SimPolicyHolder : public FwPolicyHolder {
public:
    INetFwPolicy2* initializeFwPolicy() override { return sim::firewall::createPolicy(); }
};

class SimRuleActions : public FwRuleActions {
public:
    using FwRuleActions::FwRuleActions;
    INetFwRule* createNewFwRule() override { return sim::firewall::createRule(); }
};

class SimRuleManager : public FwRuleManager {
public:
    using FwRuleManager::FwRuleManager;

    // The rule actions once the manager has made them.
    std::shared_ptr<FwRuleActions> actions;

protected:
    std::shared_ptr<FwRuleActions> createRuleActions(
        const Stoppable& stop, std::shared_ptr<IFWSettingsProvider> provider,
        std::shared_ptr<IFWAlertApi> alerts, std::shared_ptr<FwPolicyHolder> policy) override {
        actions = std::make_shared<SimRuleActions>(stop, std::move(provider), std::move(alerts),
                                                   std::move(policy));
        return actions;
    }
};

// A rule record with the fields most tests vary.
inline FWRule makeRule(const std::wstring& name, int32_t protocol = 6,
                       FWRule::Direction direction = FWRule::Direction::In,
                       FWRule::Action action = FWRule::Action::Allow) {
    FWRule rule;
    rule.name = name;
    rule.description = name + L" description";
    rule.protocol = protocol;
    rule.direction = direction;
    rule.action = action;
    return rule;
}

// Another program's rule, enabled, as it would sit in the firewall.
inline sim::firewall::Rule otherRule(const std::wstring& name) {
    sim::firewall::Rule rule;
    rule.name = name;
    rule.description = L"@FirewallAPI.dll,-28502";
    rule.grouping = L"@FirewallAPI.dll,-28501";
    rule.applicationName = L"C:\\Program Files\\Other\\other.exe";
    rule.protocol = 6;
    rule.localPorts = L"445";
    rule.enabled = true;
    return rule;
}

}  // namespace tarn::test
