#include "rules/RuleSetters.h"

#include "common/logging/Log.h"
#include "rules/ComErrors.h"
#include "rules/ComSupport.h"
#include "rules/RuleValueEquivalence.h"

namespace rule_setters {

namespace {

bool sameText(const tarn::UniqueBstr& a, const wchar_t* b) {
    const tarn::UniqueBstr other = tarn::makeBstr(b);
    return ::VarBstrCmp(a.get(), other.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

std::wstring shown(const std::wstring& value) {
    return value.empty() ? L"[empty]" : value;
}

const wchar_t* boolText(bool value) {
    return value ? L"true" : L"false";
}

}  // namespace

bool setStringProperty(const std::wstring& ruleName, const std::wstring& wantedValue,
                       const ReadString& getter, const WriteString& putter,
                       const char* propertyName) {
    tarn::UniqueBstr current;
    if (const HRESULT hr = getter(current.put()); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "getFunc failed with: ");
        current.reset();
    }
    const std::wstring currentText = rule_setters::trimListTail(tarn::toWide(current.get()));
    const std::wstring wantedText = rule_setters::trimListTail(wantedValue);
    if (currentText == wantedText) {
        return true;  // equal code units compare equal in every locale: no strings to make
    }
    const tarn::UniqueBstr currentValue = tarn::makeBstr(currentText);
    const tarn::UniqueBstr wanted = tarn::makeBstr(wantedText);
    if (::VarBstrCmp(currentValue.get(), wanted.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
        return true;
    }
    // An empty wish is met by a property that already means "any".
    if (wantedText.empty() &&
        (currentText.empty() || sameText(currentValue, L"*") || sameText(currentValue, L"All"))) {
        return true;
    }
    if (valuesEquivalent(comparisonOf(propertyName), currentText, wantedText)) {
        return true;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << ruleName << ": " << propertyName << "('" << shown(wantedText) << "') executing. Old: '"
        << shown(currentText) << "'";
    const std::string_view property(propertyName);
    const bool clearWithNull = property == "put_ApplicationName" || property == "put_ServiceName";
    const HRESULT hr = putter(wantedText.empty() && clearWithNull ? nullptr : wanted.get());
    if (FAILED(hr)) {
        TARN_LOG(TarnPyxLogging::LevelError) << propertyName << "('" << shown(wantedText)
                                             << "') failed with: " << tarn::describeError(hr);
        return false;
    }
    return true;
}

#define STRING_SETTER(setter, Interface, property)                                          \
    bool setter(const std::wstring& ruleName, Interface* rule, const std::wstring& value) { \
        return setStringProperty(ruleName, rule, value, &Interface::get_##property,         \
                                 &Interface::put_##property, "put_" #property);             \
    }

STRING_SETTER(setName, INetFwRule, Name)
STRING_SETTER(setDescription, INetFwRule, Description)
STRING_SETTER(setGrouping, INetFwRule, Grouping)
STRING_SETTER(setApplicationName, INetFwRule, ApplicationName)
STRING_SETTER(setServiceName, INetFwRule, ServiceName)
STRING_SETTER(setLocalAppPackageId, INetFwRule3, LocalAppPackageId)
STRING_SETTER(setRemotePorts, INetFwRule, RemotePorts)
STRING_SETTER(setRemoteAddresses, INetFwRule, RemoteAddresses)
STRING_SETTER(setLocalPorts, INetFwRule, LocalPorts)
STRING_SETTER(setLocalAddresses, INetFwRule, LocalAddresses)
STRING_SETTER(setInterfaceTypes, INetFwRule, InterfaceTypes)
STRING_SETTER(setIcmpTypesAndCodes, INetFwRule, IcmpTypesAndCodes)
#undef STRING_SETTER

bool setEdgeTraversal(const std::wstring& ruleName, INetFwRule* rule, bool value) {
    VARIANT_BOOL current = VARIANT_FALSE;
    if (const HRESULT hr = rule->get_EdgeTraversal(&current); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "get_EdgeTraversals() failed: ");
    }
    const VARIANT_BOOL wanted = value ? VARIANT_TRUE : VARIANT_FALSE;
    if (current == wanted) {
        return true;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << "put_EdgeTraversal(" << boolText(value) << ") for: " << ruleName;
    if (const HRESULT hr = rule->put_EdgeTraversal(wanted); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "put_EdgeTraversal() failed: ");
        return false;
    }
    return true;
}

bool setDirection(const std::wstring& ruleName, INetFwRule* rule, NET_FW_RULE_DIRECTION value) {
    NET_FW_RULE_DIRECTION current = NET_FW_RULE_DIR_MAX;
    if (const HRESULT hr = rule->get_Direction(&current); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "get_Direction failed: ");
    }
    if (current == value) {
        return true;
    }
    auto text = [](NET_FW_RULE_DIRECTION d) { return d == NET_FW_RULE_DIR_IN ? "in" : "out"; };
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << "Changing Direction " << text(current) << " -> " << text(value) << " for: " << ruleName;
    if (const HRESULT hr = rule->put_Direction(value); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "put_Direction failed: ");
        return false;
    }
    return true;
}

// The four plain typed setters: read, compare, log, write.
#define TYPED_SETTER(setter, type, property, initial, logValue, failure)      \
    bool setter(const std::wstring& ruleName, INetFwRule* rule, type value) { \
        type current = initial;                                               \
        rule->get_##property(&current);                                       \
        if (current == value) {                                               \
            return true;                                                      \
        }                                                                     \
        TARN_LOG(TarnPyxLogging::LevelInfo)                                   \
            << "put_" #property "(" << logValue << ") for: " << ruleName;     \
        if (const HRESULT hr = rule->put_##property(value); FAILED(hr)) {     \
            TARN_LOG_HR(TarnPyxLogging::LevelError, hr, failure);             \
            return false;                                                     \
        }                                                                     \
        return true;                                                          \
    }

TYPED_SETTER(setProfiles, LONG, Profiles, 0, static_cast<long>(value), "put_Profiles failed: ")
TYPED_SETTER(setAction, NET_FW_ACTION, Action, NET_FW_ACTION_MAX, static_cast<int>(value),
             "put_Action failed: ")
TYPED_SETTER(setProtocol, LONG, Protocol, -1, static_cast<long>(value), "put_Protocol failed: ")
#undef TYPED_SETTER

bool setEnabled(const std::wstring& ruleName, INetFwRule* rule) {
    VARIANT_BOOL current = VARIANT_FALSE;
    rule->get_Enabled(&current);
    if (current == VARIANT_TRUE) {
        return true;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << "put_Enabled(" << boolText(true) << ") for: " << ruleName;
    if (const HRESULT hr = rule->put_Enabled(VARIANT_TRUE); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "put_Enabled failed: ");
        return false;
    }
    return true;
}

}  // namespace rule_setters
