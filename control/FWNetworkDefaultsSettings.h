// The six per-profile switches of the three Windows network profiles, as the policy dictates
// them per settings profile and as Windows had them before management began; their JSON form.
#pragma once

#include <nlohmann/json.hpp>

#include "standin/orrery/PyxOrrery.h"

struct FWProfileDefaults {
    bool fw_enabled = true;
    bool block_all_inbound = false;
    bool allow_unknown_inbound = false;
    bool allow_unknown_outbound = true;
    bool allow_interactive_notifications = true;
    bool allow_unicast_responses_to_multicast = true;

    bool operator==(const FWProfileDefaults&) const = default;
};

struct FWNetworkDefaultsSettings {
    FWProfileDefaults public_network;   // NET_FW_PROFILE2_PUBLIC (4)
    FWProfileDefaults private_network;  // NET_FW_PROFILE2_PRIVATE (2)
    FWProfileDefaults domain_network;   // NET_FW_PROFILE2_DOMAIN (1)

    bool operator==(const FWNetworkDefaultsSettings&) const = default;

    // The record of a settings profile from its "defaults" member. With network isolation
    // every profile is forced to: firewall on, block-all off, unknown inbound and outbound
    // traffic blocked, notifications and unicast responses allowed, whatever the JSON says.
    // Without it the JSON is read; a member of the wrong type throws the JSON library's type
    // error.
    static FWNetworkDefaultsSettings fromProfileDefaults(const nlohmann::json& defaults,
                                                         bool networkIsolationEnabled);
    // The same from a profile object of the store; the defaults when its "defaults" member
    // is missing or cannot be read (logged by Orrery).
    static FWNetworkDefaultsSettings readFromProfile(PyxOrreryObject profile,
                                                     bool networkIsolationEnabled);
};

// JSON: each profile reads onto its defaults (a missing key keeps its default; a value that
// is not an object keeps all six); writing gives all three profiles with all six keys.
void to_json(nlohmann::json& j, const FWProfileDefaults& value);
void from_json(const nlohmann::json& j, FWProfileDefaults& value);
void to_json(nlohmann::json& j, const FWNetworkDefaultsSettings& value);
void from_json(const nlohmann::json& j, FWNetworkDefaultsSettings& value);
