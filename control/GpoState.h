// Whether group policy switches the Windows firewall on or off, per network profile.
#pragma once

#include <cstdint>

enum class GpoState : int32_t { Unconfigured = 0, Enabled = 1, Disabled = 2 };

// The three profiles' states, as the group-policy reader finds them.
struct FirewallGpoState {
    GpoState privateProfile = GpoState::Unconfigured;
    GpoState publicProfile = GpoState::Unconfigured;
    GpoState domainProfile = GpoState::Unconfigured;

    bool operator==(const FirewallGpoState&) const = default;

    // Disabled when any profile is disabled, unconfigured when all are, else enabled.
    GpoState overall() const;
};

// Disabled when either is disabled, unconfigured when both are, else enabled.
GpoState combineGpoStates(GpoState a, GpoState b);
// "unconfigured", "enabled" or "disabled"; a number outside the three reads "unconfigured".
const wchar_t* gpoStateText(GpoState state);
