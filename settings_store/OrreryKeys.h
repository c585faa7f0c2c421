// Every key of the settings store that the system reads (R), writes (W), deletes (D) or
// subscribes to (S), with its type and the default of a read; the rest of the system names
// keys only through these constants. Keys are dotted paths: a subscription to an object key
// also reports each key below it by its full name.
#pragma once

#include <array>

namespace tarn::keys {

// Handles: the user and the client names under which the system opens the store.
inline constexpr const wchar_t* kSystemUserSid = L"S-1-5-18";
inline constexpr const wchar_t* kReadClientName = L"tarn_managgeable_win_firewall";
inline constexpr const wchar_t* kWriteClientName = L"tarn_managgeable_win_firewall_set";
inline constexpr const wchar_t* kConnectClientName = L"tarn_manageable_win_firewall connect";

// --- Policy (written by the management) and local values --------------------------------

// bool R, default true: wait for the first online update before starting.
inline constexpr const wchar_t* kRequireOnlineOrreryProfile =
    L"windows.firewall.require_online_orrery_profile";
// array of profile objects R S, no default (an error is logged).
inline constexpr const wchar_t* kProfiles = L"windows.firewall.profiles";
// string R D S, default "": its read-only bit is queried before it is deleted.
inline constexpr const wchar_t* kCurrentProfileName = L"windows.firewall.current_profile_name";
// string R W S, default "": written through the write handle.
inline constexpr const wchar_t* kCurrentAutoselectedProfileName =
    L"windows.firewall.current_autoselected_profile_name";
// bool R W S, default false: written false through the write handle.
inline constexpr const wchar_t* kCurrentProfileNameChangedByUser =
    L"windows.firewall.current_profile_name_changed_by_user";
// object R S, default: the default selection settings.
inline constexpr const wchar_t* kAutomaticProfileSelection =
    L"windows.firewall.automatic_profile_selection";
// bool R, default false.
inline constexpr const wchar_t* kAutomaticProfileSelectionEnabled =
    L"windows.firewall.automatic_profile_selection.enabled";
// bool R S, default true.
inline constexpr const wchar_t* kFirewallEnabled = L"windows.firewall.enabled";
// bool R S, default true.
inline constexpr const wchar_t* kWinFwEnabled = L"windows.firewall.winfw_enabled";
// bool R, default false.
inline constexpr const wchar_t* kCanApplyDefaultInboundRules =
    L"windows.firewall.can_apply_default_inbound_rules";
// any value S: a change re-applies everything.
inline constexpr const wchar_t* kTriggerSettingsReapply =
    L"windows.firewall.trigger_settings_reapply";
// any value S: a change re-applies the rules.
inline constexpr const wchar_t* kTriggerFiltersReapply =
    L"windows.firewall.trigger_filters_reapply";
// object (also a profile object) R S, no default (an error is logged).
inline constexpr const wchar_t* kNetworkIsolation = L"windows.firewall.network_isolation";
// bool R, read with default true as a cached setting; "not found" counts as false.
inline constexpr const wchar_t* kNetworkIsolationEnabled =
    L"windows.firewall.network_isolation.enabled";
// bool R, as the previous key.
inline constexpr const wchar_t* kNetworkIsolationLocalEnabled =
    L"windows.firewall.network_isolation.local.enabled";
// string R, default "".
inline constexpr const wchar_t* kNetworkIsolationProfileName =
    L"windows.firewall.network_isolation.profile_name";
// bool R, default true.
inline constexpr const wchar_t* kNetworkIsolationAllowOtherRules =
    L"windows.firewall.network_isolation.allow_other_rules";
// bool R S, default false.
inline constexpr const wchar_t* kSensorEnabled = L"windows.sensor.enabled";
// string R, default "": preferred management server address when not empty.
inline constexpr const wchar_t* kCommandPostOverrideAddressHost =
    L"windows.command_post.override_address.host";
// string R, default "".
inline constexpr const wchar_t* kCommandPostAddressHost = L"windows.command_post.address.host";
// object R S, default: the default Lanshare settings.
inline constexpr const wchar_t* kLanshare = L"windows.ferry2.lanshare";
// object S: a change re-reads the rules.
inline constexpr const wchar_t* kLanshareAllowRules = L"local.windows.ferry2.lanshare.allow_rules";
// int32 R W, default -1: written through the write handle.
inline constexpr const wchar_t* kLanshareAllowRulesPort =
    L"local.windows.ferry2.lanshare.allow_rules.port";
// bool R W, default false.
inline constexpr const wchar_t* kLanshareAllowRulesClientEnabled =
    L"local.windows.ferry2.lanshare.allow_rules.client_enabled";
// bool R W, default false.
inline constexpr const wchar_t* kLanshareAllowRulesServerEnabled =
    L"local.windows.ferry2.lanshare.allow_rules.server_enabled";
// string R W, default "".
inline constexpr const wchar_t* kLanshareAllowRulesSubnet =
    L"local.windows.ferry2.lanshare.allow_rules.subnet";

// --- Status (reported by the system; a few read from other components) ------------------

// int64 R, default 0: the start waits until it is not 0.
inline constexpr const wchar_t* kLastSuccessfulUpdateTimestamp =
    L"status.windows.orrery.last_successful_update_timestamp";
// string R S, default "": "AllSecurityDisabled" switches the firewall off.
inline constexpr const wchar_t* kComputerSecurityProtectionStatus =
    L"status.windows.av.computer_security_protection_status";
// string W: the current profile name.
inline constexpr const wchar_t* kStatusCurrentSecurityLevel =
    L"status.windows.firewall.current_security_level";
// string W: the current profile's visible name.
inline constexpr const wchar_t* kStatusCurrentSecurityLevelName =
    L"status.windows.firewall.current_security_level_name";
// bool W.
inline constexpr const wchar_t* kStatusCombinedEnabled =
    L"status.windows.firewall.combined.enabled";
// bool R W, default false.
inline constexpr const wchar_t* kStatusFirewallEnabled = L"status.windows.firewall.enabled";
// bool R W, default false.
inline constexpr const wchar_t* kStatusWinFwEnabled = L"status.windows.firewall.winfw_enabled";
// bool W: the combined group-policy state is not "disabled".
inline constexpr const wchar_t* kStatusEnabledByGpo = L"status.windows.firewall.enabled_by_gpo";
// string W: "enabled", "disabled" or "unconfigured".
inline constexpr const wchar_t* kStatusFwGpoState = L"status.windows.firewall.fw_gpo_state";
// string W, per profile, the same words.
inline constexpr const wchar_t* kStatusFwGpoStatePrivate =
    L"status.windows.firewall.fw_gpo_state_details.private_network";
inline constexpr const wchar_t* kStatusFwGpoStatePublic =
    L"status.windows.firewall.fw_gpo_state_details.public_network";
inline constexpr const wchar_t* kStatusFwGpoStateDomain =
    L"status.windows.firewall.fw_gpo_state_details.domain_network";
// bool R W, default false: isolation active.
inline constexpr const wchar_t* kStatusNetworkIsolationEnabled =
    L"status.windows.firewall.network_isolation.enabled";
// bool R W, default false: the isolation flag of the current settings.
inline constexpr const wchar_t* kStatusNetworkIsolationProfileIsolation =
    L"status.windows.firewall.network_isolation.profile_isolation";
// bool R S, default false (another component).
inline constexpr const wchar_t* kStatusNetworkIsolationDnsIsolation =
    L"status.windows.firewall.network_isolation.dns_isolation";
// array of strings R S, default [] (another component).
inline constexpr const wchar_t* kStatusWhitelistedProcesses =
    L"status.windows.firewall.network_isolation.whitelisted_processes";
// array of strings R S, default [] (another component); joined to the previous list.
inline constexpr const wchar_t* kStatusAdditionalWhitelistedProcesses =
    L"status.windows.firewall.network_isolation.additional_whitelisted_processes";
// array of strings W: host names resolved from allow rules.
inline constexpr const wchar_t* kStatusAllowedDnsFromRules =
    L"status.windows.firewall.network_isolation.allowed_dns_from_rules";
// bool R W, default false: the old built-in inbound rules were removed.
inline constexpr const wchar_t* kStatusOldInboundRulesDeleted =
    L"status.windows.firewall.old_inbound_rules_deleted";
// object (network defaults record) R W, absent by default: the Windows values saved before
// the first change.
inline constexpr const wchar_t* kStatusOldNetworkDefaults =
    L"status.windows.firewall.old_fw_network_settings.defaults";
// The four rule-name lists (arrays of strings R W, default []), written through the write
// handle.
inline constexpr const wchar_t* kStatusInstalledRules = L"status.windows.firewall.installed_rules";
inline constexpr const wchar_t* kStatusInstalledSylphRules =
    L"status.windows.firewall.installed_sylph_rules";
inline constexpr const wchar_t* kStatusDisabledOtherRules =
    L"status.windows.firewall.network_isolation.disabled_other_rules";
inline constexpr const wchar_t* kStatusRulesForSendingAlerts =
    L"status.windows.firewall.rules_for_sending_alerts";

// The rule-name lists kept by CachedRuleNamesLists.
inline constexpr std::array<const wchar_t*, 4> kRuleNameLists = {
    kStatusInstalledRules, kStatusInstalledSylphRules, kStatusDisabledOtherRules,
    kStatusRulesForSendingAlerts};

// The keys subscribed to at start, in this order.
inline constexpr std::array<const wchar_t*, 17> kSubscribedKeys = {
    kComputerSecurityProtectionStatus,
    kTriggerFiltersReapply,
    kTriggerSettingsReapply,
    kProfiles,
    kCurrentProfileName,
    kCurrentAutoselectedProfileName,
    kCurrentProfileNameChangedByUser,
    kWinFwEnabled,
    kFirewallEnabled,
    kAutomaticProfileSelection,
    kNetworkIsolation,
    kStatusNetworkIsolationDnsIsolation,
    kSensorEnabled,
    kStatusWhitelistedProcesses,
    kStatusAdditionalWhitelistedProcesses,
    kLanshare,
    kLanshareAllowRules,
};

}  // namespace tarn::keys
