// A network adapter with its IPv4 configuration; a handle over one immutable implementation.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/IPAddress.h"
#include "net/IPNetwork.h"

namespace tarn::net {

namespace detail {

class IPAdapterImpl {
public:
    virtual ~IPAdapterImpl() = default;
    // It has an address and its first address is neither 0.0.0.0, 127.0.0.1 nor link-local.
    virtual bool isUsable() const;
    virtual std::string getName() const = 0;
    virtual std::string getDescription() const = 0;
    virtual std::vector<uint8_t> getPhysicalAddress() const = 0;
    virtual std::vector<IPAddress> getUnicastAddresses() const = 0;
    virtual std::vector<IPNetwork> getNetworks() const = 0;
    virtual std::vector<IPAddress> getGateways() const = 0;
    virtual bool isDhcpEnabled() const = 0;
    // The optional servers read 0.0.0.0 when the adapter has none.
    virtual IPAddress getDhcpServer() const = 0;
    virtual bool hasWinsServer() const = 0;
    virtual IPAddress getPrimaryWinsServer() const = 0;
    virtual IPAddress getSecondaryWinsServer() const = 0;
};

// An adapter as GetAdaptersAddresses reports it; everything is copied out of the record.
class WinIpV4Adapter : public IPAdapterImpl {
public:
    explicit WinIpV4Adapter(const IP_ADAPTER_ADDRESSES& record);

    std::string getName() const override { return m_name; }
    std::string getDescription() const override { return m_description; }
    std::vector<uint8_t> getPhysicalAddress() const override { return m_physicalAddress; }
    std::vector<IPAddress> getUnicastAddresses() const override { return m_unicast; }
    std::vector<IPNetwork> getNetworks() const override { return m_networks; }
    std::vector<IPAddress> getGateways() const override { return m_gateways; }
    bool isDhcpEnabled() const override { return m_dhcpEnabled; }
    IPAddress getDhcpServer() const override { return m_dhcpServer.value_or(IPAddress()); }
    bool hasWinsServer() const override { return m_primaryWins.has_value(); }
    IPAddress getPrimaryWinsServer() const override { return m_primaryWins.value_or(IPAddress()); }
    IPAddress getSecondaryWinsServer() const override {
        return m_secondaryWins.value_or(IPAddress());
    }

private:
    std::string m_name;
    std::string m_description;
    std::vector<uint8_t> m_physicalAddress;
    std::vector<IPAddress> m_unicast;
    std::vector<IPAddress> m_gateways;
    bool m_dhcpEnabled;
    std::optional<IPAddress> m_dhcpServer;
    std::optional<IPAddress> m_primaryWins;
    std::optional<IPAddress> m_secondaryWins;
    std::vector<IPNetwork> m_networks;
};

}  // namespace detail

class IPAdapter {
public:
    explicit IPAdapter(std::shared_ptr<const detail::IPAdapterImpl> impl)
        : m_impl(std::move(impl)) {}

    bool isUsable() const { return m_impl->isUsable(); }
    std::string getName() const { return m_impl->getName(); }
    std::string getDescription() const { return m_impl->getDescription(); }
    std::vector<uint8_t> getPhysicalAddress() const { return m_impl->getPhysicalAddress(); }
    std::vector<IPAddress> getUnicastAddresses() const { return m_impl->getUnicastAddresses(); }
    std::vector<IPNetwork> getNetworks() const { return m_impl->getNetworks(); }
    std::vector<IPAddress> getGateways() const { return m_impl->getGateways(); }
    bool isDhcpEnabled() const { return m_impl->isDhcpEnabled(); }
    IPAddress getDhcpServer() const { return m_impl->getDhcpServer(); }
    bool hasWinsServer() const { return m_impl->hasWinsServer(); }
    IPAddress getPrimaryWinsServer() const { return m_impl->getPrimaryWinsServer(); }
    IPAddress getSecondaryWinsServer() const { return m_impl->getSecondaryWinsServer(); }

private:
    std::shared_ptr<const detail::IPAdapterImpl> m_impl;
};

}  // namespace tarn::net
