// Single operations on the Windows Firewall's rule set: apply one rule record to the Windows
// rule of the same name (read, compare, write only what differs), delete a rule, walk all
// rules, make a new rule. A rule that cannot be applied is written once to the "InvalidRules"
// log and raises an alert every time.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/logging/LoggerWin.h"
#include "monitoring/IFWAlertApi.h"
#include "platform/win.h"
#include "plugin/Stoppable.h"
#include "rules/ComSupport.h"
#include "rules/FwPolicyHolder.h"
#include "settings/FWRule.h"
#include "settings/IFWSettingsProvider.h"

class FwRuleActions {
public:
    FwRuleActions(const tarn::Stoppable& stop, std::shared_ptr<IFWSettingsProvider> provider,
                  std::shared_ptr<IFWAlertApi> alerts, std::shared_ptr<FwPolicyHolder> policy);
    virtual ~FwRuleActions();
    FwRuleActions(const FwRuleActions&) = delete;
    FwRuleActions& operator=(const FwRuleActions&) = delete;

    // Makes the Windows rule named rule.name match the record; with track, also keeps the
    // installed-rules and alert-rules lists (in memory; the caller stores them).
    virtual void applyFwRule(const FWRule& rule, bool track);
    // Calls visit for every Windows rule in the firewall's order; false when the rules could
    // not be read or a stop ended the walk.
    virtual bool enumerateAllFwRules(const std::function<void(INetFwRule*)>& visit);
    // A new, empty rule with one reference, or null.
    virtual INetFwRule* createNewFwRule();

    // While one lives, the operations of its FwRuleActions share one rule collection instead of
    // fetching their own: every firewall call is slow, and a pass over many rules makes as few
    // as it can. Without it (or when the collection cannot be read at its start) each
    // operation fetches the collection itself.
    class SharedRules {
    public:
        explicit SharedRules(FwRuleActions& actions);
        ~SharedRules();
        SharedRules(const SharedRules&) = delete;
        SharedRules& operator=(const SharedRules&) = delete;

    private:
        FwRuleActions& m_actions;
    };

    // Removes the Windows rule of that name and its name from both lists.
    bool deleteFwRule(const std::wstring& name);
    // Network type of a record to the profile mask of a Windows rule.
    static LONG convertNetworkType(int32_t networkType);
    void reportRuleFailure(const FWRule& rule, const std::wstring& reason,
                           const std::wstring& detail);

    // The "InvalidRules" log, for observers.
    TarnPyxLogging::Logger& invalidRulesLog() { return m_invalidRulesLog; }

private:
    // The rule collection: the shared one, or a new one from policy.
    HRESULT ruleCollection(INetFwPolicy2* policy, tarn::ComPtr<INetFwRules>& rules);
    void apply(const FWRule& rule, bool track, bool mayRecreate);
    // Clears what a rule changing its protocol may not keep or the record leaves empty.
    void clearForNewProtocol(const FWRule& rule, INetFwRule* fwRule);
    // Sets properties a to n, with the protocol as read before; the reason and detail of the
    // first that fails, or empty.
    std::pair<std::wstring, std::wstring> setProperties(const FWRule& rule, INetFwRule* fwRule,
                                                        LONG currentProtocol);
    bool setPackageId(const FWRule& rule, INetFwRule* fwRule);
    void forgetRule(const std::wstring& name);
    void trackRule(const FWRule& rule);

    const tarn::Stoppable& m_stop;
    std::shared_ptr<IFWSettingsProvider> m_provider;
    std::shared_ptr<IFWAlertApi> m_alerts;
    std::shared_ptr<FwPolicyHolder> m_policy;
    tarn::ComPtr<INetFwRules> m_sharedRules;
    std::mutex m_reportedMutex;
    std::set<std::wstring> m_reportedRules;
    TarnPyxLogging::LoggerWin m_invalidRulesLog;
};
