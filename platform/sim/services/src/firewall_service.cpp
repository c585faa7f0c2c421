// What the Windows Firewall service keeps in the registry of every machine: its policy key
// with the three profiles' keys, and the parent of the group-policy keys. A fresh simulated
// machine has them.
#include "sim/machine.h"
#include "sim/registry_control.h"

namespace {

void createFirewallKeys() {
    const std::wstring policy =
        L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";
    for (const wchar_t* profile : {L"DomainProfile", L"StandardProfile", L"PublicProfile"}) {
        sim::registry::createKey(policy + L"\\" + profile);
    }
    sim::registry::createKey(policy + L"\\FirewallRules");
    sim::registry::createKey(L"HKLM\\SOFTWARE\\Policies\\Microsoft");
}

// Reset hooks run in the order they were registered: the registry's own (registered when its
// state is first made) must come before this one, which writes into the fresh registry.
[[maybe_unused]] const bool registered = [] {
    createFirewallKeys();
    sim::onReset(createFirewallKeys);
    return true;
}();

}  // namespace
