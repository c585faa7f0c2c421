#include "rules/FwRuleActions.h"

#include "common/logging/Log.h"
#include "rules/ComErrors.h"
#include "rules/ComSupport.h"
#include "rules/RuleSetters.h"
#include "settings_store/OrreryKeys.h"

using namespace rule_setters;

namespace {

const HRESULT kNotFound = static_cast<HRESULT>(0x80070002L);
const wchar_t* const kGrouping = L"Tarn Firewall";

bool portsApply(int32_t protocol) {
    return protocol != 1 && protocol != 58 && protocol != 256;
}

bool isIcmp(int32_t protocol) {
    return protocol == 1 || protocol == 58;
}

// Removes the rule of that name unless disarmed: an existing rule that failed halfway may
// hold a mix of old and new properties.
class HalfUpdatedRuleGuard {
public:
    HalfUpdatedRuleGuard(INetFwRules* rules, std::function<void()> onFailure)
        : m_rules(rules), m_onFailure(std::move(onFailure)) {}
    ~HalfUpdatedRuleGuard() {
        if (m_armed && m_name && FAILED(m_rules->Remove(m_name.get()))) {
            m_onFailure();
        }
    }
    HalfUpdatedRuleGuard(const HalfUpdatedRuleGuard&) = delete;
    HalfUpdatedRuleGuard& operator=(const HalfUpdatedRuleGuard&) = delete;

    void arm(tarn::UniqueBstr name) {
        m_name = std::move(name);
        m_armed = true;
    }
    void disarm() { m_armed = false; }

private:
    INetFwRules* m_rules;
    std::function<void()> m_onFailure;
    tarn::UniqueBstr m_name;
    bool m_armed = false;
};

}  // namespace

FwRuleActions::FwRuleActions(const tarn::Stoppable& stop,
                             std::shared_ptr<IFWSettingsProvider> provider,
                             std::shared_ptr<IFWAlertApi> alerts,
                             std::shared_ptr<FwPolicyHolder> policy)
    : m_stop(stop),
      m_provider(std::move(provider)),
      m_alerts(std::move(alerts)),
      m_policy(std::move(policy)) {
    m_invalidRulesLog.open(nullptr, L"Firewall", L"InvalidRules", TarnPyxLogging::LevelInfo, 2);
}

FwRuleActions::~FwRuleActions() = default;

FwRuleActions::SharedRules::SharedRules(FwRuleActions& actions) : m_actions(actions) {
    INetFwPolicy2* policy = actions.m_policy ? actions.m_policy->policy() : nullptr;
    if (policy != nullptr && FAILED(policy->get_Rules(actions.m_sharedRules.put()))) {
        actions.m_sharedRules.reset();
    }
}

FwRuleActions::SharedRules::~SharedRules() {
    m_actions.m_sharedRules.reset();
}

HRESULT FwRuleActions::ruleCollection(INetFwPolicy2* policy, tarn::ComPtr<INetFwRules>& rules) {
    if (m_sharedRules) {
        m_sharedRules.get()->AddRef();
        rules.reset(m_sharedRules.get());
        return S_OK;
    }
    return policy->get_Rules(rules.put());
}

LONG FwRuleActions::convertNetworkType(int32_t networkType) {
    switch (networkType) {
        case FWRule::NetworkAll:
            return NET_FW_PROFILE2_ALL;
        case FWRule::NetworkDomain:
        case FWRule::NetworkPrivate:
        case FWRule::NetworkPublic:
            return networkType;
        default:
            TARN_LOG(TarnPyxLogging::LevelWarning) << "Unknown: " << networkType;
            return NET_FW_PROFILE2_ALL;
    }
}

void FwRuleActions::reportRuleFailure(const FWRule& rule, const std::wstring& reason,
                                      const std::wstring& detail) {
    const std::wstring text = rule.toText();
    bool first = false;
    {
        std::lock_guard lock(m_reportedMutex);
        first = m_reportedRules.insert(text).second;
    }
    if (first && m_invalidRulesLog.isEnabled(TarnPyxLogging::LevelInfo)) {
        m_invalidRulesLog.logf(TarnPyxLogging::LevelInfo, "FwRuleActions::reportRuleFailure",
                               L"%ls: %ls", reason.c_str(), text.c_str());
    }
    if (m_alerts) {
        m_alerts->sendRuleApplicationFailedAlert(rule, reason, detail);
    }
}

