// A text snapshot of the host's IPv4 network configuration: gateways, WINS, DNS and DHCP
// servers, and the networks of the usable adapters. Automatic profile selection refreshes it
// and reruns its decisions when it changed; the selection rules and the Lanshare parameters
// read its lists.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/NetworkCenter.h"

class NetworkSettings {
public:
    // The five lists, in the order the adapters were found; duplicates are kept. A network is
    // its network address and broadcast address joined by one space.
    struct Data {
        std::vector<std::wstring> gateways;
        std::vector<std::wstring> winsServers;
        std::vector<std::wstring> dnsServers;
        std::vector<std::wstring> dhcpServers;
        std::vector<std::wstring> networks;

        bool operator==(const Data&) const = default;
        // One informational line with the five lists.
        void logNetworkSettings() const;
    };

    NetworkSettings() = default;
    virtual ~NetworkSettings() = default;
    NetworkSettings(const NetworkSettings&) = delete;
    NetworkSettings& operator=(const NetworkSettings&) = delete;

    // Rebuilds the snapshot from the usable adapters; true when any list changed (the new
    // snapshot is then logged). No usable adapter leaves the lists empty and reports no
    // change; a failure of the system's queries is logged and reports no change.
    virtual bool refresh();
    virtual std::vector<std::wstring> getGateways() const;
    virtual std::vector<std::wstring> getWinsServers() const;
    virtual std::vector<std::wstring> getDnsServers() const;
    virtual std::vector<std::wstring> getDhcpServers() const;
    virtual std::vector<std::wstring> getNetworks() const;

protected:
    // Where the adapters come from; created on the first refresh and kept.
    virtual tarn::net::NetworkCenter createNetworkCenter();

private:
    std::vector<std::wstring> copyOf(std::vector<std::wstring> Data::*list) const;
    // Fills the lists; false when there is no usable adapter.
    bool gather(const tarn::net::NetworkCenter& center);

    mutable std::mutex m_mutex;
    Data m_data;
    std::optional<tarn::net::NetworkCenter> m_center;
};
