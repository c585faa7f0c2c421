#include "profile_selection/LanshareSettings.h"

#include "settings_store/JsonWide.h"

namespace {

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
    readMember(j, "port", value.port);
    readMember(j, "discovery_address", value.discoveryAddress);
}

void to_json(nlohmann::json& j, const LanshareSettings& value) {
    j = nlohmann::json{{"server_enabled", value.serverEnabled},
                       {"client_enabled", value.clientEnabled},
                       {"port", value.port},
                       {"discovery_address", value.discoveryAddress}};
}