void FwRuleActions::applyFwRule(const FWRule& rule, bool track) {
    try {
        apply(rule, track, true);
    } catch (const tarn::BaseException& e) {
        TARN_LOG(TarnPyxLogging::LevelError) << rule.name << ": " << e.what();
    }
}

void FwRuleActions::apply(const FWRule& rule, bool track, bool mayRecreate) {
    TARN_LOG_TAG(TarnPyxLogging::LevelDebug, "FwRuleActions::applyFwRule")
        << "Applying rule: " << rule.name << "(" << rule.description << ")";
    INetFwPolicy2* policy = m_policy ? m_policy->policy() : nullptr;
    if (policy == nullptr) {
        TARN_LOG_TAG(TarnPyxLogging::LevelWarning, "FwRuleActions::applyFwRule") << "No m_fwPolicy";
        return reportRuleFailure(rule, L"No FW interface", L"");
    }
    tarn::ComPtr<INetFwRules> rules;
    if (const HRESULT hr = ruleCollection(policy, rules); FAILED(hr)) {
        TARN_LOG_TAG(TarnPyxLogging::LevelWarning, "FwRuleActions::applyFwRule")
            << "get_Rules failed: " << tarn::describeError(hr);
        return reportRuleFailure(rule, L"Failed to read existing rules", L"");
    }
    tarn::ComPtr<INetFwRule> fwRule;
    const HRESULT found = rules.get()->Item(tarn::makeBstr(rule.name).get(), fwRule.put());
    const bool existing = SUCCEEDED(found) && fwRule;
    if (found == kNotFound) {
        fwRule.reset(createNewFwRule());
        if (!fwRule) {
            return reportRuleFailure(rule, L"Failed to create new rule", L"");
        }
        TARN_LOG_TAG(TarnPyxLogging::LevelDebug, "FwRuleActions::applyFwRule")
            << "Created new FW rule";
    } else if (!existing) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, "FwRuleActions::applyFwRule")
            << "Getting Item failed: " << tarn::describeError(found);
        if (found != E_OUTOFMEMORY) {
            reportRuleFailure(rule, L"Failed to read existing rule", L"");
        }
        return;
    }

    LONG protocol = 0;
    fwRule.get()->get_Protocol(&protocol);
    if (existing && protocol != rule.protocol) {
        clearForNewProtocol(rule, fwRule.get());
    }
    setGrouping(rule.name, fwRule.get(), kGrouping);

    const bool inbound = rule.direction == FWRule::Direction::In;
    const bool block = rule.action == FWRule::Action::Block;
    const bool directionSet =
        setDirection(rule.name, fwRule.get(), inbound ? NET_FW_RULE_DIR_IN : NET_FW_RULE_DIR_OUT);
    if (!directionSet ||
        !setAction(rule.name, fwRule.get(), block ? NET_FW_ACTION_BLOCK : NET_FW_ACTION_ALLOW)) {
        if (existing && mayRecreate) {
            if (FAILED(rules.get()->Remove(tarn::makeBstr(rule.name).get()))) {
                TARN_LOG_TAG(TarnPyxLogging::LevelError, "FwRuleActions::applyFwRule")
                    << "Failed to delete old rule: " << rule.name;
                return reportRuleFailure(rule, L"Failed to delete existing rule", L"");
            }
            TARN_LOG_TAG(TarnPyxLogging::LevelInfo, "FwRuleActions::applyFwRule")
                << "Deleted old rule and creating new one: " << rule.name;
            forgetRule(rule.name);
            fwRule.reset();
            rules.reset();
            return apply(rule, track, false);
        }
        return directionSet
                   ? reportRuleFailure(rule, L"Failed to set action", block ? L"Block" : L"Allow")
                   : reportRuleFailure(rule, L"Failed to set direction", inbound ? L"In" : L"Out");
    }

    HalfUpdatedRuleGuard guard(rules.get(), [this, &rule] {
        TARN_LOG_TAG(TarnPyxLogging::LevelError,
                     "FwRuleActions::applyFwRule::<lambda_3>::operator ()")
            << "Failed to delete old rule: " << rule.name;
        reportRuleFailure(rule, L"Failed to delete existing rule", L"");
    });
    if (existing) {
        guard.arm(tarn::makeBstr(rule.name));
    }
    if (const auto [reason, detail] = setProperties(rule, fwRule.get(), protocol);
        !reason.empty()) {
        return reportRuleFailure(rule, reason, detail);
    }
    if (!existing) {
        if (const HRESULT hr = rules.get()->Add(fwRule.get()); FAILED(hr)) {
            TARN_LOG_TAG(TarnPyxLogging::LevelError, "FwRuleActions::applyFwRule")
                << "Firewall Rule Add failed: " << tarn::describeError(hr);
            return reportRuleFailure(rule, L"Failed to add rule", L"");
        }
        TARN_LOG_TAG(TarnPyxLogging::LevelInfo, "FwRuleActions::applyFwRule")
            << "Firewall Rule Added: " << rule.name;
        // From here a failure leaves an added rule without its package identity: it goes too.
        guard.arm(tarn::makeBstr(rule.name));
    }
    if (!setPackageId(rule, fwRule.get())) {
        return;
    }
    guard.disarm();
    if (track) {
        trackRule(rule);
    }
}

