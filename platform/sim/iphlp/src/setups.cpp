// Network descriptions as data: the JSON form of the machine's network and the prepared
// setups of the tests and the demo, written in that form.
#include <map>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "sim/iphlp_control.h"
#include "sim/win/iphlp.h"

namespace sim::iphlp {

namespace {

using nlohmann::json;

uint32_t adapterType(const json& value) {
    if (value.is_number_unsigned()) {
        return value.get<uint32_t>();
    }
    static const std::map<std::string, uint32_t, std::less<>> names = {
        {"ethernet", IF_TYPE_ETHERNET_CSMACD},
        {"wifi", IF_TYPE_IEEE80211},
        {"ppp", IF_TYPE_PPP},
        {"loopback", IF_TYPE_SOFTWARE_LOOPBACK},
        {"virtual", IF_TYPE_PROP_VIRTUAL},
        {"tunnel", IF_TYPE_TUNNEL}};
    const auto found = names.find(value.get<std::string>());
    if (found == names.end()) {
        throw std::invalid_argument("unknown adapter type " + value.dump());
    }
    return found->second;
}

// "00-15-5D-4A-10-07" (or with colons).
std::vector<uint8_t> physicalAddress(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 3) {
        size_t used = 0;
        const unsigned long byte = std::stoul(text.substr(i, 2), &used, 16);
        if (used != 2 || (i + 2 < text.size() && text[i + 2] != '-' && text[i + 2] != ':')) {
            throw std::invalid_argument("no physical address: \"" + text + "\"");
        }
        out.push_back(static_cast<uint8_t>(byte));
    }
    return out;
}

template <class T>
void read(const json& object, const char* key, T& field) {
    if (const auto it = object.find(key); it != object.end()) {
        field = it->get<T>();
    }
}

Adapter adapterFrom(const json& object) {
    Adapter adapter;
    read(object, "name", adapter.name);
    read(object, "description", adapter.description);
    read(object, "friendly_name", adapter.friendlyName);
    if (const auto it = object.find("type"); it != object.end()) {
        adapter.type = adapterType(*it);
    }
    read(object, "up", adapter.up);
    if (const auto it = object.find("mac"); it != object.end()) {
        adapter.physicalAddress = physicalAddress(it->get<std::string>());
    }
    read(object, "unicast", adapter.unicast);
    read(object, "gateways", adapter.gateways);
    read(object, "dhcp", adapter.dhcpEnabled);
    read(object, "dhcp_server", adapter.dhcpServer);
    read(object, "wins", adapter.winsServers);
    read(object, "dns", adapter.dnsServers);
    read(object, "dns_suffix", adapter.dnsSuffix);
    return adapter;
}

// The adapters of the prepared setups.
constexpr const char* kLoopback = R"json({
    "name": "{6A3B1F4E-0000-4C1D-9E2B-000000000001}", "type": "loopback",
    "description": "Software Loopback Interface 1", "friendly_name": "Loopback Pseudo-Interface 1",
    "unicast": ["127.0.0.1/8"]})json";

constexpr const char* kOfficeLan = R"json({
    "name": "{4F1C2A77-8B0E-4E4F-A2D1-3C5B9E0D7A11}", "type": "ethernet",
    "description": "Intel(R) Ethernet Connection I219-LM", "friendly_name": "Ethernet",
    "mac": "00-15-5D-4A-10-07", "dns_suffix": "corp.example.com",
    "unicast": ["10.20.4.37/22"], "gateways": ["10.20.4.1"],
    "dhcp": true, "dhcp_server": "10.20.1.5",
    "wins": ["10.20.1.7", "10.20.1.8"], "dns": ["10.20.1.2", "10.20.1.3"]})json";

constexpr const char* kHomeWifi = R"json({
    "name": "{9D2E5B31-6C4A-4B8F-8E17-2A9F0C3D5E22}", "type": "wifi",
    "description": "Intel(R) Wi-Fi 6 AX201 160MHz", "friendly_name": "Wi-Fi",
    "mac": "3C-A9-F4-12-7B-5E", "dns_suffix": "home",
    "unicast": ["192.168.1.23/24"], "gateways": ["192.168.1.1"],
    "dhcp": true, "dhcp_server": "192.168.1.1", "dns": ["192.168.1.1"]})json";

