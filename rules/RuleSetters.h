// Writers of single properties of a Windows Firewall rule: each reads the current value first
// and writes only when the wanted value differs (by meaning, see RuleValueEquivalence.h), so
// that re-applying an unchanged policy writes nothing. Each answers whether the rule holds the
// wanted value afterwards. COM failures are logged, never thrown; only a BSTR that cannot be
// allocated throws (tarn::ComException).
#pragma once

#include <functional>
#include <string>

#include "platform/win.h"

namespace rule_setters {

using ReadString = std::function<HRESULT(BSTR*)>;
using WriteString = std::function<HRESULT(BSTR)>;

// The generic string property; propertyName ("put_LocalPorts") chooses the comparison and
// names the property in log lines.
bool setStringProperty(const std::wstring& ruleName, const std::wstring& wantedValue,
                       const ReadString& getter, const WriteString& putter,
                       const char* propertyName);

template <class Rule>
bool setStringProperty(const std::wstring& ruleName, Rule* rule, const std::wstring& wantedValue,
                       HRESULT (STDMETHODCALLTYPE Rule::*getter)(BSTR*),
                       HRESULT (STDMETHODCALLTYPE Rule::*putter)(BSTR), const char* propertyName) {
    return setStringProperty(
        ruleName, wantedValue, [&](BSTR* value) { return (rule->*getter)(value); },
        [&](BSTR value) { return (rule->*putter)(value); }, propertyName);
}

bool setName(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setDescription(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setGrouping(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setApplicationName(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setServiceName(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setLocalAppPackageId(const std::wstring& ruleName, INetFwRule3* rule,
                          const std::wstring& value);
bool setRemotePorts(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setRemoteAddresses(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setLocalPorts(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setLocalAddresses(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setInterfaceTypes(const std::wstring& ruleName, INetFwRule* rule, const std::wstring& value);
bool setIcmpTypesAndCodes(const std::wstring& ruleName, INetFwRule* rule,
                          const std::wstring& value);

bool setEdgeTraversal(const std::wstring& ruleName, INetFwRule* rule, bool value);
bool setDirection(const std::wstring& ruleName, INetFwRule* rule, NET_FW_RULE_DIRECTION value);
bool setProfiles(const std::wstring& ruleName, INetFwRule* rule, LONG value);
// Only ever switches a rule on; switching off is the rule manager's.
bool setEnabled(const std::wstring& ruleName, INetFwRule* rule);
bool setAction(const std::wstring& ruleName, INetFwRule* rule, NET_FW_ACTION value);
bool setProtocol(const std::wstring& ruleName, INetFwRule* rule, LONG value);
// The same with the current value already read, which saves the read.
bool setProtocol(const std::wstring& ruleName, INetFwRule* rule, LONG value, LONG current);

}  // namespace rule_setters