void FwRuleActions::clearForNewProtocol(const FWRule& rule, INetFwRule* fwRule) {
    const std::wstring& name = rule.name;
    if (rule.applicationPath.empty()) {
        setApplicationName(name, fwRule, L"");
    }
    if (rule.remoteAddresses.empty()) {
        setRemoteAddresses(name, fwRule, L"");
    }
    if (rule.localAddresses.empty()) {
        setLocalAddresses(name, fwRule, L"");
    }
    if (rule.serviceName.empty()) {
        setServiceName(name, fwRule, L"");
    }
    if (!portsApply(rule.protocol) || rule.localPorts.empty()) {
        setLocalPorts(name, fwRule, L"");
    }
    if (!portsApply(rule.protocol) || rule.remotePorts.empty()) {
        setRemotePorts(name, fwRule, L"");
    }
    if (rule.interfaceTypes.empty()) {
        setInterfaceTypes(name, fwRule, L"");
    }
    if (rule.direction == FWRule::Direction::Out) {
        setEdgeTraversal(name, fwRule, false);
    }
}

std::pair<std::wstring, std::wstring> FwRuleActions::setProperties(const FWRule& rule,
                                                                   INetFwRule* fwRule,
                                                                   LONG currentProtocol) {
    const std::wstring& name = rule.name;
    if (!setName(name, fwRule, rule.name)) {
        return {L"Failed to set name", rule.name};
    }
    if (!setDescription(name, fwRule, rule.description)) {
        return {L"Failed to set description", rule.description};
    }
    if (!setApplicationName(name, fwRule, rule.applicationPath)) {
        return {L"Failed to set application name", rule.applicationPath};
    }
    if (!setServiceName(name, fwRule, rule.serviceName)) {
        return {L"Failed to set service name", rule.serviceName};
    }
    // Nothing before has written the protocol: the value read at the start still holds.
    if (!setProtocol(name, fwRule, rule.protocol, currentProtocol)) {
        return {L"Failed to set protocol", std::to_wstring(rule.protocol)};
    }
    if (!setRemoteAddresses(name, fwRule, rule.remoteAddresses)) {
        return {L"Failed to set remote address", rule.remoteAddresses};
    }
    if (!setLocalAddresses(name, fwRule, rule.localAddresses)) {
        return {L"Failed to set local address", rule.localAddresses};
    }
    if (!setInterfaceTypes(name, fwRule, rule.interfaceTypes)) {
        return {L"Failed to set interface type", rule.interfaceTypes};
    }
    if (portsApply(rule.protocol) && !setLocalPorts(name, fwRule, rule.localPorts)) {
        return {L"Failed to set local ports", rule.localPorts};
    }
    if (portsApply(rule.protocol) && !setRemotePorts(name, fwRule, rule.remotePorts)) {
        return {L"Failed to set remote ports", rule.remotePorts};
    }
    const LONG profiles = convertNetworkType(rule.networkType);
    if (!setProfiles(name, fwRule, profiles)) {
        return {L"Failed to set profiles", std::to_wstring(profiles)};
    }
    if (isIcmp(rule.protocol) &&
        !setIcmpTypesAndCodes(name, fwRule,
                              rule.icmpTypesAndCodes.empty() ? L"*" : rule.icmpTypesAndCodes)) {
        return {L"Failed to set ICMP data", rule.icmpTypesAndCodes};
    }
    if (rule.direction == FWRule::Direction::In &&
        !setEdgeTraversal(name, fwRule, rule.edgeTraversal)) {
        return {L"Failed to set edge traversal", rule.edgeTraversal ? L"On" : L"Off"};
    }
    if (!setEnabled(name, fwRule)) {
        return {L"Failed to set enabled flag", L"On"};
    }
    return {};
}

