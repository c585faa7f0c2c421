#include "control/GpoMonitor.h"

#include "common/logging/Log.h"

namespace {

constexpr const wchar_t* kFirewallPolicies = L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall";

// SOFTWARE\Policies is shared by the two registry views on 64-bit Windows: the 64-bit view
// names it for a 32-bit process too.
tarn::Win32Registry policyRegistry() {
    return tarn::Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
}

// "EnableFirewall" of one profile's key: 1 enabled, any other value disabled, none unconfigured.
GpoState profileState(const tarn::Win32Registry& registry, const wchar_t* profileKey) {
    DWORD value = 0;
    if (!regReadDword(registry, std::wstring(kFirewallPolicies) + L"\\" + profileKey,
                      L"EnableFirewall", value)) {
        return GpoState::Unconfigured;
    }
    return value == 1 ? GpoState::Enabled : GpoState::Disabled;
}

}  // namespace

bool regReadDword(const tarn::Win32Registry& registry, const std::wstring& keyPath,
                  const std::wstring& valueName, DWORD& value) {
    DWORD error = 0;
    if (registry.readDword(keyPath, valueName, value, &error)) {
        return true;
    }
    TARN_LOG(TarnPyxLogging::LevelDebug)
        << "Failed to read value '" << valueName << "' from '" << keyPath << "'. Error: " << error;
    return false;
}

FirewallGpoState GpoMonitor::getFirewallGpoState() {
    const tarn::Win32Registry registry = policyRegistry();
    FirewallGpoState state;
    state.domainProfile = profileState(registry, L"DomainProfile");
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << "'Domain' profile: " << gpoStateText(state.domainProfile);
    const std::wstring policies(kFirewallPolicies);
    if (registry.keyExists(policies + L"\\PublicProfile") ||
        registry.keyExists(policies + L"\\PrivateProfile")) {
        state.privateProfile = profileState(registry, L"PrivateProfile");
        TARN_LOG(TarnPyxLogging::LevelInfo)
            << "'Private' profile: " << gpoStateText(state.privateProfile);
        state.publicProfile = profileState(registry, L"PublicProfile");
        TARN_LOG(TarnPyxLogging::LevelInfo)
            << "'Public' profile: " << gpoStateText(state.publicProfile);
    } else {
        state.privateProfile = state.publicProfile = profileState(registry, L"StandardProfile");
        TARN_LOG(TarnPyxLogging::LevelInfo)
            << "'Standard' profile: " << gpoStateText(state.privateProfile);
    }
    return state;
}
