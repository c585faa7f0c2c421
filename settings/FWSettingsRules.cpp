// Reading rule objects of the store into rule records: cleaning, parsing, resolving host names
// and refusing what cannot be applied.
#include <algorithm>
#include <optional>
#include <unordered_map>

#include "common/Str.h"
#include "rules/RuleValidation.h"
#include "settings/FWSettings.h"
#include "settings_store/Orrery.h"

namespace {

constexpr size_t kMinimumNameLength = 8;
constexpr int32_t kAnyProtocol = 256;

// The members of one rule object, read with their defaults; a member of another JSON type than
// its own is noted, so that the rule can be refused instead of read as if it were absent.
class RuleMembers {
public:
    explicit RuleMembers(PyxOrreryObject object) : m_object(object) {}

    std::wstring text(const wchar_t* member) {
        int err = 1;
        std::wstring value = Orrery::getObjectString(m_object, member, &err);
        note(member, err);
        return value;
    }
    // "::/0" is any address, as an empty text is.
    std::wstring addresses(const wchar_t* member) {
        std::wstring value = text(member);
        return value == L"::/0" ? std::wstring() : value;
    }
    bool flag(const wchar_t* member, bool defaultValue) {
        int err = 1;
        const bool value = Orrery::getObjectBool(m_object, member, defaultValue, &err);
        note(member, err);
        return value;
    }
    // A JSON array of strings.
    std::vector<std::wstring> texts(const wchar_t* member) {
        int err = 1;
        const tarn::UniqueOrreryObject value(PyxOrrery_ObjectGetObject(m_object, member, &err));
        if (!value || err != PYX_ORRERY_OK) {
            note(member, err);
            return {};
        }
        std::vector<std::wstring> texts =
            Orrery::getOrreryObjectAsObject(value.get(), member, std::vector<std::wstring>(), &err);
        note(member, err);
        return texts;
    }

    // The members of a wrong type, joined with ","; empty when there are none.
    const std::wstring& wrongTypes() const { return m_wrongTypes; }

private:
    void note(const wchar_t* member, int err) {
        if (err != PYX_ORRERY_OK && err != PYX_ORRERY_E_NOT_FOUND) {
            m_wrongTypes += (m_wrongTypes.empty() ? L"" : L",") + std::wstring(member);
        }
    }

    PyxOrreryObject m_object;
    std::wstring m_wrongTypes;
};

// The protocol number of a rule's text: "" keeps the default (TCP), "any" is every protocol,
// decimal digits are the number. Any other text is no protocol: reading it as 0 (HOPOPT) would
// make a rule that nobody meant.
std::optional<int32_t> protocolOf(const std::wstring& text, int32_t defaultValue) {
    if (text.empty()) {
        return defaultValue;
    }
    const std::wstring trimmed = FWRule::removeWhiteSpace(text);
    if (trimmed == L"any") {
        return kAnyProtocol;
    }
    if (trimmed.empty() || !std::all_of(trimmed.begin(), trimmed.end(),
                                        [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return std::nullopt;
    }
    return _wtoi(trimmed.c_str());
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
    RuleMembers members(ruleObject);
    rule.name = FWRule::removeControlCharacters(members.text(L"name"));
    rule.description = FWRule::removeControlCharacters(members.text(L"description"));
    rule.direction = getDirectionFromStr(members.text(L"direction"));
    rule.serviceName = members.text(L"service_name");
    rule.localAddresses = FWRule::removeWhiteSpace(members.addresses(L"local_addresses"));
    rule.remoteAddresses = FWRule::removeWhiteSpace(members.addresses(L"remote_addresses"));
    const std::wstring protocolText = members.text(L"protocol");
    const std::optional<int32_t> protocol = protocolOf(protocolText, rule.protocol);
    rule.protocol = protocol.value_or(rule.protocol);
    rule.action = getActionFromStr(members.text(L"action"));
    rule.networkType = getNetworkTypeFromStr(members.text(L"network_type"));
    rule.applicationPath = members.text(L"application_path");
    rule.applicationPackageId = members.text(L"application_package_id");
    rule.localPorts = FWRule::removeWhiteSpace(members.text(L"local_ports"));
    rule.remotePorts = FWRule::removeWhiteSpace(members.text(L"remote_ports"));
    rule.icmpTypesAndCodes = FWRule::removeWhiteSpace(members.text(L"icmp_types_and_codes"));
    rule.interfaceTypes = members.text(L"interface_types");
    rule.interfaces = members.texts(L"interfaces");
    rule.edgeTraversal = members.flag(L"allow_edge_traversal", false);
    rule.sendAlerts = members.flag(L"send_alerts", false);
    rule.enabled = members.flag(L"enabled", true);

    const auto report = [&](const wchar_t* reason, const std::wstring& invalidPart) {
        if (reporter) {
            reporter(rule, reason, invalidPart);
        }
    };
    // A disabled rule is dropped without a word, whatever else is wrong with it.
    if (!rule.enabled) {
        return false;
    }
    if (!members.wrongTypes().empty()) {
        report(L"Member has the wrong type", members.wrongTypes());
        return false;
    }
    if (!protocol) {
        report(L"Protocol is invalid", protocolText);
        return false;
    }
    const bool nameTooShort = rule.name.size() < kMinimumNameLength;
    if (nameTooShort) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Rule will be ignored, too short name (<8): " << rule.name;
    }

    std::wstring invalidLocal;
    std::wstring invalidRemote;
    const auto normalizer = addrNormalizer();
    std::vector<std::wstring> scratch;
    const bool localUsable = normalizeAddresses(normalizer.get(), rule.name, "local",
                                                rule.localAddresses, scratch, invalidLocal);
    // Allow rules publish the names they reach, so that isolation lets their DNS through.
    const bool remoteUsable = normalizeAddresses(
        normalizer.get(), rule.name, "remote", rule.remoteAddresses,
        rule.action == FWRule::Action::Allow ? resolvedDnsNames : scratch, invalidRemote);

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
