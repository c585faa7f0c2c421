// Profiles: finding the current one and keeping its name valid, gathering the current rules,
// the current settings snapshot and the status written back.
#include "profile_selection/LanshareRules.h"
#include "settings/FWSettings.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"

namespace keys = tarn::keys;

namespace {

constexpr const wchar_t* kAllSecurityDisabled = L"AllSecurityDisabled";
// How often a current profile name that keeps changing under the check is checked again.
constexpr int kProfileNameRounds = 3;

}  // namespace

tarn::UniqueOrreryObject FWSettings::getProfileObject(const std::wstring& name) {
    const bool isolated = isNetworkIsolationEnabled();
    const wchar_t* const key = isolated ? keys::kNetworkIsolation : keys::kProfiles;
    int err = 1;
    tarn::UniqueOrreryObject object(PyxOrrery_GetObject(readHandle(), key, &err));
    if (!object || err != PYX_ORRERY_OK) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Error reading " << key << ": " << PyxOrrery_ErrorAsString(err);
        return {};
    }
    // While isolated, the isolation object is the profile, whatever the name says.
    if (isolated) {
        return object;
    }
    const int size = PyxOrrery_ArrayGetSize(object.get());
    for (int i = 0; i < size; ++i) {
        err = 1;
        tarn::UniqueOrreryObject profile(PyxOrrery_ArrayGetItem(object.get(), i, &err));
        if (!profile || err != PYX_ORRERY_OK) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Failed to get profile for item " << i << ": " << PyxOrrery_ErrorAsString(err);
            continue;
        }
        if (Orrery::getObjectString(profile.get(), L"profile_name") == name) {
            return profile;
        }
    }
    TARN_LOG(TarnPyxLogging::LevelWarning)
        << "There's not current profile name: \"" << name << "\" in profiles' array";
    return {};
}

tarn::UniqueOrreryObject FWSettings::getCurrentProfileObject() {
    // The name first, without the lock: finding it may reset a dangling name in the store.
    const std::wstring name = getCurrentProfileName();
    std::lock_guard lock(m_lock);
    return getProfileObject(name);
}

tarn::UniqueOrreryObject FWSettings::getCurrentProfileRulesObject(const std::wstring& memberName) {
    return getProfileRulesObject(getCurrentProfileName(), memberName);
}

tarn::UniqueOrreryObject FWSettings::getProfileRulesObject(const std::wstring& profileName,
                                                           const std::wstring& memberName) {
    std::lock_guard lock(m_lock);
    const tarn::UniqueOrreryObject profile = getProfileObject(profileName);
    if (!profile) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Current profile not found";
        return {};
    }
    int err = 1;
    tarn::UniqueOrreryObject rules(
        PyxOrrery_ObjectGetObject(profile.get(), memberName.c_str(), &err));
    if (!rules || err != PYX_ORRERY_OK) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Failed to read rules for current profile";
        return {};
    }
    return rules;
}

std::wstring FWSettings::getCurrentProfileName() {
    if (isNetworkIsolationEnabled()) {
        return Orrery::getString(readHandle(), keys::kNetworkIsolationProfileName);
    }
    if (Orrery::getBool(readHandle(), keys::kAutomaticProfileSelectionEnabled, false) &&
        !Orrery::getBool(readHandle(), keys::kCurrentProfileNameChangedByUser, false)) {
        std::wstring selected = getAutoselectedProfileName();
        if (!selected.empty()) {
            return selected;
        }
    }
    return getValidCurrentProfileName();
}

std::wstring FWSettings::getValidCurrentProfileName() {
    std::optional<std::wstring> name = storedCurrentProfileName();
    // Another process may write a name while this one looks: each round checks the name it
    // read, and a name changed meanwhile gets the next round. Only the name found dangling is
    // deleted, never one written since.
    for (int round = 0; round < kProfileNameRounds; ++round) {
        if (getProfileObject(name.value_or(L""))) {
            return name.value_or(L"");
        }
        if (isCurrentProfileNameLocked()) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Global current prifile wasn't found in profile list. Global current profile "
                   "name: "
                << name.value_or(L"");
            return {};
        }
        std::optional<std::wstring> now = storedCurrentProfileName();
        if (now == name) {
            if (name) {
                // The store's default takes over.
                m_writes.run(
                    [this] { Orrery::deleteValue(readHandle(), keys::kCurrentProfileName); });
            }
            return Orrery::getString(readHandle(), keys::kCurrentProfileName);
        }
        name = std::move(now);
    }
    return name.value_or(L"");
}

