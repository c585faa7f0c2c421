#include "net/IPAddress.h"

#include <cstring>
#include <optional>

#include "net/WinSocketInitializer.h"

namespace tarn::net {

namespace {

// Winsock runs while the library is loaded: the text conversions need it. Should it not
// start, the texts read empty and parse as the all-zero address.
struct LibraryWinsock {
    LibraryWinsock() {
        try {
            winsock.emplace(2, 2);
        } catch (const std::exception&) {
        }
    }
    std::optional<WinSocketInitializer> winsock;
} libraryWinsock;

}  // namespace

namespace details {

std::wstring IPAddressImpl::toString() const {
    const SocketAddress address = getSocketAddress();
    SOCKADDR_IN in{};
    SOCKADDR_IN6 in6{};
    SOCKADDR* socket = nullptr;
    DWORD length = 0;
    if (address.family == AF_INET) {
        in.sin_family = AF_INET;
        std::memcpy(&in.sin_addr, address.bytes.data(), 4);
        socket = reinterpret_cast<SOCKADDR*>(&in);
        length = sizeof in;
    } else {
        in6.sin6_family = AF_INET6;
        std::memcpy(&in6.sin6_addr, address.bytes.data(), 16);
        socket = reinterpret_cast<SOCKADDR*>(&in6);
        length = sizeof in6;
    }
    wchar_t text[512] = {};
    DWORD size = 512;
    if (WSAAddressToStringW(socket, length, nullptr, text, &size) != 0) {
        return {};
    }
    return text;
}

SocketAddress IPv4Address::getSocketAddress() const {
    return {AF_INET, getBytes()};
}

bool IPv4Address::isLoopback() const {
    return getBytes() == std::vector<uint8_t>{127, 0, 0, 1};
}

std::vector<uint8_t> IPv4Address::getBytes() const {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &m_address, 4);
    return bytes;
}

IPv6Address::IPv6Address(const uint8_t (&bytes)[16]) {
    std::memcpy(m_bytes, bytes, 16);
}

SocketAddress IPv6Address::getSocketAddress() const {
    return {AF_INET6, getBytes()};
}

bool IPv6Address::isLoopback() const {
    static constexpr uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(m_bytes, kLoopback, 16) == 0;
}

std::vector<uint8_t> IPv6Address::getBytes() const {
    return {std::begin(m_bytes), std::end(m_bytes)};
}

}  // namespace details

IPAddress::IPAddress() : m_impl(std::make_shared<details::IPv4Address>()) {}

IPAddress::IPAddress(std::shared_ptr<const details::IPAddressImpl> impl)
    : m_impl(std::move(impl)) {}

IPAddress IPAddress::create(const std::wstring& text) {
    const bool ipv6 =
        text.find(L':') != std::wstring::npos && text.find(L'.') == std::wstring::npos;
    std::wstring buffer = text;  // the function takes a writable text
    if (ipv6) {
        SOCKADDR_IN6 address{};
        INT length = sizeof address;
        if (WSAStringToAddressW(buffer.data(), AF_INET6, nullptr,
                                reinterpret_cast<SOCKADDR*>(&address), &length) != 0) {
            address = {};
        }
        uint8_t bytes[16];
        std::memcpy(bytes, &address.sin6_addr, 16);
        return IPAddress(std::make_shared<details::IPv6Address>(bytes));
    }
    SOCKADDR_IN address{};
    INT length = sizeof address;
    if (WSAStringToAddressW(buffer.data(), AF_INET, nullptr, reinterpret_cast<SOCKADDR*>(&address),
                            &length) != 0) {
        address = {};
    }
    uint32_t value = 0;
    std::memcpy(&value, &address.sin_addr, 4);
    return IPAddress(std::make_shared<details::IPv4Address>(value));
}

IPAddress IPAddress::fromHostOrder(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, bytes, 4);
    return IPAddress(std::make_shared<details::IPv4Address>(networkOrder));
}

bool IPAddress::operator==(const IPAddress& other) const {
    return m_impl == other.m_impl || getBytes() == other.getBytes();
}

}  // namespace tarn::net
