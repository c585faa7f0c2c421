// Decides which rules the Windows Firewall holds: the current profile's rules, the system's
// own default rules and the whitelist rules; removes rules it installed that the policy no
// longer has; switches other programs' rules off while the profile forbids them and on again
// afterwards (by their full text form, so that a rule changed meanwhile stays off); removes
// everything it installed when the product is uninstalled.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "monitoring/IFWAlertApi.h"
#include "plugin/Stoppable.h"
#include "rules/FwPolicyHolder.h"
#include "rules/FwRuleActions.h"
#include "settings/FWCurrentSettings.h"
#include "settings/IFWSettingsProvider.h"

class FwRuleManager {
public:
    // `current` belongs to the controller, which updates it before each call.
    FwRuleManager(const tarn::Stoppable& stop, std::shared_ptr<IFWSettingsProvider> provider,
                  std::shared_ptr<IFWAlertApi> alerts, std::shared_ptr<FwPolicyHolder> policy,
                  const FWCurrentSettings* current);
    virtual ~FwRuleManager() = default;
    FwRuleManager(const FwRuleManager&) = delete;
    FwRuleManager& operator=(const FwRuleManager&) = delete;

    void applyCurrentRules();
    void applyTarnDefaultRules();
    void updateSylphWhitelistRules();
    void restoreNonTarnRuleSet(bool uninstalling);

protected:
    virtual std::shared_ptr<FwRuleActions> createRuleActions(
        const tarn::Stoppable& stop, std::shared_ptr<IFWSettingsProvider> provider,
        std::shared_ptr<IFWAlertApi> alerts, std::shared_ptr<FwPolicyHolder> policy);

private:
    bool otherRulesAllowed() const;
    void restoreDeletedNonTarnRules(bool force);
    void deleteNonTarnRules();
    std::vector<std::wstring> getSylphWhitelistedProcesses();
    std::vector<std::wstring> getOldInstalledRules();
    void addSylphWhitelistRule(const std::wstring& path, std::set<std::wstring>& names);
    void removeObsoleteInstalledRules(const std::vector<FWRule>& rules);
    std::shared_ptr<FwRuleActions> getRuleActions();

    const tarn::Stoppable& m_stop;
    std::shared_ptr<IFWSettingsProvider> m_provider;
    std::shared_ptr<IFWAlertApi> m_alerts;
    std::shared_ptr<FwPolicyHolder> m_policy;
    const FWCurrentSettings* m_current;
    std::shared_ptr<FwRuleActions> m_ruleActions;
};
