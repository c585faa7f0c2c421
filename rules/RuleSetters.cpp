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

std::wstring shown(std::wstring_view value) {
    return value.empty() ? L"[empty]" : std::wstring(value);
}

const wchar_t* boolText(bool value) {
    return value ? L"true" : L"false";
}

std::wstring_view viewOf(const tarn::UniqueBstr& value) {
    return value ? std::wstring_view(value.get(), ::SysStringLen(value.get()))
                 : std::wstring_view();
}

// Whether the current value already means the wanted one, by the steps of setStringProperty.
// Texts equal in every code unit compare equal in every locale, so the common case of an
// unchanged value needs no strings made.
bool alreadyHolds(std::wstring_view currentText, std::wstring_view wantedText,
                  const char* propertyName) {
    if (currentText == wantedText) {
        return true;
    }
    if (wantedText.empty() && (currentText == L"*" || currentText == L"All")) {
        return true;  // an empty wish is met by a property that already means "any"
    }
    const tarn::UniqueBstr currentValue = tarn::makeBstr(currentText);
    const tarn::UniqueBstr wanted = tarn::makeBstr(wantedText);
    if (::VarBstrCmp(currentValue.get(), wanted.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
        return true;
    }
    if (wantedText.empty() &&
        (currentText.empty() || sameText(currentValue, L"*") || sameText(currentValue, L"All"))) {
        return true;
    }
    return valuesEquivalent(comparisonOf(propertyName), std::wstring(currentText),
                            std::wstring(wantedText));
}

const char* const kStringTag = "rule_setters::setStringProperty";

// setStringProperty from its read on: compare, log, write with put.
template <class Put>
bool writeUnlessHeld(const std::wstring& ruleName, std::wstring_view wantedValue,
                     HRESULT readResult, tarn::UniqueBstr& current, const Put& put,
                     const char* propertyName) {
    if (FAILED(readResult)) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, kStringTag)
            << "getFunc failed with: " << tarn::describeError(static_cast<uint32_t>(readResult));
        current.reset();
    }
    const std::wstring_view currentText = trimListTail(viewOf(current));
    const std::wstring_view wantedText = trimListTail(wantedValue);
    if (alreadyHolds(currentText, wantedText, propertyName)) {
        return true;
    }
    TARN_LOG_TAG(TarnPyxLogging::LevelInfo, kStringTag)
        << ruleName << ": " << propertyName << "('" << shown(wantedText) << "') executing. Old: '"
        << shown(currentText) << "'";
    const std::string_view property(propertyName);
    const bool clearWithNull = property == "put_ApplicationName" || property == "put_ServiceName";
    const tarn::UniqueBstr wanted = tarn::makeBstr(wantedText);
    const HRESULT hr = put(wantedText.empty() && clearWithNull ? nullptr : wanted.get());
    if (FAILED(hr)) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, kStringTag)
            << propertyName << "('" << shown(wantedText)
            << "') failed with: " << tarn::describeError(hr);
        return false;
    }
    return true;
}

// The string setters, without a std::function between the setter and the rule.
template <class Interface>
bool setString(const std::wstring& ruleName, Interface* rule, const std::wstring& wantedValue,
               HRESULT (STDMETHODCALLTYPE Interface::*getter)(BSTR*),
               HRESULT (STDMETHODCALLTYPE Interface::*putter)(BSTR), const char* propertyName) {
    tarn::UniqueBstr current;
    const HRESULT read = (rule->*getter)(current.put());
    return writeUnlessHeld(
        ruleName, wantedValue, read, current, [&](BSTR value) { return (rule->*putter)(value); },
        propertyName);
}

}  // namespace

bool setStringProperty(const std::wstring& ruleName, const std::wstring& wantedValue,
                       const ReadString& getter, const WriteString& putter,
                       const char* propertyName) {
    tarn::UniqueBstr current;
    const HRESULT read = getter(current.put());
    return writeUnlessHeld(ruleName, wantedValue, read, current, putter, propertyName);
}

#define STRING_SETTER(setter, Interface, property)                                          \
    bool setter(const std::wstring& ruleName, Interface* rule, const std::wstring& value) { \
        return setString(ruleName, rule, value, &Interface::get_##property,                 \
                         &Interface::put_##property, "put_" #property);                     \
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

// The plain typed setters: read, compare, log, write.
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
#undef TYPED_SETTER

bool setProtocol(const std::wstring& ruleName, INetFwRule* rule, LONG value, LONG current) {
    if (current == value) {
        return true;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << "put_Protocol(" << static_cast<long>(value) << ") for: " << ruleName;
    if (const HRESULT hr = rule->put_Protocol(value); FAILED(hr)) {
        TARN_LOG_HR(TarnPyxLogging::LevelError, hr, "put_Protocol failed: ");
        return false;
    }
    return true;
}

bool setProtocol(const std::wstring& ruleName, INetFwRule* rule, LONG value) {
    LONG current = -1;
    rule->get_Protocol(&current);
    return setProtocol(ruleName, rule, value, current);
}

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
