#include "profile_selection/NetworkSettings.h"

#include <utility>

#include "common/Str.h"
#include "common/logging/Log.h"

namespace {

const std::wstring kNoAddress = L"0.0.0.0";

// Appends the address unless it is 0.0.0.0, which is how a missing server reads.
void appendAddress(std::vector<std::wstring>& list, const tarn::net::IPAddress& address) {
    std::wstring text = address.toString();
    if (text != kNoAddress) {
        list.push_back(std::move(text));
    }
}

std::string listText(const std::vector<std::wstring>& list) {
    std::string text = "vector(" + std::to_string(list.size()) + ") -> [";
    for (size_t i = 0; i < list.size(); ++i) {
        text += (i == 0 ? "" : ", ") + tarn::str::toUtf8(list[i]);
    }
    return text + "]";
}

}  // namespace

void NetworkSettings::Data::logNetworkSettings() const {
    TARN_LOG(TarnPyxLogging::LevelInfo)
        << "gw: " << listText(gateways) << ", wins: " << listText(winsServers)
        << ", dns: " << listText(dnsServers) << ", dhcp: " << listText(dhcpServers)
        << ", network: " << listText(networks);
}

tarn::net::NetworkCenter NetworkSettings::createNetworkCenter() {
    return tarn::net::NetworkCenter();
}

bool NetworkSettings::gather(const tarn::net::NetworkCenter& center) {
    const auto adapters = center.getAdapters(true);
    const auto dnsServers = center.getNetworkParams().getDnsServers();
    if (adapters.empty()) {
        return false;
    }
    for (const auto& server : dnsServers) {
        appendAddress(m_data.dnsServers, server);
    }
    for (const auto& adapter : adapters) {
        if (adapter.isDhcpEnabled()) {
            appendAddress(m_data.dhcpServers, adapter.getDhcpServer());
        }
        for (const auto& network : adapter.getNetworks()) {
            const std::wstring first = network.getNetworkAddress().toString();
            const std::wstring last = network.getBroadcastAddress().toString();
            if (first != kNoAddress && last != kNoAddress) {
                m_data.networks.push_back(first + L" " + last);
            }
        }
        if (adapter.hasWinsServer()) {
            appendAddress(m_data.winsServers, adapter.getPrimaryWinsServer());
            appendAddress(m_data.winsServers, adapter.getSecondaryWinsServer());
        }
        for (const auto& gateway : adapter.getGateways()) {
            appendAddress(m_data.gateways, gateway);
        }
    }
    return true;
}

bool NetworkSettings::refresh() {
    std::lock_guard lock(m_mutex);
    const Data old = std::exchange(m_data, Data{});
    try {
        if (!m_center) {
            m_center = createNetworkCenter();
        }
        if (!gather(*m_center)) {
            return false;  // no usable adapter: the lists stay empty
        }
    } catch (const std::exception& e) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Getting of adapters or DNS servers info failed: " << e.what();
        return false;
    }
    if (m_data == old) {
        return false;
    }
    m_data.logNetworkSettings();
    return true;
}

std::vector<std::wstring> NetworkSettings::copyOf(std::vector<std::wstring> Data::*list) const {
    std::lock_guard lock(m_mutex);
    return m_data.*list;
}

std::vector<std::wstring> NetworkSettings::getGateways() const {
    return copyOf(&Data::gateways);
}

std::vector<std::wstring> NetworkSettings::getWinsServers() const {
    return copyOf(&Data::winsServers);
}

std::vector<std::wstring> NetworkSettings::getDnsServers() const {
    return copyOf(&Data::dnsServers);
}

std::vector<std::wstring> NetworkSettings::getDhcpServers() const {
    return copyOf(&Data::dhcpServers);
}

std::vector<std::wstring> NetworkSettings::getNetworks() const {
    return copyOf(&Data::networks);
}
