// The one way in which the rest of the system reads the firewall policy and writes the
// firewall status. Reads give defaults on failure and writes log their failures: nothing here
// throws to a caller.
#pragma once

#include <string>
#include <vector>

#include "control/FWNetworkDefaultsSettings.h"
#include "control/GpoState.h"
#include "profile_selection/AutomaticProfileSelectionSettings.h"
#include "profile_selection/LanshareSettings.h"
#include "settings/FWCurrentSettings.h"
#include "settings/FWRule.h"

class IFWSettingsProvider {
public:
    // The current profile's rules (with isolation's additional rules while isolation is on)
    // and the Lanshare allow rules. Host names of allow rules that were resolved go to
    // `resolvedDnsNames`; every refused rule goes to `reporter`.
    virtual std::vector<FWRule> getCurrentRules(std::vector<std::wstring>& resolvedDnsNames,
                                                const InvalidRuleReporter& reporter) = 0;

    // The rule-name lists kept in the store (list keys of the key catalogue).
    virtual void addRuleToList(const std::wstring& listName, const std::wstring& ruleName) = 0;
    virtual void removeRuleFromList(const std::wstring& listName, const std::wstring& ruleName) = 0;
    virtual void storeList(const std::wstring& listName) = 0;
    virtual std::vector<std::wstring> getList(const std::wstring& listName) = 0;
    // Installed rules, then whitelist rules, then the names of the built-in default rules.
    virtual std::vector<std::wstring> getAllTarnRuleNames() = 0;

    // The Windows network defaults saved before management began.
    virtual void storeOldNetworkSettings(const FWNetworkDefaultsSettings& defaults) = 0;
    virtual FWNetworkDefaultsSettings getOldNetworkSettings() = 0;

    // Ask the delegates, a little later, to re-apply the rules (after 5 s) or everything
    // (after 2 s); a request while one waits does not add another.
    virtual void triggerReapplyFilters() = 0;
    virtual void triggerReapplyAllSettings() = 0;

    virtual FWCurrentSettings getCurrentSettings() = 0;
    virtual std::wstring getCurrentProfileName() = 0;
    virtual bool isCurrentProfileNameLocked() = 0;
    virtual std::wstring getAutoselectedProfileName() = 0;
    // The policy asks for isolation (either switch); its last good value on store errors.
    virtual bool isNetworkIsolationEnabled() = 0;
    // The status: isolation is in force.
    virtual bool isNetworkIsolationActive() = 0;
    virtual void writeStatus(const FWCurrentSettings& settings, bool isolationActive,
                             const FirewallGpoState& gpoState, bool serviceRunning) = 0;
    virtual void setAllowedDnsFromRules(const std::vector<std::wstring>& names) = 0;
    virtual bool isFirewallEnabledStatus() = 0;
    virtual bool isWinFwEnabledStatus() = 0;
    virtual bool isProfileIsolationStatus() = 0;
    virtual bool isSensorEnabled() = 0;
    virtual bool isDnsIsolationStatus() = 0;
    virtual bool canApplyDefaultInboundRules() = 0;
    // The management server's address: the override when one is set.
    virtual std::wstring getCommandPostAddress() = 0;
    virtual AutomaticProfileSelectionSettings getAutomaticProfileSelectionSettings() = 0;
    virtual LanshareSettings getLanshareSettings() = 0;
    virtual void setLanshareAllowRulesParams(const LanshareSettings& settings,
                                             const std::wstring& subnet) = 0;
    // Both whitelists, one after the other, duplicates kept.
    virtual std::vector<std::wstring> getWhitelistedProcesses() = 0;
    virtual void setAutoselectedProfileName(const std::wstring& name) = 0;
    // Appends the built-in default rules.
    virtual void getTarnDefaultRules(std::vector<FWRule>& out) = 0;
    virtual void resetProfileNameChangedByUser() = 0;
    virtual bool shouldDeleteOldInboundRules() = 0;
    virtual void setOldInboundRulesDeleted() = 0;

    virtual ~IFWSettingsProvider() = default;
};
