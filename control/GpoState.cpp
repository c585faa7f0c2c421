#include "control/GpoState.h"

GpoState combineGpoStates(GpoState a, GpoState b) {
    if (a == GpoState::Disabled || b == GpoState::Disabled) {
        return GpoState::Disabled;
    }
    if (a == GpoState::Unconfigured && b == GpoState::Unconfigured) {
        return GpoState::Unconfigured;
    }
    return GpoState::Enabled;
}

GpoState FirewallGpoState::overall() const {
    return combineGpoStates(combineGpoStates(privateProfile, publicProfile), domainProfile);
}

const wchar_t* gpoStateText(GpoState state) {
    switch (state) {
        case GpoState::Enabled:
            return L"enabled";
        case GpoState::Disabled:
            return L"disabled";
        default:
            return L"unconfigured";
    }
}
