// Whether group policy switches the Windows Firewall on or off, per network profile: read
// afresh from the policy keys at each call, nothing kept.
#pragma once

#include <string>

#include "common/registry/Win32Registry.h"
#include "control/GpoState.h"

class GpoMonitor {
public:
    // Private and public from their own keys when either exists, else both from the
    // "StandardProfile" key that older policies write; domain from its own key.
    static FirewallGpoState getFirewallGpoState();
};

// One DWORD value; false (logged at debug level) when it cannot be read.
bool regReadDword(const tarn::Win32Registry& registry, const std::wstring& keyPath,
                  const std::wstring& valueName, DWORD& value);
