// The policy of the product's peer distribution (Lanshare): which sides run, on which port,
// and the discovery address that tells the local network the traffic is limited to.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

struct LanshareSettings {
    bool serverEnabled = false;
    bool clientEnabled = false;
    int32_t port = -1;
    std::wstring discoveryAddress;

    bool operator==(const LanshareSettings&) const = default;
};

// A value that is not an object keeps the defaults; a missing key keeps its default; a value
// of the wrong type throws the JSON library's type error, and a "port" that is not a 32-bit
// integer std::out_of_range.
void from_json(const nlohmann::json& j, LanshareSettings& value);
void to_json(nlohmann::json& j, const LanshareSettings& value);
