#include "control/FWNetworkDefaultsSettings.h"

#include <utility>

#include "settings_store/Orrery.h"

namespace {

using Field = bool FWProfileDefaults::*;

constexpr std::pair<const char*, Field> kFields[] = {
    {"fw_enabled", &FWProfileDefaults::fw_enabled},
    {"block_all_inbound", &FWProfileDefaults::block_all_inbound},
    {"allow_unknown_inbound", &FWProfileDefaults::allow_unknown_inbound},
    {"allow_unknown_outbound", &FWProfileDefaults::allow_unknown_outbound},
    {"allow_interactive_notifications", &FWProfileDefaults::allow_interactive_notifications},
    {"allow_unicast_responses_to_multicast",
     &FWProfileDefaults::allow_unicast_responses_to_multicast},
};

using Profile = FWProfileDefaults FWNetworkDefaultsSettings::*;

constexpr std::pair<const char*, Profile> kProfiles[] = {
    {"public_network", &FWNetworkDefaultsSettings::public_network},
    {"private_network", &FWNetworkDefaultsSettings::private_network},
    {"domain_network", &FWNetworkDefaultsSettings::domain_network},
};

FWProfileDefaults isolatedProfile() {
    FWProfileDefaults profile;
    profile.fw_enabled = true;
    profile.block_all_inbound = false;
    profile.allow_unknown_inbound = false;
    profile.allow_unknown_outbound = false;
    return profile;
}

FWNetworkDefaultsSettings isolatedSettings() {
    FWNetworkDefaultsSettings settings;
    for (const auto& [name, profile] : kProfiles) {
        settings.*profile = isolatedProfile();
    }
    return settings;
}

}  // namespace

void to_json(nlohmann::json& j, const FWProfileDefaults& value) {
    j = nlohmann::json::object();
    for (const auto& [name, field] : kFields) {
        j[name] = value.*field;
    }
}

void from_json(const nlohmann::json& j, FWProfileDefaults& value) {
    if (!j.is_object()) {
        return;
    }
    for (const auto& [name, field] : kFields) {
        if (const auto member = j.find(name); member != j.end()) {
            value.*field = member->get<bool>();
        }
    }
}

void to_json(nlohmann::json& j, const FWNetworkDefaultsSettings& value) {
    j = nlohmann::json::object();
    for (const auto& [name, profile] : kProfiles) {
        j[name] = value.*profile;
    }
}

void from_json(const nlohmann::json& j, FWNetworkDefaultsSettings& value) {
    if (!j.is_object()) {
        return;
    }
    for (const auto& [name, profile] : kProfiles) {
        FWProfileDefaults read;  // a missing or non-object profile keeps its defaults
        if (const auto member = j.find(name); member != j.end()) {
            from_json(*member, read);
        }
        value.*profile = read;
    }
}

FWNetworkDefaultsSettings FWNetworkDefaultsSettings::fromProfileDefaults(
    const nlohmann::json& defaults, bool networkIsolationEnabled) {
    if (networkIsolationEnabled) {
        return isolatedSettings();
    }
    FWNetworkDefaultsSettings settings;
    from_json(defaults, settings);
    return settings;
}

FWNetworkDefaultsSettings FWNetworkDefaultsSettings::readFromProfile(PyxOrreryObject profile,
                                                                     bool networkIsolationEnabled) {
    if (networkIsolationEnabled) {
        return isolatedSettings();
    }
    return Orrery::getSubObjFromOrreryObject<FWNetworkDefaultsSettings>(
        profile, L"defaults", FWNetworkDefaultsSettings{});
}
