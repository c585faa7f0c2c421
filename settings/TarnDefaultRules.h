// The system's own allow rules: the host program and its helpers, the management server and
// its Java runtime, DNS, mDNS and DHCP, so that no policy can cut the machine off from them.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "common/registry/Win32Registry.h"
#include "settings/FWRule.h"

namespace tarn::defaults {

// The names of every default rule, in the order in which the rule manager knows them.
inline constexpr std::array<const wchar_t*, 19> kTarnDefaultRuleNames = {
    L"Tarn Carrier: Allow outbound TCP traffic",
    L"Tarn Patch Courier: Allow outbound TCP traffic",
    L"Tarn Mender: Allow outbound TCP traffic",
    L"Tarn Mender2: Allow outbound TCP traffic",
    L"Tarn CPS: Allow inbound TCP traffic",
    L"Tarn CPS Java: Allow outbound TCP traffic",
    L"Tarn Command Post access",
    L"Tarn: Allow DNS (In)",
    L"Tarn: Allow DNS queries",
    L"Tarn: Allow DNS client (In)",
    L"Tarn: Allow DNS client (Out)",
    L"Tarn: Allow DNS server (In)",
    L"Tarn: Allow DNS server (Out)",
    L"Tarn: Allow mDNS (In)",
    L"Tarn: Allow mDNS (Out)",
    L"Tarn: Allow DHCP (In)",
    L"Tarn: Allow DHCP",
    L"Tarn: Allow DHCP IPv6 (In)",
    L"Tarn: Allow DHCP IPv6",
};

// Inbound default rules of earlier versions, removed once where inbound defaults are not
// allowed.
inline constexpr std::array<const wchar_t*, 6> kOldInboundRuleNames = {
    L"Tarn: Allow mDNS (In)",       L"Tarn: Allow DNS (In)",  L"Tarn: Allow DNS client (In)",
    L"Tarn: Allow DNS server (In)", L"Tarn: Allow DHCP (In)", L"Tarn: Allow DHCP IPv6 (In)",
};

// What the default rules depend on.
struct DefaultRulesInputs {
    std::wstring hostExecutable;     // the host program's full path
    std::wstring updateToolPath;     // empty: the update tool is not installed
    std::wstring serverRuntimePath;  // empty: no management server runtime here
    std::wstring serverPorts;        // the server's local ports, e.g. "8080,8443"
    bool serverSystem = false;       // a server edition of Windows (runs a DNS server)
    // Whether inbound default rules may be applied; asked once for each group of rules.
    std::function<bool()> inboundDefaultsAllowed;
    std::wstring commandPostAddress;  // empty: no rule for the management server
};

// Appends the default rules that the inputs call for, in their fixed order.
void appendTarnDefaultRules(const DefaultRulesInputs& inputs, std::vector<FWRule>& out);

// Where the machine keeps what the default rules depend on. Registry values that cannot be
// read give empty results.
std::wstring findUpdateToolPath(const Win32Registry& registry, const std::wstring& namespaceName);
// The management server's Java runtime, only when the file exists.
std::wstring findServerRuntimePath(const Win32Registry& registry);
// The HTTP port, then the HTTPS port, as decimal text joined with ",".
std::wstring findServerPorts(const Win32Registry& registry);
// True unless the version check finds a workstation edition.
bool isServerSystem();

}  // namespace tarn::defaults
