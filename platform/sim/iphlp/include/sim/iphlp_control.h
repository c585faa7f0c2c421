// Test-control side of the simulated IP helper: the machine's network adapters and
// parameters, set up from structures, from a JSON description or by the name of a prepared
// setup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim::iphlp {

// One adapter. Texts are UTF-8; addresses dotted IPv4. What an adapter reports is what it
// holds: a disconnected adapter is described with operational state down and, as Windows
// shows it, without addresses.
struct Adapter {
    std::string name;  // AdapterName, usually a GUID in braces
    std::string description;
    std::string friendlyName;
    uint32_t type = 6;  // IF_TYPE_*: 6 Ethernet, 71 Wi-Fi, 23 PPP, 24 loopback, 53 virtual
    bool up = true;     // IfOperStatusUp, else IfOperStatusDown
    std::vector<uint8_t> physicalAddress;
    std::vector<std::string> unicast;  // "a.b.c.d/prefix"
    std::vector<std::string> gateways;
    bool dhcpEnabled = false;
    std::string dhcpServer;  // empty: no lease
    std::vector<std::string> winsServers;
    std::vector<std::string> dnsServers;
    std::string dnsSuffix;
};

struct Network {
    std::string hostName = "WS-0412";
    std::string domainName;
    std::vector<Adapter> adapters;  // in the order Windows lists them
};

// The machine's network from now on. Throws std::invalid_argument for an address text that
// is no dotted IPv4 address (or prefix above 32), naming it.
void setNetwork(const Network& network);
Network network();

// A network described as JSON:
//   {"host_name": "WS-0412", "domain_name": "corp.example.com",
//    "adapters": [{"name": "{...}", "description": "...", "friendly_name": "Ethernet",
//                  "type": "ethernet" | "wifi" | "ppp" | "loopback" | "virtual" | 6,
//                  "up": true, "mac": "00-15-5D-4A-10-07", "unicast": ["10.20.4.37/22"],
//                  "gateways": [...], "dhcp": true, "dhcp_server": "10.20.1.5",
//                  "wins": [...], "dns": [...], "dns_suffix": "corp.example.com"}]}
// Missing members keep the defaults of the structures. Throws std::invalid_argument with
// the reason for a text that is no such description.
Network parseNetwork(std::string_view json);

// The prepared setups, each with the loopback adapter first:
//   "office-lan"      wired, DHCP, 10.20.4.37/22, gateway 10.20.4.1 of the domain
//                     corp.example.com, its DHCP, WINS and DNS servers
//   "home-wifi"       Wi-Fi, DHCP, 192.168.1.23/24 behind the home router 192.168.1.1
//   "public-hotspot"  Wi-Fi, DHCP, 172.20.131.77/25, public DNS servers
//   "office-lan+vpn", "home-wifi+vpn", "public-hotspot+vpn"
//                     the same with the corporate VPN's PPP adapter after it
//   "no-network"      the loopback adapter and a Wi-Fi adapter that is down
// The machine starts (and resets to) "office-lan".
std::vector<std::string> setupNames();
// The JSON description of a prepared setup; throws std::invalid_argument for another name.
std::string setupDescription(std::string_view name);
void useSetup(std::string_view name);

// The next call of `api` ("GetAdaptersAddresses" or "GetNetworkParams") answers from the
// current network; right after it the machine's network becomes `next`, as when the network
// changes between a caller's two calls.
void changeAfterNextCall(std::string_view api, const Network& next);

}  // namespace sim::iphlp
