#include "rules/FwRuleManager.h"

#include <unordered_set>

#include "common/logging/Log.h"
#include "rules/ComErrors.h"
#include "settings/TarnDefaultRules.h"
#include "settings_store/OrreryKeys.h"

namespace keys = tarn::keys;

namespace {

std::wstring fileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

FwRuleManager::FwRuleManager(const tarn::Stoppable& stop,
                             std::shared_ptr<IFWSettingsProvider> provider,
                             std::shared_ptr<IFWAlertApi> alerts,
                             std::shared_ptr<FwPolicyHolder> policy,
                             const FWCurrentSettings* current)
    : m_stop(stop),
      m_provider(std::move(provider)),
      m_alerts(std::move(alerts)),
      m_policy(std::move(policy)),
      m_current(current) {}

std::shared_ptr<FwRuleActions> FwRuleManager::createRuleActions(
    const tarn::Stoppable& stop, std::shared_ptr<IFWSettingsProvider> provider,
    std::shared_ptr<IFWAlertApi> alerts, std::shared_ptr<FwPolicyHolder> policy) {
    return std::make_shared<FwRuleActions>(stop, std::move(provider), std::move(alerts),
                                           std::move(policy));
}

std::shared_ptr<FwRuleActions> FwRuleManager::getRuleActions() {
    if (!m_ruleActions) {
        m_ruleActions = createRuleActions(m_stop, m_provider, m_alerts, m_policy);
    }
    return m_ruleActions;
}

bool FwRuleManager::otherRulesAllowed() const {
    return m_current == nullptr || m_current->allowsOtherRules();
}

void FwRuleManager::applyCurrentRules() {
    std::vector<FWRule> rules;
    std::vector<std::wstring> hostNames;
    const auto actions = getRuleActions();
    if (m_current != nullptr && m_current->firewallEnabled) {
        rules = m_provider->getCurrentRules(
            hostNames,
            [&actions](const FWRule& rule, const std::wstring& reason, const std::wstring& part) {
                actions->reportRuleFailure(rule, reason, part);
            });
    }
    m_provider->setAllowedDnsFromRules(hostNames);
    if (!rules.empty()) {
        TARN_LOG(TarnPyxLogging::LevelInfo)
            << "Applying " << rules.size() << " rules and allow " << hostNames.size() << " domains";
    }
    const FwRuleActions::SharedRules shared(*actions);
    restoreDeletedNonTarnRules(false);
    for (const FWRule& rule : rules) {
        actions->applyFwRule(rule, true);
    }
    removeObsoleteInstalledRules(rules);
    m_provider->storeList(keys::kStatusInstalledRules);
    m_provider->storeList(keys::kStatusRulesForSendingAlerts);
    deleteNonTarnRules();
}

void FwRuleManager::applyTarnDefaultRules() {
    std::vector<FWRule> rules;
    m_provider->getTarnDefaultRules(rules);
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Applying rules: " << rules.size();
    const auto actions = getRuleActions();
    const FwRuleActions::SharedRules shared(*actions);
    for (const FWRule& rule : rules) {
        actions->applyFwRule(rule, false);
    }
    if (m_provider->shouldDeleteOldInboundRules() && !m_provider->canApplyDefaultInboundRules()) {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Cleaning up old inbound rules";
        for (const wchar_t* name : tarn::defaults::kOldInboundRuleNames) {
            actions->deleteFwRule(name);
        }
        m_provider->setOldInboundRulesDeleted();
    }
}

std::vector<std::wstring> FwRuleManager::getSylphWhitelistedProcesses() {
    auto paths = m_provider->getWhitelistedProcesses();
    if (paths.empty()) {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Empty sylph whitelist";
    } else {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Sylph whitelist has items: " << paths.size();
    }
    return paths;
}

std::vector<std::wstring> FwRuleManager::getOldInstalledRules() {
    auto names = m_provider->getList(keys::kStatusInstalledSylphRules);
    if (names.empty()) {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Stored Orrery sylph whitelist is empty";
    } else {
        TARN_LOG(TarnPyxLogging::LevelInfo)
            << "Stored Orrery sylph whitelist has items: " << names.size();
    }
    return names;
}

void FwRuleManager::addSylphWhitelistRule(const std::wstring& path, std::set<std::wstring>& names) {
    TARN_LOG(TarnPyxLogging::LevelDebug) << path;
    FWRule rule;
    rule.name = L"Tarn whitelisted process " + fileNameOf(path);
    rule.description = rule.name;
    rule.protocol = 6;
    rule.direction = FWRule::Direction::Out;
    rule.action = FWRule::Action::Allow;
    rule.networkType = FWRule::NetworkAll;
    rule.applicationPath = path;
    names.insert(rule.name);
    getRuleActions()->applyFwRule(rule, false);
    m_provider->addRuleToList(keys::kStatusInstalledSylphRules, rule.name);
}

void FwRuleManager::updateSylphWhitelistRules() {
    if (m_policy == nullptr || m_policy->policy() == nullptr) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "No m_fwPolicy";
        return;
    }
    const auto paths = getSylphWhitelistedProcesses();
    const auto oldNames = getOldInstalledRules();
    const FwRuleActions::SharedRules shared(*getRuleActions());
    std::set<std::wstring> newNames;
    for (const auto& path : paths) {
        addSylphWhitelistRule(path, newNames);
    }
    for (const auto& name : oldNames) {
        if (newNames.count(name) == 0) {
            m_provider->removeRuleFromList(keys::kStatusInstalledSylphRules, name);
            getRuleActions()->deleteFwRule(name);
        }
    }
    m_provider->storeList(keys::kStatusInstalledSylphRules);
}

