// Adapters and a network centre made up by a test, for what builds on the system's answers.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/NetworkCenter.h"

namespace tarn::test {

struct FakeAdapterData {
    std::string name;
    std::vector<std::wstring> unicast;  // "a.b.c.d/prefix"
    std::vector<std::wstring> gateways;
    bool dhcp = false;
    std::wstring dhcpServer;  // empty: none
    std::vector<std::wstring> wins;
};

class FakeAdapter : public net::detail::IPAdapterImpl {
public:
    explicit FakeAdapter(FakeAdapterData data) : m_data(std::move(data)) {}

    std::string getName() const override { return m_data.name; }
    std::string getDescription() const override { return m_data.name; }
    std::vector<uint8_t> getPhysicalAddress() const override { return {}; }
    std::vector<net::IPAddress> getUnicastAddresses() const override {
        std::vector<net::IPAddress> out;
        for (const auto& text : m_data.unicast) {
            out.push_back(net::IPAddress::create(text.substr(0, text.find(L'/'))));
        }
        return out;
    }
    std::vector<net::IPNetwork> getNetworks() const override {
        std::vector<net::IPNetwork> out;
        for (const auto& text : m_data.unicast) {
            const size_t slash = text.find(L'/');
            out.push_back(net::IPNetwork::create(net::IPAddress::create(text.substr(0, slash)),
                                                 std::stoul(text.substr(slash + 1))));
        }
        return out;
    }
    std::vector<net::IPAddress> getGateways() const override { return addresses(m_data.gateways); }
    bool isDhcpEnabled() const override { return m_data.dhcp; }
    net::IPAddress getDhcpServer() const override { return optional(m_data.dhcpServer); }
    bool hasWinsServer() const override { return !m_data.wins.empty(); }
    net::IPAddress getPrimaryWinsServer() const override {
        return optional(m_data.wins.empty() ? L"" : m_data.wins[0]);
    }
    net::IPAddress getSecondaryWinsServer() const override {
        return optional(m_data.wins.size() < 2 ? L"" : m_data.wins[1]);
    }

private:
    static std::vector<net::IPAddress> addresses(const std::vector<std::wstring>& texts) {
        std::vector<net::IPAddress> out;
        for (const auto& text : texts) {
            out.push_back(net::IPAddress::create(text));
        }
        return out;
    }
    static net::IPAddress optional(const std::wstring& text) {
        return text.empty() ? net::IPAddress() : net::IPAddress::create(text);
    }

    FakeAdapterData m_data;
};

class FakeParams : public net::detail::NetworkParamsImpl {
public:
    explicit FakeParams(std::vector<std::wstring> dns) : m_dns(std::move(dns)) {}
    std::vector<net::IPAddress> getDnsServers() const override {
        std::vector<net::IPAddress> out;
        for (const auto& text : m_dns) {
            out.push_back(net::IPAddress::create(text));
        }
        return out;
    }
    std::string getHostName() const override { return "fake"; }
    std::string getDomainName() const override { return ""; }

private:
    std::vector<std::wstring> m_dns;
};

// What the test sets is what the next query answers; `failure` makes the queries throw.
class FakeCenter : public net::detail::NetworkCenterImpl {
public:
    std::vector<FakeAdapterData> adapters;
    std::vector<std::wstring> dns;
    std::string failure;

    std::vector<net::IPAdapter> retrieveAdaptersInfo() const override {
        if (!failure.empty()) {
            throw std::runtime_error(failure);
        }
        std::vector<net::IPAdapter> out;
        for (const auto& data : adapters) {
            out.emplace_back(std::make_shared<FakeAdapter>(data));
        }
        return out;
    }
    using net::detail::NetworkCenterImpl::retrieveAdaptersInfo;
    net::NetworkParams retrieveNetworkInfo() const override {
        return net::NetworkParams(std::make_shared<FakeParams>(dns));
    }
};

}  // namespace tarn::test
