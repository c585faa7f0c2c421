// Addresses from the socket addresses that the system's functions report.
#include <cstring>

#include "common/exceptions/ErrorCodeException.h"
#include "net/IPAddress.h"

namespace tarn::net {

IPAddress IPAddress::create(const SOCKADDR* address) {
    constexpr const wchar_t* kFunction = L"tarn::net::IPAddress::create";
    if (address == nullptr) {
        throw Win32Exception(ERROR_BAD_ARGUMENTS, nullptr, kFunction, L"SocketAddress", __LINE__);
    }
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const SOCKADDR_IN*>(address);
        uint32_t value = 0;
        std::memcpy(&value, &in->sin_addr, 4);
        return IPAddress(std::make_shared<details::IPv4Address>(value));
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const SOCKADDR_IN6*>(address);
        uint8_t bytes[16];
        std::memcpy(bytes, &in6->sin6_addr, 16);
        return IPAddress(std::make_shared<details::IPv6Address>(bytes));
    }
    throw SocketException(WSAEAFNOSUPPORT, nullptr, kFunction, L"SocketAddress", __LINE__);
}

}  // namespace tarn::net
