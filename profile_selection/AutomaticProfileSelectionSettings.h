// The policy that lets the machine choose its firewall profile from the network it is on: a
// switch and rules, each naming a profile and two conditions on the network configuration.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "standin/orrery/PyxOrrery.h"

class AutomaticProfileSelectionRule {
public:
    static constexpr int64_t kDefaultPriority = 987654321;

    // Reads the six members; false at the first member the store reports an error for (logged).
    // A missing member is no error: it keeps its default.
    bool initializeFromOrreryObject(PyxOrreryObject object);

    int64_t priority = kDefaultPriority;
    std::wstring profileName;
    std::wstring method1;
    std::wstring argument1;
    std::wstring method2;
    std::wstring argument2;

    bool operator==(const AutomaticProfileSelectionRule&) const = default;
};

class AutomaticProfileSelectionSettings {
public:
    AutomaticProfileSelectionSettings() = default;
    AutomaticProfileSelectionSettings(const AutomaticProfileSelectionSettings&) = default;
    AutomaticProfileSelectionSettings& operator=(const AutomaticProfileSelectionSettings&) =
        default;

    // Fills the record from the object under "windows.firewall.automatic_profile_selection";
    // errors of the store are logged and leave the defaults or drop the rule concerned.
    virtual void initializeFromOrreryObject(PyxOrreryObject object);
    virtual ~AutomaticProfileSelectionSettings() = default;

    bool enabled = false;
    // By priority, lowest first; a later rule of the same priority replaces the earlier one.
    std::map<int64_t, AutomaticProfileSelectionRule> rules;
};