void FwRuleManager::deleteNonTarnRules() {
    if (otherRulesAllowed()) {
        return;
    }
    const auto ownNames = m_provider->getAllTarnRuleNames();
    const std::set<std::wstring> own(ownNames.begin(), ownNames.end());
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Disabling all rules";
    getRuleActions()->enumerateAllFwRules([&](INetFwRule* fwRule) {
        VARIANT_BOOL enabled = VARIANT_FALSE;
        if (FAILED(fwRule->get_Enabled(&enabled)) || enabled != VARIANT_TRUE) {
            return;
        }
        FWRule rule;
        // A rule not read whole could not be recognised later: it stays on until a later pass.
        if (!rule.init(fwRule) || own.count(rule.name) != 0) {
            return;
        }
        rule.enabled = false;
        const std::wstring text = rule.toText();
        TarnPyxLogging::logger().logf(TarnPyxLogging::LevelInfo,
                                      "FwRuleManager::deleteNonTarnRules", L"Disable rule: '%ls'",
                                      text.c_str());
        if (const HRESULT hr = fwRule->put_Enabled(VARIANT_FALSE); FAILED(hr)) {
            TARN_LOG_TAG(TarnPyxLogging::LevelError,
                         "FwRuleManager::deleteNonTarnRules::<lambda_1>::operator ()")
                << "put_Enabled failed: " << tarn::describeError(hr);
            return;
        }
        // Stored at once, so that a rule switched off is remembered if the walk ends early.
        m_provider->addRuleToList(keys::kStatusDisabledOtherRules, text);
        m_provider->storeList(keys::kStatusDisabledOtherRules);
    });
}

void FwRuleManager::restoreDeletedNonTarnRules(bool force) {
    if (!force && !otherRulesAllowed()) {
        return;
    }
    const auto disabled = m_provider->getList(keys::kStatusDisabledOtherRules);
    if (disabled.empty()) {
        return;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Restoring rules: " << disabled.size();
    const std::set<std::wstring> texts(disabled.begin(), disabled.end());
    // A rule not read whole, or not switched on, keeps the list for the next pass.
    bool allRestored = true;
    const bool complete = getRuleActions()->enumerateAllFwRules([&](INetFwRule* fwRule) {
        FWRule rule;
        if (!rule.init(fwRule)) {
            allRestored = false;
            return;
        }
        const std::wstring text = rule.toText();
        if (texts.count(text) == 0) {
            return;
        }
        TarnPyxLogging::logger().logf(TarnPyxLogging::LevelInfo,
                                      "FwRuleManager::restoreDeletedNonTarnRules",
                                      L"Enable rule: '%ls'", text.c_str());
        if (const HRESULT hr = fwRule->put_Enabled(VARIANT_TRUE); FAILED(hr)) {
            TARN_LOG_TAG(TarnPyxLogging::LevelError,
                         "FwRuleManager::restoreDeletedNonTarnRules::<lambda_1>::operator ()")
                << "put_Enabled failed: " << tarn::describeError(hr);
            allRestored = false;
        }
    });
    if (complete && allRestored) {
        for (const auto& text : disabled) {
            m_provider->removeRuleFromList(keys::kStatusDisabledOtherRules, text);
        }
        m_provider->storeList(keys::kStatusDisabledOtherRules);
    }
}

void FwRuleManager::removeObsoleteInstalledRules(const std::vector<FWRule>& rules) {
    const auto actions = getRuleActions();
    std::unordered_set<std::wstring> kept;
    for (const FWRule& rule : rules) {
        kept.insert(rule.name);
    }
    for (const auto& name : m_provider->getList(keys::kStatusInstalledRules)) {
        if (kept.count(name) == 0) {
            actions->deleteFwRule(name);
        }
    }
}

void FwRuleManager::restoreNonTarnRuleSet(bool uninstalling) {
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Uninstall all rules";
    const FwRuleActions::SharedRules shared(*getRuleActions());
    removeObsoleteInstalledRules({});
    if (uninstalling) {
        const auto actions = getRuleActions();
        for (const wchar_t* name : tarn::defaults::kTarnDefaultRuleNames) {
            actions->deleteFwRule(name);
        }
        for (const auto& name : m_provider->getList(keys::kStatusInstalledSylphRules)) {
            actions->deleteFwRule(name);
            m_provider->removeRuleFromList(keys::kStatusInstalledSylphRules, name);
        }
        restoreDeletedNonTarnRules(true);
    }
    m_provider->storeList(keys::kStatusInstalledRules);
    m_provider->storeList(keys::kStatusRulesForSendingAlerts);
    m_provider->storeList(keys::kStatusInstalledSylphRules);
}
