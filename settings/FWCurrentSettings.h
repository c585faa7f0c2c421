// What the firewall is to look like now: the current profile, the switches and the network
// defaults. The controller compares two snapshots field by field to see what changed.
#pragma once

#include <string>

#include "control/FWNetworkDefaultsSettings.h"

class FWCurrentSettings {
public:
    FWCurrentSettings() = default;
    FWCurrentSettings(const FWCurrentSettings&) = default;
    FWCurrentSettings& operator=(const FWCurrentSettings&) = default;
    virtual ~FWCurrentSettings() = default;

    bool operator==(const FWCurrentSettings&) const = default;

    // Whether rules of other programs may stay in force: isolation has its own say.
    bool allowsOtherRules() const {
        return networkIsolationEnabled ? isolationAllowOtherRules : allowOtherRules;
    }

    std::wstring profileName;
    std::wstring profileVisibleName;
    bool winfwEnabled = true;
    bool allowOtherRules = true;
    bool firewallEnabled = true;
    bool networkIsolationEnabled = false;
    bool isolationAllowOtherRules = true;
    FWNetworkDefaultsSettings networkDefaults;
};
