// An IPv4 network: an address and a prefix length; a handle over one immutable
// implementation.
#pragma once

#include <cstdint>
#include <memory>

#include "net/IPAddress.h"

namespace tarn::net {

class IPNetwork;

namespace detail {

class IPNetworkImpl {
public:
    virtual ~IPNetworkImpl() = default;
    virtual IPAddress getAddress() const = 0;
    virtual IPAddress getBroadcastAddress() const = 0;
    virtual IPAddress getNetmask() const = 0;
    virtual IPAddress getNetworkAddress() const = 0;
    // Whether every address of `network` lies in this one.
    virtual bool contains(const IPNetwork& network) const = 0;
    virtual bool contains(const IPAddress& address) const = 0;
    virtual unsigned getPrefixLength() const = 0;
};

class IPv4Network : public IPNetworkImpl {
public:
    // The address as given (not masked).
    IPv4Network(const IPAddress& address, unsigned prefixLength);
    // The prefix length counted from a netmask: std::invalid_argument "non-contiguous
    // netmask" for set bits after the first clear byte, std::out_of_range "non-contiguous
    // netmask" for a byte that is no prefix of ones.
    IPv4Network(const IPAddress& address, const IPAddress& netmask);

    IPAddress getAddress() const override { return m_address; }
    IPAddress getBroadcastAddress() const override;
    IPAddress getNetmask() const override;
    IPAddress getNetworkAddress() const override;
    bool contains(const IPNetwork& network) const override;
    bool contains(const IPAddress& address) const override;
    unsigned getPrefixLength() const override { return m_prefixLength; }

private:
    uint32_t mask() const;  // host order

    IPAddress m_address;
    uint16_t m_prefixLength;
};

}  // namespace detail

class IPNetwork {
public:
    explicit IPNetwork(std::shared_ptr<const detail::IPNetworkImpl> impl)
        : m_impl(std::move(impl)) {}

    // BaseException "Unsupported network address family (should be
    // AddressFamily::InterNetwork)" for an address that is not IPv4; std::out_of_range
    // "Prefix length too large" above 32.
    static IPNetwork create(const IPAddress& address, unsigned prefixLength);

    IPAddress getAddress() const { return m_impl->getAddress(); }
    IPAddress getBroadcastAddress() const { return m_impl->getBroadcastAddress(); }
    IPAddress getNetmask() const { return m_impl->getNetmask(); }
    IPAddress getNetworkAddress() const { return m_impl->getNetworkAddress(); }
    bool contains(const IPNetwork& network) const { return m_impl->contains(network); }
    bool contains(const IPAddress& address) const { return m_impl->contains(address); }
    unsigned getPrefixLength() const { return m_impl->getPrefixLength(); }

private:
    std::shared_ptr<const detail::IPNetworkImpl> m_impl;
};

// The IPv4 address as a number in host order (0 for an IPv6 address).
uint32_t hostOrderValue(const IPAddress& address);

}  // namespace tarn::net
