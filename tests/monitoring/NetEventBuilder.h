// Network-event records as the filtering engine hands them to a subscriber, built field by
// field for decoding tests and the fuzzer. Buffers are exactly as long as their data, so that
// a read past them is caught by AddressSanitizer.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/wfp.h"

namespace tarn::test {

class NetEventBuilder {
public:
    NetEventBuilder() = default;
    NetEventBuilder(const NetEventBuilder&) = delete;
    NetEventBuilder& operator=(const NetEventBuilder&) = delete;

    // The type as a number (whatever the enumeration of the headers holds).
    NetEventBuilder& type(uint32_t value) {
        std::memcpy(&m_event.type, &value, sizeof value);
        return *this;
    }
    NetEventBuilder& flags(uint32_t value) {
        m_event.header.flags = value;
        return *this;
    }
    NetEventBuilder& addFlags(uint32_t value) { return flags(m_event.header.flags | value); }
    NetEventBuilder& ipVersion(uint32_t value) {
        std::memcpy(&m_event.header.ipVersion, &value, sizeof value);
        return *this;
    }
    NetEventBuilder& protocol(uint8_t value) {
        m_event.header.ipProtocol = value;
        return *this;
    }
    // Host byte order, as the header holds them.
    NetEventBuilder& ipv4(uint32_t local, uint32_t remote) {
        ipVersion(FWP_IP_VERSION_V4);
        m_event.header.localAddrV4 = local;
        m_event.header.remoteAddrV4 = remote;
        return *this;
    }
    NetEventBuilder& ipv6(const std::array<uint8_t, 16>& local,
                          const std::array<uint8_t, 16>& remote) {
        ipVersion(FWP_IP_VERSION_V6);
        std::memcpy(m_event.header.localAddrV6.byteArray16, local.data(), 16);
        std::memcpy(m_event.header.remoteAddrV6.byteArray16, remote.data(), 16);
        return *this;
    }
    NetEventBuilder& ports(uint16_t local, uint16_t remote) {
        m_event.header.localPort = local;
        m_event.header.remotePort = remote;
        return *this;
    }
    // The identifier's bytes exactly; an empty vector with `nullData` leaves data null.
    NetEventBuilder& appIdBytes(const std::vector<uint8_t>& bytes, bool nullData = false) {
        m_appId = copy(bytes);
        m_event.header.appId.size = static_cast<UINT32>(bytes.size());
        m_event.header.appId.data = nullData ? nullptr : m_appId.get();
        return *this;
    }
    // UTF-16LE of the text, with a final NUL when asked.
    NetEventBuilder& appId(const std::wstring& text, bool withNul = true) {
        std::vector<uint8_t> bytes;
        for (const wchar_t c : text) {
            bytes.push_back(static_cast<uint8_t>(c & 0xFF));
            bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
        }
        if (withNul) {
            bytes.push_back(0);
            bytes.push_back(0);
        }
        return appIdBytes(bytes);
    }
    NetEventBuilder& userSid(const std::wstring& text) {
        PSID sid = nullptr;
        if (ConvertStringSidToSidW(text.c_str(), &sid)) {
            const auto* bytes = static_cast<const uint8_t*>(sid);
            m_sid = copy(std::vector<uint8_t>(bytes, bytes + GetLengthSid(sid)));
            LocalFree(sid);
        }
        m_event.header.userId = reinterpret_cast<SID*>(m_sid.get());
        return *this;
    }
    NetEventBuilder& nullUser() {
        m_event.header.userId = nullptr;
        return *this;
    }
    NetEventBuilder& classifyDrop(uint64_t filterId, uint16_t layerId, uint32_t direction,
                                  BOOL loopback = FALSE) {
        m_drop = std::make_unique<FWPM_NET_EVENT_CLASSIFY_DROP1>();
        m_drop->filterId = filterId;
        m_drop->layerId = layerId;
        m_drop->msFwpDirection = direction;
        m_drop->isLoopback = loopback;
        m_event.classifyDrop = m_drop.get();
        return *this;
    }
    // A union pointer that must never be followed (types without a member).
    NetEventBuilder& poisonedDetails() {
        m_event.classifyDrop = reinterpret_cast<FWPM_NET_EVENT_CLASSIFY_DROP1*>(uintptr_t{0x10});
        return *this;
    }

    const FWPM_NET_EVENT1* get() const { return &m_event; }
    FWPM_NET_EVENT1& event() { return m_event; }

private:
    static std::unique_ptr<uint8_t[]> copy(const std::vector<uint8_t>& bytes) {
        if (bytes.empty()) {
            return nullptr;
        }
        auto owned = std::make_unique<uint8_t[]>(bytes.size());
        std::memcpy(owned.get(), bytes.data(), bytes.size());
        return owned;
    }

    FWPM_NET_EVENT1 m_event{};
    std::unique_ptr<uint8_t[]> m_appId;
    std::unique_ptr<uint8_t[]> m_sid;
    std::unique_ptr<FWPM_NET_EVENT_CLASSIFY_DROP1> m_drop;
};

}  // namespace tarn::test
