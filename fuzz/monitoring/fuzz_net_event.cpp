// Raw network-event records, as broken as bytes make them, through the decoding, the event's
// line and the alert payload: nothing is read outside a buffer (AddressSanitizer), every lookup
// result is freed once, and the pieces agree with each other.
//
// Bytes: 64 of header and details, then a text of the filter's name, its description and
// the application identifier (split at 0xFF), and the SID's sub-authorities.
#include <cstdlib>
#include <cstring>
#include <string>

#include "monitoring/FWAlertApi.h"
#include "monitoring/WfpEventInfo.h"
#include "tests/monitoring/FakeFwpm.h"
#include "tests/monitoring/NetEventBuilder.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Reads fixed fields from the front of the input; zeros once it runs out.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    template <typename T>
    T take() {
        T value{};
        const size_t n = std::min(sizeof value, m_size - m_at);
        std::memcpy(&value, m_data + m_at, n);
        m_at += n;
        return value;
    }
    // The rest, split at 0xFF bytes into up to `count` pieces.
    std::vector<std::vector<uint8_t>> pieces(size_t count) {
        std::vector<std::vector<uint8_t>> result(1);
        for (; m_at < m_size; ++m_at) {
            if (m_data[m_at] == 0xFF && result.size() < count) {
                result.emplace_back();
            } else {
                result.back().push_back(m_data[m_at]);
            }
        }
        result.resize(count);
        return result;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

std::optional<std::wstring> textOf(const std::vector<uint8_t>& bytes, bool present) {
    if (!present) {
        return std::nullopt;
    }
    std::wstring text;
    for (const uint8_t byte : bytes) {
        text += static_cast<wchar_t>(byte < 0x80 ? byte : 0xE0 + byte);
    }
    return text;
}

// A SID with the sub-authorities that the bytes give, at most 15, in a buffer of its size.
std::wstring sidText(uint8_t count, const std::vector<uint8_t>& bytes) {
    std::wstring text = L"S-1-5";
    for (size_t i = 0; i < std::min<size_t>(count % 16, bytes.size()); ++i) {
        text += L"-" + std::to_wstring(bytes[i] * 1000u + i);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        WSADATA wsa{};
        return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    }();
    check(started);
    Bytes bytes(data, size);
    const auto type = bytes.take<uint32_t>();
    const auto flags = bytes.take<uint32_t>();
    const auto ipVersion = bytes.take<uint32_t>();
    const auto protocol = bytes.take<uint8_t>();
    const auto switches = bytes.take<uint8_t>();  // which optional parts exist
    const auto localV4 = bytes.take<uint32_t>();
    const auto remoteV4 = bytes.take<uint32_t>();
    const auto localPort = bytes.take<uint16_t>();
    const auto remotePort = bytes.take<uint16_t>();
    const auto filterId = bytes.take<uint16_t>();
    const auto layerId = bytes.take<uint16_t>();
    const auto direction = bytes.take<uint32_t>();
    const auto loopback = bytes.take<int32_t>();
    const auto lookup = bytes.take<uint8_t>();
    const auto sidCount = bytes.take<uint8_t>();
    std::array<uint8_t, 16> v6{};
    for (auto& byte : v6) {
        byte = bytes.take<uint8_t>();
    }
    const auto texts = bytes.pieces(4);

    auto fwpm = std::make_shared<tarn::test::FakeFwpm>();
    fwpm->filters[filterId] = {textOf(texts[0], (switches & 1) != 0),
                               textOf(texts[1], (switches & 2) != 0)};
    fwpm->layers[layerId] = textOf(texts[0], (switches & 4) != 0);
    fwpm->filterAnswer =
        lookup % 3 == 1 ? static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND) : ERROR_SUCCESS;
    fwpm->nullFilter = lookup % 3 == 2;

    tarn::test::NetEventBuilder event;
    event.type(type).protocol(protocol).ports(localPort, remotePort);
    if ((switches & 8) != 0) {
        event.ipv6(v6, v6);
    } else {
        event.ipv4(localV4, remoteV4);
    }
    event.ipVersion(ipVersion).flags(flags);
    event.appIdBytes(texts[2], (switches & 16) != 0);
    if ((switches & 32) != 0) {
        event.userSid(sidText(sidCount, texts[3]));
    }
    if ((switches & 64) != 0) {
        event.classifyDrop(filterId, layerId, direction, loopback);
    } else if ((switches & 128) != 0 && type != FWPM_NET_EVENT_TYPE_CLASSIFY_DROP) {
        event.poisonedDetails();  // a member that no type has: must never be read
    }
    if ((switches & 32) == 0 && (flags & FWPM_NET_EVENT_FLAG_USER_ID_SET) != 0) {
        event.nullUser();
    }
    {
        WfpEventInfo info(event.get(), nullptr, fwpm);
        info.setRuleGroupName(L"Tarn Firewall");
        const std::wstring text = info.toString();
        check(text.size() >= 2 && text.compare(text.size() - 2, 2, L". ") == 0);
        check(info.getIsLoopback().has_value() + info.getRawDirection().has_value() <= 1);
        check(info.isClassifyDrop() == (type == FWPM_NET_EVENT_TYPE_CLASSIFY_DROP));
        check(!info.isClassifyDrop() || info.isDrop());
        check(info.getProtocol().has_value());
        const auto payload = FWAlertApi::ruleTriggeredPayload(info);
        check(!(payload.contains("isLoopback") && payload.contains("ruleDirection")));
        check(payload.contains("ruleName") == info.getFilterName().has_value());
        check(payload.contains("localPort") == info.getLocalPort().has_value());
        check(!payload.dump().empty());
    }
    check(fwpm->live() == 0 && fwpm->badFrees == 0);
    return 0;
}
