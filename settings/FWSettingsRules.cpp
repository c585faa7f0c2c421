// Reading rule objects of the store into rule records: cleaning, parsing, resolving host names
// and refusing what cannot be applied.
#include <unordered_map>

#include "common/Str.h"
#include "rules/RuleValidation.h"
#include "settings/FWSettings.h"
#include "settings_store/Orrery.h"

namespace {

constexpr size_t kMinimumNameLength = 8;

// "::/0" is any address, as an empty text is.
std::wstring addressText(PyxOrreryObject object, const wchar_t* member) {
    std::wstring text = Orrery::getObjectString(object, member);
    return text == L"::/0" ? std::wstring() : text;
}

// Normalises one address text of a rule in place; false when every address was invalid.
bool normalizeAddresses(const tarn::RuleHostAddressNormalizer* normalizer,
                        const std::wstring& ruleName, const char* side, std::wstring& addresses,
                        std::vector<std::wstring>& hostNames, std::wstring& invalid) {
    // Without a normaliser (before start, after stop) no address can be checked.
    const std::wstring result =
        normalizer != nullptr ? normalizer->normalizeHostAddresses(addresses, hostNames, invalid)
                              : std::wstring();
    if (normalizer == nullptr) {
        invalid = addresses;
    }
    if (!invalid.empty()) {
        TARN_LOG_TAG(TarnPyxLogging::LevelInfo, "FWSettings::readFWRule")
            << "(" << ruleName << ") Original " << side << " address: " << addresses;
        TARN_LOG_TAG(TarnPyxLogging::LevelWarning, "FWSettings::readFWRule")
            << "(" << ruleName << ") Invalid " << side << " address: " << invalid;
        TARN_LOG_TAG(TarnPyxLogging::LevelInfo, "FWSettings::readFWRule")
            << "(" << ruleName << ") Resolved " << side << " address: " << result;
    }
    if (!addresses.empty() && result.empty()) {
        return false;
    }
    addresses = result;
    return true;
}

}  // namespace

std::shared_ptr<tarn::RuleHostAddressNormalizer> FWSettings::createAddrNormalizer() {
    // The normaliser may outlive the cache: it then finds no addresses.
    std::weak_ptr<tarn::FwDnsCache> cache;
    {
        std::lock_guard lock(m_lock);
        cache = m_dnsCache;
    }
    return std::make_shared<tarn::RuleHostAddressNormalizer>([cache](const std::wstring& host) {
        const auto dnsCache = cache.lock();
        return dnsCache ? dnsCache->getAddresses(host) : std::vector<std::wstring>();
    });
}

std::shared_ptr<tarn::RuleHostAddressNormalizer> FWSettings::addrNormalizer() {
    std::lock_guard lock(m_lock);
    return m_addrNormalizer;
}

