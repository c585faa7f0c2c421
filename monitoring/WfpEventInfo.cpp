#include "monitoring/WfpEventInfo.h"

#include <array>
#include <cstring>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/logging/Log.h"
#include "monitoring/FwpmRecord.h"

namespace {

// Enumerations of the engine's records read as the numbers they hold: a value outside the
// enumeration (a newer Windows, a broken record) is a number like any other.
template <typename Field>
uint32_t rawValue(const Field& field) {
    static_assert(sizeof(Field) == sizeof(uint32_t));
    uint32_t value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

constexpr std::array<const wchar_t*, 10> kTypeTexts = {
    L"Type: FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE. ",
    L"Type: FWPM_NET_EVENT_TYPE_IKEEXT_QM_FAILURE. ",
    L"Type: FWPM_NET_EVENT_TYPE_IKEEXT_EM_FAILURE. ",
    L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. ",
    L"Type: FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP. ",
    L"Type: FWPM_NET_EVENT_TYPE_IPSEC_DOSP_DROP. ",
    L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW. ",
    L"Type: FWPM_NET_EVENT_TYPE_CAPABILITY_DROP. ",
    L"Type: FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW. ",
    L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC. ",
};

// Decimal text without the wide formatting of the C library, which the hot path cannot afford.
std::wstring decimal(uint64_t value) {
    wchar_t digits[24];
    size_t at = std::size(digits);
    do {
        digits[--at] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(digits + at, std::size(digits) - at);
}

// The protocol texts by number: the IPPROTO names of the Windows SDK, then the number in
// parentheses. Built once, on first use.
const std::array<std::wstring, 256>& protocolTexts() {
    static const std::array<std::wstring, 256> texts = [] {
        std::array<const wchar_t*, 256> names{};
        names.fill(L"UNKNOWN");
        const std::pair<uint8_t, const wchar_t*> known[] = {
            {0, L"HOPOPTS"},  {1, L"ICMP"},      {2, L"IGMP"},     {3, L"GGP"},   {4, L"IPv4"},
            {5, L"ST"},       {6, L"TCP"},       {7, L"CBT"},      {8, L"EGP"},   {9, L"IGP"},
            {12, L"PUP"},     {17, L"UDP"},      {22, L"IDP"},     {27, L"RDP"},  {41, L"IPv6"},
            {43, L"ROUTING"}, {44, L"FRAGMENT"}, {50, L"ESP"},     {51, L"AH"},   {58, L"ICMPv6"},
            {60, L"DSTOPTS"}, {77, L"ND"},       {78, L"ICLFXBM"}, {103, L"PIM"}, {113, L"PGM"},
            {115, L"L2TP"},   {132, L"SCTP"},
        };
        for (const auto& [number, name] : known) {
            names[number] = name;
        }
        std::array<std::wstring, 256> table;
        for (size_t number = 0; number < table.size(); ++number) {
            table[number] = std::wstring(names[number]) + L"(" + decimal(number) + L")";
        }
        return table;
    }();
    return texts;
}

std::optional<std::wstring> addressText(SOCKADDR* address, DWORD length) {
    wchar_t text[64] = {};
    DWORD size = static_cast<DWORD>(std::size(text));
    if (WSAAddressToStringW(address, length, nullptr, text, &size) != 0) {
        return std::nullopt;
    }
    return std::wstring(text);
}

// An IPv4 address of the header (host byte order) as text, through a socket address with
// port 0.
std::optional<std::wstring> ipv4Text(uint32_t hostOrder) {
    SOCKADDR_IN address{};
    address.sin_family = AF_INET;
    address.sin_addr.S_un.S_un_b.s_b1 = static_cast<UCHAR>(hostOrder >> 24);
    address.sin_addr.S_un.S_un_b.s_b2 = static_cast<UCHAR>(hostOrder >> 16);
    address.sin_addr.S_un.S_un_b.s_b3 = static_cast<UCHAR>(hostOrder >> 8);
    address.sin_addr.S_un.S_un_b.s_b4 = static_cast<UCHAR>(hostOrder);
    return addressText(reinterpret_cast<SOCKADDR*>(&address), sizeof address);
}

std::optional<std::wstring> ipv6Text(const FWP_BYTE_ARRAY16& bytes) {
    SOCKADDR_IN6 address{};
    address.sin6_family = AF_INET6;
    std::memcpy(address.sin6_addr.u.Byte, bytes.byteArray16, sizeof bytes.byteArray16);
    return addressText(reinterpret_cast<SOCKADDR*>(&address), sizeof address);
}

// Texts the engine may leave null read as empty.
std::wstring textOrEmpty(const wchar_t* text) {
    return text != nullptr ? std::wstring(text) : std::wstring();
}

const std::wstring& orNullptr(const std::wstring& text) {
    static const std::wstring null = L"nullptr";
    return text.empty() ? null : text;
}

}  // namespace

WfpEventInfo::WfpEventInfo(const FWPM_NET_EVENT1* event, HANDLE engine,
                           std::shared_ptr<IFwpmWrapper> fwpm)
    : m_fwpm(std::move(fwpm)) {
    if (event == nullptr) {
        return;
    }
    initEventType(*event, engine);
    initPorts(event->header);
    initAddresses(event->header);
    m_protocol = protocolText(event->header.ipProtocol);
    initApplication(event->header);
    initEventUserInfo(event->header);
}

WfpEventInfo::~WfpEventInfo() = default;

void WfpEventInfo::initEventType(const FWPM_NET_EVENT1& event, HANDLE engine) {
    m_isDrop = false;
    const uint32_t type = rawValue(event.type);
    m_eventType = type;
    switch (type) {
        case FWPM_NET_EVENT_TYPE_CLASSIFY_DROP:
            m_isClassifyDrop = m_isDrop = true;
            // Only the member that the type names is read, and only when the engine set it.
            if (event.classifyDrop != nullptr) {
                initClassifyDrop(*event.classifyDrop, engine);
            }
            break;
        case FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP:
        case FWPM_NET_EVENT_TYPE_IPSEC_DOSP_DROP:
        case FWPM_NET_EVENT_TYPE_CAPABILITY_DROP:
        case FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC:
            m_isDrop = true;
            break;
        case FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE:
        case FWPM_NET_EVENT_TYPE_IKEEXT_QM_FAILURE:
        case FWPM_NET_EVENT_TYPE_IKEEXT_EM_FAILURE:
        case FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW:
        case FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW:
            break;
        default:
            TARN_LOG(TarnPyxLogging::LevelWarning) << "Unexpected event type: " << type;
            break;
    }
}

void WfpEventInfo::initClassifyDrop(const FWPM_NET_EVENT_CLASSIFY_DROP1& drop, HANDLE engine) {
    if (drop.filterId != 0 && m_fwpm) {
        FwpmRecord<FWPM_FILTER0> filter(*m_fwpm);
        if (m_fwpm->filterGetById(engine, drop.filterId, filter.put()) == ERROR_SUCCESS && filter) {
            m_filterName = textOrEmpty(filter->displayData.name);
            m_filterDescription = textOrEmpty(filter->displayData.description);
        }
    }
    if (drop.layerId != 0 && m_fwpm) {
        FwpmRecord<FWPM_LAYER0> layer(*m_fwpm);
        if (m_fwpm->layerGetById(engine, drop.layerId, layer.put()) == ERROR_SUCCESS && layer) {
            m_layerName = textOrEmpty(layer->displayData.name);
        }
    }
    if (drop.isLoopback == 1) {
        m_isLoopback = true;
    } else {
        m_direction = drop.msFwpDirection;
    }
}

void WfpEventInfo::initPorts(const FWPM_NET_EVENT_HEADER1& header) {
    if ((header.flags & FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET) != 0) {
        m_localPort = header.localPort;
    }
    if ((header.flags & FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET) != 0) {
        m_remotePort = header.remotePort;
    }
}

void WfpEventInfo::initAddresses(const FWPM_NET_EVENT_HEADER1& header) {
    if ((header.flags & FWPM_NET_EVENT_FLAG_IP_VERSION_SET) == 0) {
        return;
    }
    const bool local = (header.flags & FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET) != 0;
    const bool remote = (header.flags & FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET) != 0;
    switch (rawValue(header.ipVersion)) {
        case FWP_IP_VERSION_V4:
            if (local) {
                m_localAddressV4 = ipv4Text(header.localAddrV4);
            }
            if (remote) {
                m_remoteAddressV4 = ipv4Text(header.remoteAddrV4);
            }
            break;
        case FWP_IP_VERSION_V6:
            if (local) {
                m_localAddressV6 = ipv6Text(header.localAddrV6);
            }
            if (remote) {
                m_remoteAddressV6 = ipv6Text(header.remoteAddrV6);
            }
            break;
        default:
            break;
    }
}

void WfpEventInfo::initApplication(const FWPM_NET_EVENT_HEADER1& header) {
    if ((header.flags & FWPM_NET_EVENT_FLAG_APP_ID_SET) == 0) {
        return;
    }
    if (header.appId.data == nullptr || header.appId.size == 0) {
        m_application = std::wstring();
        return;
    }
    std::wstring application = tarn::str::fromUtf16Le(header.appId.data, header.appId.size);
    if (!application.empty() && application.back() == L'\0') {
        application.pop_back();
    }
    m_application = std::move(application);
}

void WfpEventInfo::initEventUserInfo(const FWPM_NET_EVENT_HEADER1& header) {
    if ((header.flags & FWPM_NET_EVENT_FLAG_USER_ID_SET) == 0) {
        return;
    }
    LPWSTR text = nullptr;
    // A record that announces a user without one is refused like an invalid SID.
    const BOOL converted = header.userId != nullptr ? ConvertSidToStringSidW(header.userId, &text)
                                                    : (SetLastError(ERROR_INVALID_SID), FALSE);
    const tarn::UniqueLocalMemory owner(text);
    if (!converted) {
        TARN_LOG(TarnPyxLogging::LevelError) << "ConvertSidToStringSid failed: " << GetLastError();
        return;
    }
    m_userSid = textOrEmpty(text);
}

std::optional<std::wstring> WfpEventInfo::getFilterName() const {
    return m_filterName;
}

std::optional<std::wstring> WfpEventInfo::getRuleGroupName() const {
    return m_ruleGroupName;
}

std::optional<std::wstring> WfpEventInfo::getLayerName() const {
    return m_layerName;
}

std::optional<WfpEventInfo::Direction> WfpEventInfo::getDirection() const {
    return m_direction ? directionOf(*m_direction) : std::nullopt;
}

std::optional<bool> WfpEventInfo::getIsLoopback() const {
    return m_isLoopback;
}

std::optional<std::wstring> WfpEventInfo::getProtocol() const {
    return m_protocol;
}

std::optional<std::wstring> WfpEventInfo::getLocalAddress() const {
    return m_localAddressV4 ? m_localAddressV4 : m_localAddressV6;
}

std::optional<std::wstring> WfpEventInfo::getRemoteAddress() const {
    return m_remoteAddressV4 ? m_remoteAddressV4 : m_remoteAddressV6;
}

std::optional<uint16_t> WfpEventInfo::getLocalPort() const {
    return m_localPort;
}

std::optional<uint16_t> WfpEventInfo::getRemotePort() const {
    return m_remotePort;
}

std::optional<std::wstring> WfpEventInfo::getApplication() const {
    return m_application;
}

std::optional<std::wstring> WfpEventInfo::getUserSid() const {
    return m_userSid;
}

std::wstring WfpEventInfo::protocolText(uint8_t protocol) {
    return protocolTexts()[protocol];
}

std::optional<WfpEventInfo::Direction> WfpEventInfo::directionOf(uint32_t raw) {
    switch (raw) {
        case FWP_DIRECTION_INBOUND:
        case FWP_DIRECTION_IN:
            return Direction::Inbound;
        case FWP_DIRECTION_OUTBOUND:
        case FWP_DIRECTION_OUT:
            return Direction::Outbound;
        case FWP_DIRECTION_FORWARD:
            return Direction::Forward;
        default:
            return std::nullopt;
    }
}

std::wstring WfpEventInfo::getClassifyDropEventText() const {
    std::wstring text;
    if (m_filterName && m_filterDescription) {
        text += L"Dropped by filter: " + orNullptr(*m_filterName) + L", " +
                orNullptr(*m_filterDescription) + L". ";
    }
    if (m_layerName) {
        text += L"Dropped by layer: " + orNullptr(*m_layerName) + L". ";
    }
    if (m_isLoopback.value_or(false)) {
        text += L"Loopback. ";
    } else if (m_direction) {
        switch (directionOf(*m_direction).value_or(static_cast<Direction>(~0u))) {
            case Direction::Inbound:
                text += L"Direction: inbound. ";
                break;
            case Direction::Outbound:
                text += L"Direction: outbound. ";
                break;
            case Direction::Forward:
                text += L"Direction: forward. ";
                break;
            default:
                text += L"Direction: unknown - " + decimal(*m_direction) + L". ";
                break;
        }
    }
    return text;
}

std::wstring WfpEventInfo::toString() const {
    std::wstring text;
    text.reserve(256);
    if (m_eventType) {
        if (*m_eventType < kTypeTexts.size()) {
            text += kTypeTexts[*m_eventType];
        } else {
            text += L"Type: " + decimal(*m_eventType) + L". ";
        }
        if (m_isClassifyDrop) {
            text += getClassifyDropEventText();
        }
    }
    const auto piece = [&text](const wchar_t* label, const std::optional<std::wstring>& value) {
        if (value) {
            text += label;
            text += *value;
            text += L". ";
        }
    };
    if (m_localPort) {
        text += L"Local port: " + decimal(*m_localPort) + L". ";
    }
    if (m_remotePort) {
        text += L"Remote port: " + decimal(*m_remotePort) + L". ";
    }
    piece(L"IPv4 local address: ", m_localAddressV4);
    piece(L"IPv4 remote address: ", m_remoteAddressV4);
    piece(L"IPv6 local address: ", m_localAddressV6);
    piece(L"IPv6 remote address: ", m_remoteAddressV6);
    piece(L"Protocol: ", m_protocol);
    piece(L"Application: ", m_application);
    piece(L"User SID: ", m_userSid);
    return text;
}
