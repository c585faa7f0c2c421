#include "control/FwStateManager.h"

#include <string>

#include "common/logging/Log.h"
#include "rules/ComErrors.h"

namespace {

const NET_FW_PROFILE_TYPE2 kProfiles[] = {NET_FW_PROFILE2_PUBLIC, NET_FW_PROFILE2_PRIVATE,
                                          NET_FW_PROFILE2_DOMAIN};

std::string profileName(NET_FW_PROFILE_TYPE2 profile) {
    switch (profile) {
        case NET_FW_PROFILE2_DOMAIN:
            return "domain_network";
        case NET_FW_PROFILE2_PRIVATE:
            return "private_network";
        case NET_FW_PROFILE2_PUBLIC:
            return "public_network";
        case NET_FW_PROFILE2_ALL:
            return "all_networks";
    }
    return std::to_string(static_cast<long>(profile));
}

FWProfileDefaults& profileOf(FWNetworkDefaultsSettings& settings, NET_FW_PROFILE_TYPE2 profile) {
    return profile == NET_FW_PROFILE2_PUBLIC    ? settings.public_network
           : profile == NET_FW_PROFILE2_PRIVATE ? settings.private_network
                                                : settings.domain_network;
}

std::string valueText(VARIANT_BOOL value) {
    return value == VARIANT_TRUE ? "true" : "false";
}

std::string valueText(NET_FW_ACTION value) {
    return value == NET_FW_ACTION_ALLOW   ? "allow"
           : value == NET_FW_ACTION_BLOCK ? "block"
                                          : std::to_string(static_cast<int>(value));
}

VARIANT_BOOL variantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

NET_FW_ACTION action(bool allow) {
    return allow ? NET_FW_ACTION_ALLOW : NET_FW_ACTION_BLOCK;
}

// One put with its debug line before and its error line after a failure.
template <class Value>
bool put(INetFwPolicy2* policy,
         HRESULT (STDMETHODCALLTYPE INetFwPolicy2::*putter)(NET_FW_PROFILE_TYPE2, Value),
         const char* name, NET_FW_PROFILE_TYPE2 profile, Value value) {
    TARN_LOG_TAG(TarnPyxLogging::LevelDebug, "FwStateManager::applyDefaultNetworkSettings")
        << "Call " << name << "(" << profileName(profile) << ", " << valueText(value) << ")";
    if (const HRESULT hr = (policy->*putter)(profile, value); FAILED(hr)) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, "FwStateManager::applyDefaultNetworkSettings")
            << name << " failed with error: " << tarn::comErrorMessage(hr);
        return false;
    }
    return true;
}

}  // namespace

bool getSettingFromWinFirewall(INetFwPolicy2* policy, NET_FW_PROFILE_TYPE2 profile,
                               BoolProfileGetter getter, const char* getterName,
                               VARIANT_BOOL expected, bool fallback) {
    if (policy == nullptr) {
        return fallback;
    }
    VARIANT_BOOL value = VARIANT_FALSE;
    if (const HRESULT hr = (policy->*getter)(profile, &value); FAILED(hr)) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, "getSettingFromWinFirewall")
            << getterName << " failed with error: " << tarn::comErrorMessage(hr);
        return fallback;
    }
    return value == expected;
}

bool getSettingFromWinFirewall(INetFwPolicy2* policy, NET_FW_PROFILE_TYPE2 profile,
                               ActionProfileGetter getter, const char* getterName, bool fallback) {
    if (policy == nullptr) {
        return fallback;
    }
    NET_FW_ACTION value = NET_FW_ACTION_BLOCK;
    if (const HRESULT hr = (policy->*getter)(profile, &value); FAILED(hr)) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, "getSettingFromWinFirewall")
            << getterName << " failed with error: " << tarn::comErrorMessage(hr);
        return fallback;
    }
    return value == NET_FW_ACTION_ALLOW;
}

FwStateManager::FwStateManager(std::shared_ptr<IFWSettingsProvider> provider,
                               std::shared_ptr<FwPolicyHolder> policy,
                               const FWCurrentSettings* current)
    : m_policy(std::move(policy)), m_provider(std::move(provider)), m_current(current) {}

void FwStateManager::applyNetworkSettings(const FWCurrentSettings& settings) {
    const bool recorded = m_provider->isFirewallEnabledStatus();
    if (settings.firewallEnabled != recorded) {
        if (!settings.firewallEnabled) {
            restoreNetworkSettings();
            return;
        }
        saveNetworkSettings();
    }
    applyDefaultNetworkSettings(NET_FW_PROFILE2_PUBLIC, settings.networkDefaults.public_network,
                                true);
    applyDefaultNetworkSettings(NET_FW_PROFILE2_PRIVATE, settings.networkDefaults.private_network,
                                true);
    applyDefaultNetworkSettings(NET_FW_PROFILE2_DOMAIN, settings.networkDefaults.domain_network,
                                true);
}