std::optional<std::wstring> FWSettings::storedCurrentProfileName() {
    int err = 1;
    const tarn::UniqueOrreryString text(
        PyxOrrery_GetString(readHandle(), keys::kCurrentProfileName, L"", &err));
    if (err == PYX_ORRERY_E_NOT_FOUND) {
        return std::nullopt;
    }
    return text ? std::wstring(static_cast<const wchar_t*>(text.get())) : std::wstring();
}

std::vector<FWRule> FWSettings::getCurrentRules(std::vector<std::wstring>& resolvedDnsNames,
                                                const InvalidRuleReporter& reporter) {
    // The name first, without the lock: finding it may reset a dangling name in the store.
    const std::wstring profileName = getCurrentProfileName();
    std::lock_guard lock(m_lock);
    std::vector<FWRule> rules;
    readRulesFromRulesArray(getProfileRulesObject(profileName, L"rules"), rules, resolvedDnsNames,
                            reporter);
    if (isNetworkIsolationEnabled()) {
        readRulesFromRulesArray(getProfileRulesObject(profileName, L"additional_rules"), rules,
                                resolvedDnsNames, reporter);
    }
    appendLanshareRules(readHandle(), rules);
    return rules;
}

FWCurrentSettings FWSettings::getCurrentSettings() {
    FWCurrentSettings settings;
    // The name first, without the lock: finding it may reset a dangling name in the store.
    settings.profileName = getCurrentProfileName();
    std::lock_guard lock(m_lock);
    const bool isolation = isNetworkIsolationEnabled();
    const bool allOff = Orrery::getString(readHandle(), keys::kComputerSecurityProtectionStatus) ==
                        kAllSecurityDisabled;
    settings.isolationAllowOtherRules =
        Orrery::getBool(readHandle(), keys::kNetworkIsolationAllowOtherRules, true);
    settings.firewallEnabled =
        !allOff && (isolation || Orrery::getBool(readHandle(), keys::kFirewallEnabled, true));
    settings.winfwEnabled =
        !allOff && (isolation || Orrery::getBool(readHandle(), keys::kWinFwEnabled, true));
    settings.networkIsolationEnabled = isolation;
    if (!settings.firewallEnabled) {
        return settings;
    }
    if (const tarn::UniqueOrreryObject profile = getProfileObject(settings.profileName)) {
        settings.allowOtherRules = Orrery::getObjectBool(profile.get(), L"allow_other_rules", true);
        settings.profileVisibleName =
            Orrery::getObjectString(profile.get(), L"profile_visible_name");
        settings.networkDefaults =
            FWNetworkDefaultsSettings::readFromProfile(profile.get(), isolation);
    }
    return settings;
}

void FWSettings::writeStatus(const FWCurrentSettings& settings, bool isolationActive,
                             const FirewallGpoState& gpoState, bool serviceRunning) {
    m_writes.run([this, settings, isolationActive, gpoState, serviceRunning] {
        writeStatusValues(settings, isolationActive, gpoState, serviceRunning);
    });
}

void FWSettings::writeStatusValues(const FWCurrentSettings& settings, bool isolationActive,
                                   const FirewallGpoState& gpoState, bool serviceRunning) {
    const PyxOrreryHandle handle = readHandle();
    Orrery::setString(handle, keys::kStatusCurrentSecurityLevel, settings.profileName);
    Orrery::setString(handle, keys::kStatusCurrentSecurityLevelName, settings.profileVisibleName);
    const FWNetworkDefaultsSettings& defaults = settings.networkDefaults;
    const bool windowsFirewallOn = defaults.public_network.fw_enabled &&
                                   defaults.private_network.fw_enabled &&
                                   defaults.domain_network.fw_enabled;
    Orrery::setBool(
        handle, keys::kStatusCombinedEnabled,
        settings.firewallEnabled && settings.winfwEnabled && windowsFirewallOn && serviceRunning);
    Orrery::setBool(handle, keys::kStatusFirewallEnabled, settings.firewallEnabled);
    Orrery::setBool(handle, keys::kStatusWinFwEnabled, settings.winfwEnabled);
    Orrery::setBool(handle, keys::kStatusNetworkIsolationEnabled, isolationActive);
    const GpoState overall = gpoState.overall();
    Orrery::setBool(handle, keys::kStatusEnabledByGpo, overall != GpoState::Disabled);
    Orrery::setString(handle, keys::kStatusFwGpoState, gpoStateText(overall));
    Orrery::setString(handle, keys::kStatusFwGpoStatePrivate,
                      gpoStateText(gpoState.privateProfile));
    Orrery::setString(handle, keys::kStatusFwGpoStatePublic, gpoStateText(gpoState.publicProfile));
    Orrery::setString(handle, keys::kStatusFwGpoStateDomain, gpoStateText(gpoState.domainProfile));
    Orrery::setBool(handle, keys::kStatusNetworkIsolationProfileIsolation,
                    settings.networkIsolationEnabled);
}
