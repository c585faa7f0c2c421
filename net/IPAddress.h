// An IPv4 or IPv6 address: a handle that shares one immutable implementation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/SocketAddress.h"
#include "platform/win.h"

namespace tarn::net {

namespace details {

class IPAddressImpl {
public:
    virtual ~IPAddressImpl() = default;
    virtual SocketAddress getSocketAddress() const = 0;
    // The Winsock text form; empty when Winsock cannot write it.
    virtual std::wstring toString() const;
    virtual bool isLoopback() const = 0;
    virtual std::vector<uint8_t> getBytes() const = 0;
};

// One address in network byte order.
class IPv4Address : public IPAddressImpl {
public:
    explicit IPv4Address(uint32_t networkOrder = 0) : m_address(networkOrder) {}
    SocketAddress getSocketAddress() const override;
    bool isLoopback() const override;  // exactly 127.0.0.1
    std::vector<uint8_t> getBytes() const override;
    uint32_t value() const { return m_address; }

private:
    uint32_t m_address;
};

class IPv6Address : public IPAddressImpl {
public:
    explicit IPv6Address(const uint8_t (&bytes)[16]);
    SocketAddress getSocketAddress() const override;
    bool isLoopback() const override;  // exactly ::1
    std::vector<uint8_t> getBytes() const override;

private:
    uint8_t m_bytes[16];
};

}  // namespace details

class IPAddress {
public:
    // 0.0.0.0.
    IPAddress();
    explicit IPAddress(std::shared_ptr<const details::IPAddressImpl> impl);

    // A text with ':' and no '.' is read as IPv6, any other as IPv4; a text that is no
    // address gives the all-zero address of that family. Never throws.
    static IPAddress create(const std::wstring& text);
    // From a socket address: ErrorCodeException<Win32ErrorCategory> ERROR_BAD_ARGUMENTS for
    // a null pointer, SocketException WSAEAFNOSUPPORT for a family other than IPv4 or IPv6.
    static IPAddress create(const SOCKADDR* address);
    // From a 32-bit value in host byte order (192.168.1.1 is 0xC0A80101).
    static IPAddress fromHostOrder(uint32_t value);

    SocketAddress getSocketAddress() const { return m_impl->getSocketAddress(); }
    std::wstring toString() const { return m_impl->toString(); }
    bool isLoopback() const { return m_impl->isLoopback(); }
    std::vector<uint8_t> getBytes() const { return m_impl->getBytes(); }
    bool isIPv4() const { return getSocketAddress().family == AF_INET; }

    // The same object, or the same bytes (an IPv4 and an IPv6 address never compare equal).
    bool operator==(const IPAddress& other) const;

private:
    std::shared_ptr<const details::IPAddressImpl> m_impl;
};

}  // namespace tarn::net