bool FwRuleActions::setPackageId(const FWRule& rule, INetFwRule* fwRule) {
    tarn::ComPtr<INetFwRule3> rule3;
    const HRESULT hr = tarn::queryInterface(fwRule, rule3);
    if (hr == E_NOINTERFACE) {
        return true;  // older systems have no package identities
    }
    if (FAILED(hr) || !rule3) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, "FwRuleActions::applyFwRule")
            << "Failed to get INetFwRule3 interface; hr = " << static_cast<long>(hr);
        reportRuleFailure(rule, L"Failed to get INetFwRule3 interface", L"");
        return false;
    }
    if (!setLocalAppPackageId(rule.name, rule3.get(), rule.applicationPackageId)) {
        reportRuleFailure(rule, L"Failed to set app package id", rule.applicationPackageId);
        return false;
    }
    return true;
}

void FwRuleActions::forgetRule(const std::wstring& name) {
    if (m_provider) {
        m_provider->removeRuleFromList(tarn::keys::kStatusInstalledRules, name);
        m_provider->removeRuleFromList(tarn::keys::kStatusRulesForSendingAlerts, name);
    }
}

void FwRuleActions::trackRule(const FWRule& rule) {
    if (!m_provider) {
        return;
    }
    m_provider->addRuleToList(tarn::keys::kStatusInstalledRules, rule.name);
    if (rule.enabled && rule.sendAlerts && rule.action == FWRule::Action::Block) {
        m_provider->addRuleToList(tarn::keys::kStatusRulesForSendingAlerts, rule.name);
    } else {
        m_provider->removeRuleFromList(tarn::keys::kStatusRulesForSendingAlerts, rule.name);
    }
}

bool FwRuleActions::deleteFwRule(const std::wstring& name) {
    TARN_LOG(TarnPyxLogging::LevelDebug) << "Deleting rule: " << name;
    INetFwPolicy2* policy = m_policy ? m_policy->policy() : nullptr;
    if (policy == nullptr) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "No m_fwPolicy";
        return false;
    }
    try {
        tarn::ComPtr<INetFwRules> rules;
        if (const HRESULT hr = ruleCollection(policy, rules); FAILED(hr)) {
            TARN_LOG_HR(TarnPyxLogging::LevelWarning, hr, "get_Rules failed: ");
            return false;
        }
        if (const HRESULT hr = rules.get()->Remove(tarn::makeBstr(name).get()); FAILED(hr)) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << name << " failed to remove from firewall: " << tarn::describeError(hr);
            return false;
        }
    } catch (const tarn::BaseException& e) {
        TARN_LOG(TarnPyxLogging::LevelError) << name << ": " << e.what();
        return false;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Rule removed: " << name;
    forgetRule(name);
    return true;
}

bool FwRuleActions::enumerateAllFwRules(const std::function<void(INetFwRule*)>& visit) {
    INetFwPolicy2* policy = m_policy ? m_policy->policy() : nullptr;
    if (policy == nullptr) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "No m_fwPolicy";
        return false;
    }
    tarn::ComPtr<INetFwRules> rules;
    if (const HRESULT hr = ruleCollection(policy, rules); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelWarning, hr, "get_Rules failed: ");
        return false;
    }
    tarn::ComPtr<IUnknown> unknown;
    tarn::ComPtr<IEnumVARIANT> items;
    if (FAILED(rules.get()->get__NewEnum(unknown.put())) || !unknown ||
        FAILED(tarn::queryInterface(unknown.get(), items)) || !items) {
        return true;
    }
    for (;;) {
        tarn::UniqueVariant item;
        const HRESULT hr = items.get()->Next(1, item.reset(), nullptr);
        if (hr == S_FALSE || FAILED(hr) ||
            FAILED(::VariantChangeType(&item.get(), &item.get(), 0, VT_DISPATCH))) {
            return true;
        }
        tarn::ComPtr<INetFwRule> rule;
        if (V_DISPATCH(&item.get()) != nullptr &&
            SUCCEEDED(tarn::queryInterface(V_DISPATCH(&item.get()), rule)) && rule) {
            visit(rule.get());
        }
        if (m_stop.isStopped()) {
            return false;
        }
    }
}

INetFwRule* FwRuleActions::createNewFwRule() {
    INetFwRule* rule = nullptr;
    const HRESULT hr = ::CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER,
                                          __uuidof(INetFwRule), reinterpret_cast<void**>(&rule));
    if (FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "CoCreateInstance for Firewall Rule failed: ");
        return nullptr;
    }
    return rule;
}
