#include "profile_selection/LanshareSettings.h"

#include <limits>
#include <stdexcept>

#include "settings_store/JsonWide.h"

namespace {

// Only a 32-bit integer is a port: the JSON library would turn 2^32+8080 into 8080, 8080.9
// into 8080 and true into 1, and the firewall would then open that port.
int32_t portOf(const nlohmann::json& value) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const bool fits = (value.is_number_unsigned() && value.get<uint64_t>() <= uint64_t{kMax}) ||
                      (value.is_number_integer() && !value.is_number_unsigned() &&
                       value.get<int64_t>() >= kMin && value.get<int64_t>() <= kMax);
    if (!fits) {
        throw std::out_of_range("port is not a 32-bit integer: " + value.dump());
    }
    return static_cast<int32_t>(value.get<int64_t>());
}

template <typename T>
void readMember(const nlohmann::json& j, const char* key, T& field) {
    if (const auto it = j.find(key); it != j.end()) {
        field = it->get<T>();
    }
}

}  // namespace

void from_json(const nlohmann::json& j, LanshareSettings& value) {
    if (!j.is_object()) {
        return;
    }
    readMember(j, "server_enabled", value.serverEnabled);
    readMember(j, "client_enabled", value.clientEnabled);
    if (const auto port = j.find("port"); port != j.end()) {
        value.port = portOf(*port);
    }
    readMember(j, "discovery_address", value.discoveryAddress);
}

void to_json(nlohmann::json& j, const LanshareSettings& value) {
    j = nlohmann::json{{"server_enabled", value.serverEnabled},
                       {"client_enabled", value.clientEnabled},
                       {"port", value.port},
                       {"discovery_address", value.discoveryAddress}};
}
