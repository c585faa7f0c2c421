// The host's name, domain and DNS servers; a handle over one immutable implementation.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/IPAddress.h"

namespace tarn::net {

namespace detail {

class NetworkParamsImpl {
public:
    virtual ~NetworkParamsImpl() = default;
    virtual std::vector<IPAddress> getDnsServers() const = 0;
    virtual std::string getHostName() const = 0;
    virtual std::string getDomainName() const = 0;
};

// The parameters as GetNetworkParams reports them, copied out of the record.
class WinNetworkParams : public NetworkParamsImpl {
public:
    explicit WinNetworkParams(const FIXED_INFO& info);

    std::vector<IPAddress> getDnsServers() const override { return m_dnsServers; }
    std::string getHostName() const override { return m_hostName; }
    std::string getDomainName() const override { return m_domainName; }

private:
    std::string m_hostName;
    std::string m_domainName;
    std::vector<IPAddress> m_dnsServers;
};

}  // namespace detail

class NetworkParams {
public:
    explicit NetworkParams(std::shared_ptr<const detail::NetworkParamsImpl> impl)
        : m_impl(std::move(impl)) {}

    std::vector<IPAddress> getDnsServers() const { return m_impl->getDnsServers(); }
    std::string getHostName() const { return m_impl->getHostName(); }
    std::string getDomainName() const { return m_impl->getDomainName(); }

private:
    std::shared_ptr<const detail::NetworkParamsImpl> m_impl;
};

}  // namespace tarn::net