constexpr const char* kPublicHotspot = R"json({
    "name": "{9D2E5B31-6C4A-4B8F-8E17-2A9F0C3D5E22}", "type": "wifi",
    "description": "Intel(R) Wi-Fi 6 AX201 160MHz", "friendly_name": "Wi-Fi",
    "mac": "3C-A9-F4-12-7B-5E",
    "unicast": ["172.20.131.77/25"], "gateways": ["172.20.131.1"],
    "dhcp": true, "dhcp_server": "172.20.131.1", "dns": ["9.9.9.9", "149.112.112.112"]})json";

constexpr const char* kWifiDown = R"json({
    "name": "{9D2E5B31-6C4A-4B8F-8E17-2A9F0C3D5E22}", "type": "wifi",
    "description": "Intel(R) Wi-Fi 6 AX201 160MHz", "friendly_name": "Wi-Fi",
    "mac": "3C-A9-F4-12-7B-5E", "up": false, "dhcp": true})json";

// The corporate VPN's adapter routes everything through the tunnel: Windows shows its
// gateway as 0.0.0.0.
constexpr const char* kVpn = R"json({
    "name": "{E1B7C0D4-2F3A-4A6B-9C8D-5F4E3D2C1B33}", "type": "ppp",
    "description": "WAN Miniport (IKEv2)", "friendly_name": "Corporate VPN",
    "dns_suffix": "corp.example.com",
    "unicast": ["10.99.0.14/32"], "gateways": ["0.0.0.0"],
    "dns": ["10.20.1.2", "10.20.1.3"]})json";

struct Setup {
    const char* domain;
    std::vector<const char*> adapters;
};

const std::map<std::string, Setup, std::less<>>& setups() {
    static const std::map<std::string, Setup, std::less<>> all = {
        {"office-lan", {"corp.example.com", {kLoopback, kOfficeLan}}},
        {"office-lan+vpn", {"corp.example.com", {kLoopback, kOfficeLan, kVpn}}},
        {"home-wifi", {"", {kLoopback, kHomeWifi}}},
        {"home-wifi+vpn", {"", {kLoopback, kHomeWifi, kVpn}}},
        {"public-hotspot", {"", {kLoopback, kPublicHotspot}}},
        {"public-hotspot+vpn", {"", {kLoopback, kPublicHotspot, kVpn}}},
        {"no-network", {"", {kLoopback, kWifiDown}}},
    };
    return all;
}

}  // namespace

Network parseNetwork(std::string_view text) {
    try {
        const json description = json::parse(text);
        Network network;
        read(description, "host_name", network.hostName);
        read(description, "domain_name", network.domainName);
        for (const auto& adapter : description.value("adapters", json::array())) {
            network.adapters.push_back(adapterFrom(adapter));
        }
        return network;
    } catch (const json::exception& e) {
        throw std::invalid_argument(std::string("no network description: ") + e.what());
    } catch (const std::logic_error& e) {  // std::stoul's refusals
        throw std::invalid_argument(std::string("no network description: ") + e.what());
    }
}

std::vector<std::string> setupNames() {
    std::vector<std::string> names;
    for (const auto& [name, setup] : setups()) {
        names.push_back(name);
    }
    return names;
}

std::string setupDescription(std::string_view name) {
    const auto found = setups().find(name);
    if (found == setups().end()) {
        throw std::invalid_argument("no network setup \"" + std::string(name) + "\"");
    }
    std::string adapters;
    for (const char* adapter : found->second.adapters) {
        adapters += (adapters.empty() ? "" : ", ") + std::string(adapter);
    }
    return R"({"host_name": "WS-0412", "domain_name": ")" + std::string(found->second.domain) +
           R"(", "adapters": [)" + adapters + "]}";
}

}  // namespace sim::iphlp