void FwStateManager::saveNetworkSettings() {
    INetFwPolicy2* policy = m_policy ? m_policy->policy() : nullptr;
    if (policy == nullptr) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "FW policy pointer is invalid";
        return;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Save actual fw settings to ORRERY";
    FWNetworkDefaultsSettings saved;
    for (const NET_FW_PROFILE_TYPE2 profile : kProfiles) {
        FWProfileDefaults& p = profileOf(saved, profile);
        p.fw_enabled =
            getSettingFromWinFirewall(policy, profile, &INetFwPolicy2::get_FirewallEnabled,
                                      "get_FirewallEnabled", VARIANT_TRUE, p.fw_enabled);
        p.block_all_inbound = getSettingFromWinFirewall(
            policy, profile, &INetFwPolicy2::get_BlockAllInboundTraffic,
            "get_BlockAllInboundTraffic", VARIANT_TRUE, p.block_all_inbound);
        p.allow_unknown_inbound =
            getSettingFromWinFirewall(policy, profile, &INetFwPolicy2::get_DefaultInboundAction,
                                      "get_DefaultInboundAction", p.allow_unknown_inbound);
        p.allow_unknown_outbound =
            getSettingFromWinFirewall(policy, profile, &INetFwPolicy2::get_DefaultOutboundAction,
                                      "get_DefaultOutboundAction", p.allow_unknown_outbound);
        p.allow_interactive_notifications = getSettingFromWinFirewall(
            policy, profile, &INetFwPolicy2::get_NotificationsDisabled, "get_NotificationsDisabled",
            VARIANT_FALSE, p.allow_interactive_notifications);
        p.allow_unicast_responses_to_multicast = getSettingFromWinFirewall(
            policy, profile, &INetFwPolicy2::get_UnicastResponsesToMulticastBroadcastDisabled,
            "get_UnicastResponsesToMulticastBroadcastDisabled", VARIANT_FALSE,
            p.allow_unicast_responses_to_multicast);
    }
    m_provider->storeOldNetworkSettings(saved);
}

void FwStateManager::restoreNetworkSettings() {
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Restore fw settings from ORRERY";
    const FWNetworkDefaultsSettings saved = m_provider->getOldNetworkSettings();
    applyDefaultNetworkSettings(NET_FW_PROFILE2_PUBLIC, saved.public_network, false);
    applyDefaultNetworkSettings(NET_FW_PROFILE2_PRIVATE, saved.private_network, false);
    applyDefaultNetworkSettings(NET_FW_PROFILE2_DOMAIN, saved.domain_network, false);
}

void FwStateManager::applyDefaultNetworkSettings(NET_FW_PROFILE_TYPE2 profile,
                                                 const FWProfileDefaults& defaults, bool applying) {
    INetFwPolicy2* policy = m_policy ? m_policy->policy() : nullptr;
    if (policy == nullptr) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "FW policy pointer is invalid";
        return;
    }
    if (!applying) {
        put(policy, &INetFwPolicy2::put_FirewallEnabled, "put_FirewallEnabled", profile,
            variantBool(defaults.fw_enabled));
    } else {
        if (m_current != nullptr && !m_current->firewallEnabled) {
            return;
        }
        // A profile that is switched off keeps its other five properties.
        if ((m_current != nullptr && !m_current->winfwEnabled) || !defaults.fw_enabled) {
            put(policy, &INetFwPolicy2::put_FirewallEnabled, "put_FirewallEnabled", profile,
                VARIANT_FALSE);
            return;
        }
        put(policy, &INetFwPolicy2::put_FirewallEnabled, "put_FirewallEnabled", profile,
            VARIANT_TRUE);
    }
    put(policy, &INetFwPolicy2::put_BlockAllInboundTraffic, "put_BlockAllInboundTraffic", profile,
        variantBool(defaults.block_all_inbound));
    put(policy, &INetFwPolicy2::put_DefaultInboundAction, "put_DefaultInboundAction", profile,
        action(defaults.allow_unknown_inbound));
    put(policy, &INetFwPolicy2::put_DefaultOutboundAction, "put_DefaultOutboundAction", profile,
        action(defaults.allow_unknown_outbound));
    put(policy, &INetFwPolicy2::put_NotificationsDisabled, "put_NotificationsDisabled", profile,
        variantBool(!defaults.allow_interactive_notifications));
    put(policy, &INetFwPolicy2::put_UnicastResponsesToMulticastBroadcastDisabled,
        "put_UnicastResponsesToMulticastBroadcastDisabled", profile,
        variantBool(!defaults.allow_unicast_responses_to_multicast));
}
