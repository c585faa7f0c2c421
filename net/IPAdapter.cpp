#include "net/IPAdapter.h"

#include <algorithm>

#include "common/Str.h"

namespace tarn::net::detail {

namespace {

template <class Record>
std::vector<IPAddress> addressesOf(const Record* first) {
    std::vector<IPAddress> out;
    for (const Record* record = first; record != nullptr; record = record->Next) {
        out.push_back(IPAddress::create(record->Address.lpSockaddr));
    }
    return out;
}

}  // namespace

bool IPAdapterImpl::isUsable() const {
    const std::vector<IPAddress> unicast = getUnicastAddresses();
    if (unicast.empty()) {
        return false;
    }
    const IPAddress& first = unicast.front();
    static const IPNetwork linkLocal = IPNetwork::create(IPAddress::fromHostOrder(0xA9FE0000), 16);
    return !(first == IPAddress()) && !first.isLoopback() && !linkLocal.contains(first);
}

WinIpV4Adapter::WinIpV4Adapter(const IP_ADAPTER_ADDRESSES& record)
    : m_name(record.AdapterName == nullptr ? "" : record.AdapterName),
      m_description(record.Description == nullptr ? "" : str::toMultibyte(record.Description)),
      m_physicalAddress(record.PhysicalAddress,
                        record.PhysicalAddress + std::min<ULONG>(record.PhysicalAddressLength,
                                                                 MAX_ADAPTER_ADDRESS_LENGTH)),
      m_gateways(addressesOf(record.FirstGatewayAddress)),
      m_dhcpEnabled((record.Flags & IP_ADAPTER_DHCP_ENABLED) != 0) {
    for (const auto* unicast = record.FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
        m_unicast.push_back(IPAddress::create(unicast->Address.lpSockaddr));
        m_networks.push_back(IPNetwork::create(m_unicast.back(), unicast->OnLinkPrefixLength));
    }
    if (m_dhcpEnabled && record.Dhcpv4Server.lpSockaddr != nullptr) {
        m_dhcpServer = IPAddress::create(record.Dhcpv4Server.lpSockaddr);
    }
    const auto* wins = record.FirstWinsServerAddress;
    if (wins != nullptr) {
        m_primaryWins = IPAddress::create(wins->Address.lpSockaddr);
        if (wins->Next != nullptr) {
            m_secondaryWins = IPAddress::create(wins->Next->Address.lpSockaddr);
        }
    }
}

}  // namespace tarn::net::detail