bool FWSettings::readFWRule(PyxOrreryObject ruleObject, FWRule& rule,
                            std::vector<std::wstring>& resolvedDnsNames,
                            const InvalidRuleReporter& reporter) {
    const auto text = [ruleObject](const wchar_t* member) {
        return Orrery::getObjectString(ruleObject, member);
    };
    rule.name = FWRule::removeControlCharacters(text(L"name"));
    const bool nameTooShort = rule.name.size() < kMinimumNameLength;
    if (nameTooShort) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Rule will be ignored, too short name (<8): " << rule.name;
    }
    rule.description = FWRule::removeControlCharacters(text(L"description"));
    rule.direction = getDirectionFromStr(text(L"direction"));
    rule.serviceName = text(L"service_name");
    rule.localAddresses = FWRule::removeWhiteSpace(addressText(ruleObject, L"local_addresses"));
    rule.remoteAddresses = FWRule::removeWhiteSpace(addressText(ruleObject, L"remote_addresses"));
    if (const std::wstring protocol = text(L"protocol"); !protocol.empty()) {
        rule.protocol = _wtoi(protocol.c_str());
    }
    rule.action = getActionFromStr(text(L"action"));
    rule.networkType = getNetworkTypeFromStr(text(L"network_type"));
    rule.applicationPath = text(L"application_path");
    rule.applicationPackageId = text(L"application_package_id");
    rule.localPorts = FWRule::removeWhiteSpace(text(L"local_ports"));
    rule.remotePorts = FWRule::removeWhiteSpace(text(L"remote_ports"));
    rule.icmpTypesAndCodes = FWRule::removeWhiteSpace(text(L"icmp_types_and_codes"));
    rule.interfaceTypes = text(L"interface_types");
    rule.interfaces =
        Orrery::getSubObjFromOrreryObject(ruleObject, L"interfaces", std::vector<std::wstring>());
    rule.edgeTraversal = Orrery::getObjectBool(ruleObject, L"allow_edge_traversal", false);
    rule.sendAlerts = Orrery::getObjectBool(ruleObject, L"send_alerts", false);
    rule.enabled = Orrery::getObjectBool(ruleObject, L"enabled", true);

    std::wstring invalidLocal;
    std::wstring invalidRemote;
    bool localUsable = true;
    bool remoteUsable = true;
    if (rule.enabled) {
        const auto normalizer = addrNormalizer();
        std::vector<std::wstring> scratch;
        localUsable = normalizeAddresses(normalizer.get(), rule.name, "local", rule.localAddresses,
                                         scratch, invalidLocal);
        // Allow rules publish the names they reach, so that isolation lets their DNS through.
        remoteUsable = normalizeAddresses(
            normalizer.get(), rule.name, "remote", rule.remoteAddresses,
            rule.action == FWRule::Action::Allow ? resolvedDnsNames : scratch, invalidRemote);
    }

    const auto report = [&](const wchar_t* reason, const std::wstring& invalidPart) {
        if (reporter) {
            reporter(rule, reason, invalidPart);
        }
    };
    if (nameTooShort) {
        report(L"Name is too short", L"");
        return false;
    }
    if (!localUsable) {
        report(L"Local address is invalid", invalidLocal);
        return false;
    }
    if (!invalidLocal.empty()) {
        report(L"Local address is invalid. Rule has been applied only partially", invalidLocal);
    }
    if (!remoteUsable) {
        report(L"Remote address is invalid", invalidRemote);
        return false;
    }
    if (!invalidRemote.empty()) {
        report(L"Remote address is invalid. Rule has been applied only partially", invalidRemote);
    }
    return true;
}

void FWSettings::readRulesFromRulesArray(tarn::UniqueOrreryObject rulesObject,
                                         std::vector<FWRule>& out,
                                         std::vector<std::wstring>& resolvedDnsNames,
                                         const InvalidRuleReporter& reporter) {
    if (!rulesObject || PyxOrrery_ObjectIsArray(rulesObject.get()) != 1) {
        return;
    }
    // Names compare without regard to case: the validation needs to see only the accepted rule
    // of the same name, which keeps a long profile from costing the square of its length.
    std::unordered_map<std::wstring, size_t> byName;
    for (size_t i = 0; i < out.size(); ++i) {
        byName.emplace(tarn::str::toLower(out[i].name), i);
    }
    const int size = PyxOrrery_ArrayGetSize(rulesObject.get());
    std::vector<FWRule> sameName;
    for (int i = 0; i < size; ++i) {
        int err = 1;
        const tarn::UniqueOrreryObject item(PyxOrrery_ArrayGetItem(rulesObject.get(), i, &err));
        if (!item || err != PYX_ORRERY_OK) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Failed to get rule for item " << i << ": " << PyxOrrery_ErrorAsString(err);
            continue;
        }
        FWRule rule;
        if (!readFWRule(item.get(), rule, resolvedDnsNames, reporter) || !rule.enabled) {
            continue;
        }
        std::wstring key = tarn::str::toLower(rule.name);
        sameName.clear();
        if (const auto found = byName.find(key); found != byName.end()) {
            sameName.push_back(out[found->second]);
        }
        if (validateRule(rule, sameName, reporter)) {
            byName.emplace(std::move(key), out.size());
            out.push_back(std::move(rule));
        }
    }
}
