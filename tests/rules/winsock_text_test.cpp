// The address text conversions as Windows does them; runs against the simulated machine and,
// under wine, against Windows' own implementation.
#include <gtest/gtest.h>

#include <cstring>

#include "common/Str.h"
#include "platform/win.h"

namespace {

class WinsockText : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
        EXPECT_EQ(data.wVersion, MAKEWORD(2, 0));
    }
    void TearDown() override { EXPECT_EQ(WSACleanup(), 0); }
};

std::wstring addressText(const void* address, size_t size) {
    WCHAR text[128];
    DWORD length = 128;
    SOCKADDR_IN6 copy{};
    std::memcpy(&copy, address, size);
    if (WSAAddressToStringW(reinterpret_cast<LPSOCKADDR>(&copy), static_cast<DWORD>(size), nullptr,
                            text, &length) != 0) {
        return L"error " + std::to_wstring(WSAGetLastError());
    }
    EXPECT_EQ(length, std::wcslen(text) + 1);
    return text;
}

std::wstring ipv6Text(std::initializer_list<uint16_t> groups, ULONG scope = 0, USHORT port = 0) {
    SOCKADDR_IN6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_scope_id = scope;
    address.sin6_port = static_cast<USHORT>((port >> 8) | (port << 8));
    size_t i = 0;
    for (const uint16_t group : groups) {
        address.sin6_addr.u.Byte[i++] = static_cast<UCHAR>(group >> 8);
        address.sin6_addr.u.Byte[i++] = static_cast<UCHAR>(group);
    }
    return addressText(&address, sizeof address);
}

TEST_F(WinsockText, IPv6SocketAddressesReadAsWindowsWritesThem) {
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0, 0, 0, 0}), L"::");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0, 0, 0, 1}), L"::1");
    EXPECT_EQ(ipv6Text({0xfe80, 0, 0, 0, 0, 0, 0, 1}, 12), L"fe80::1%12");
    EXPECT_EQ(ipv6Text({0x20ab, 0, 0, 0, 0, 0, 0, 0x2001}, 0x1234, 33274),
              L"[20ab::2001%4660]:33274");
    EXPECT_EQ(ipv6Text({0x1111, 0, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888}),
              L"1111:0:3333:4444:5555:6666:7777:8888");  // one zero group stays
    EXPECT_EQ(ipv6Text({0x3ffe, 0xb00, 0, 0, 1, 0, 0, 0xa}), L"3ffe:b00::1:0:0:a");
    EXPECT_EQ(ipv6Text({0x2001, 0xDB8, 0, 0, 0, 0, 0xABCD, 0x12}), L"2001:db8::abcd:12");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0, 0, 0x0d01, 0x4403}), L"::13.1.68.3");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0, 0xffff, 0x0d01, 0x4403}), L"::ffff:13.1.68.3");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0, 0xffff, 0, 0x4403}), L"::ffff:0:4403");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0xffff, 0, 0x0d01, 0x4403}), L"::ffff:0:13.1.68.3");
    EXPECT_EQ(ipv6Text({0x1111, 0, 0, 0, 0, 0x5efe, 0x8190, 0x3426}), L"1111::5efe:129.144.52.38");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0x300, 0x5efe, 0x8190, 0x3426}), L"::300:5efe:8190:3426");
    EXPECT_EQ(ipv6Text({0, 0, 0, 0, 0, 0, 0, 0xffff}), L"::ffff");
}

TEST_F(WinsockText, IPv4SocketAddresses) {
    SOCKADDR_IN address{};
    address.sin_family = AF_INET;
    address.sin_addr.S_un.S_un_b = {10, 1, 2, 3};
    EXPECT_EQ(addressText(&address, sizeof address), L"10.1.2.3");
    address.sin_port = 0xFFFF;
    EXPECT_EQ(addressText(&address, sizeof address), L"10.1.2.3:65535");
}

int pton(int family, const wchar_t* text) {
    IN6_ADDR address{};
    return InetPtonW(family, text, &address);
}

TEST_F(WinsockText, InetPtonIsStrict) {
    for (const auto* text : {L"1.1.1.1", L"255.255.255.255", L"0.0.0.0"}) {
        EXPECT_EQ(pton(AF_INET, text), 1) << tarn::str::toUtf8(text);
    }
    for (const auto* text : {L"1.1.1.010", L"1.1.1.00", L"1.2.3", L"3.4.5.6 ", L" 3.4.5.6",
                             L"256.1.1.1", L"0x1.1.1.1", L"::1"}) {
        EXPECT_EQ(pton(AF_INET, text), 0) << tarn::str::toUtf8(text);
    }
    for (const auto* text : {L"::", L"1:2:3:4:5:6:7:8", L"1:2:3:4:5:6:7::", L"::ffff:1.2.3.4",
                             L"1::001.2.3.4", L"0000:0:0:0:0:0:0:0"}) {
        EXPECT_EQ(pton(AF_INET6, text), 1) << tarn::str::toUtf8(text);
    }
    for (const auto* text :
         {L"1::0001.2.3.4", L"::%16", L"::/16", L"1::2::3", L"1:2:3:4:5:6:7:8:9", L"1111:2222:",
          L":1::", L"12345::", L"1:2:3:4:5:6::1.2.3.4", L"1.2.3.4", L"[::1]"}) {
        EXPECT_EQ(pton(AF_INET6, text), 0) << tarn::str::toUtf8(text);
    }
    IN6_ADDR mapped{};
    ASSERT_EQ(InetPtonW(AF_INET6, L"::FFFF:1.2.3.4", &mapped), 1);
    EXPECT_EQ(mapped.u.Byte[10], 0xFF);
    EXPECT_EQ(mapped.u.Byte[15], 4);
    WCHAR text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(InetNtopW(AF_INET6, &mapped, text, INET6_ADDRSTRLEN), L"::ffff:1.2.3.4");
    EXPECT_EQ(InetNtopW(AF_INET6, &mapped, text, 5), nullptr);
    EXPECT_EQ(InetPtonW(AF_UNSPEC, L"1.2.3.4", &mapped), -1);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

}  // namespace
