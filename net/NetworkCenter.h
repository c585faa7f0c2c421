// What the host's network looks like now: its adapters and its network parameters. Each call
// asks the system afresh; failures of the system's functions throw Win32Exception.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "net/IPAdapter.h"
#include "net/NetworkParams.h"

namespace tarn::net {

namespace detail {

class NetworkCenterImpl {
public:
    virtual ~NetworkCenterImpl() = default;
    virtual std::vector<IPAdapter> retrieveAdaptersInfo() const = 0;
    virtual std::vector<IPAdapter> retrieveAdaptersInfo(
        const std::function<bool(const IPAdapter&)>& predicate) const;
    virtual NetworkParams retrieveNetworkInfo() const = 0;
};

// Over GetAdaptersAddresses (IPv4) and GetNetworkParams.
class WinNetworkCenter : public NetworkCenterImpl {
public:
    std::vector<IPAdapter> retrieveAdaptersInfo() const override;
    using NetworkCenterImpl::retrieveAdaptersInfo;
    NetworkParams retrieveNetworkInfo() const override;
};

}  // namespace detail

class NetworkCenter {
public:
    // On the system's functions.
    NetworkCenter();
    explicit NetworkCenter(std::shared_ptr<const detail::NetworkCenterImpl> impl)
        : m_impl(std::move(impl)) {}

    // Every adapter, or only the usable ones, in the system's order.
    std::vector<IPAdapter> getAdapters(bool onlyUsable) const;
    NetworkParams getNetworkParams() const { return m_impl->retrieveNetworkInfo(); }

private:
    std::shared_ptr<const detail::NetworkCenterImpl> m_impl;
};

}  // namespace tarn::net
