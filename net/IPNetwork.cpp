#include "net/IPNetwork.h"

#include <stdexcept>

#include "common/exceptions/BaseException.h"

namespace tarn::net {

uint32_t hostOrderValue(const IPAddress& address) {
    const std::vector<uint8_t> bytes = address.getBytes();
    if (bytes.size() != 4) {
        return 0;
    }
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

namespace detail {

namespace {

// The prefix bits of one netmask byte, or -1 for a byte that is no prefix of ones.
int prefixBits(uint8_t byte) {
    for (int bits = 0; bits <= 8; ++bits) {
        if (byte == static_cast<uint8_t>(0xFF00 >> bits)) {
            return bits;
        }
    }
    return -1;
}

uint16_t prefixOfNetmask(const IPAddress& netmask) {
    uint16_t prefix = 0;
    bool ended = false;
    for (const uint8_t byte : netmask.getBytes()) {
        if (ended) {
            if (byte != 0) {
                throw std::invalid_argument("non-contiguous netmask");
            }
            continue;
        }
        const int bits = prefixBits(byte);
        if (bits < 0) {
            throw std::out_of_range("non-contiguous netmask");
        }
        prefix = static_cast<uint16_t>(prefix + bits);
        ended = bits < 8;
    }
    return prefix;
}

}  // namespace

IPv4Network::IPv4Network(const IPAddress& address, unsigned prefixLength)
    : m_address(address), m_prefixLength(static_cast<uint16_t>(prefixLength)) {}

IPv4Network::IPv4Network(const IPAddress& address, const IPAddress& netmask)
    : m_address(address), m_prefixLength(prefixOfNetmask(netmask)) {}

uint32_t IPv4Network::mask() const {
    return m_prefixLength == 0 ? 0 : ~uint32_t{0} << (32 - m_prefixLength);
}

IPAddress IPv4Network::getNetmask() const {
    return IPAddress::fromHostOrder(mask());
}

IPAddress IPv4Network::getNetworkAddress() const {
    return IPAddress::fromHostOrder(hostOrderValue(m_address) & mask());
}

IPAddress IPv4Network::getBroadcastAddress() const {
    return IPAddress::fromHostOrder((hostOrderValue(m_address) & mask()) | ~mask());
}

bool IPv4Network::contains(const IPAddress& address) const {
    return address.isIPv4() &&
           (hostOrderValue(address) & mask()) == (hostOrderValue(m_address) & mask());
}

bool IPv4Network::contains(const IPNetwork& network) const {
    return network.getPrefixLength() >= m_prefixLength && contains(network.getAddress());
}

}  // namespace detail

IPNetwork IPNetwork::create(const IPAddress& address, unsigned prefixLength) {
    if (!address.isIPv4()) {
        throw BaseException(
            L"Unsupported network address family (should be AddressFamily::InterNetwork)",
            L"tarn::net::IPNetwork::create", L"IPNetwork", __LINE__);
    }
    if (prefixLength > 32) {
        throw std::out_of_range("Prefix length too large");
    }
    return IPNetwork(std::make_shared<detail::IPv4Network>(address, prefixLength));
}

}  // namespace tarn::net
