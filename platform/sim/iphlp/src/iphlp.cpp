// The IP helper of the simulated machine: the adapter list and the network parameters, built
// into the caller's buffer as Windows lays them out.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "internal.h"
#include "sim/iphlp_control.h"
#include "sim/win/iphlp.h"

// The layouts of 64-bit Windows.
static_assert(sizeof(IP_ADAPTER_ADDRESSES) == 448 && offsetof(IP_ADAPTER_ADDRESSES, Flags) == 92);
static_assert(offsetof(IP_ADAPTER_ADDRESSES, FirstWinsServerAddress) == 200);
static_assert(offsetof(IP_ADAPTER_ADDRESSES, Dhcpv4Server) == 232);
static_assert(offsetof(IP_ADAPTER_ADDRESSES, FirstDnsSuffix) == 440);
static_assert(sizeof(IP_ADAPTER_UNICAST_ADDRESS) == 64 &&
              offsetof(IP_ADAPTER_UNICAST_ADDRESS, OnLinkPrefixLength) == 56);
static_assert(sizeof(IP_ADAPTER_GATEWAY_ADDRESS) == 32 && sizeof(SOCKET_ADDRESS) == 16);
static_assert(sizeof(FIXED_INFO) == 600 && offsetof(FIXED_INFO, DnsServerList) == 272);
static_assert(sizeof(IP_ADDR_STRING) == 48);

namespace sim::iphlp {

namespace {

using Address = std::array<uint8_t, 4>;

std::optional<Address> parseAddress(std::string_view text) {
    Address out{};
    for (size_t part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3) {
            return std::nullopt;
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + dot, value);
        if (error != std::errc() || end != text.data() + dot || value > 255) {
            return std::nullopt;
        }
        out[part] = static_cast<uint8_t>(value);
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return out;
}

Address address(const std::string& text) {
    const auto parsed = parseAddress(text);
    if (!parsed) {
        throw std::invalid_argument("no IPv4 address: \"" + text + "\"");
    }
    return *parsed;
}

std::vector<Address> addresses(const std::vector<std::string>& texts) {
    std::vector<Address> out;
    for (const auto& text : texts) {
        out.push_back(address(text));
    }
    return out;
}

struct Unicast {
    Address address;
    uint8_t prefix;
};

// An adapter with its addresses parsed, as the functions report it.
struct Parsed {
    Adapter source;
    std::vector<Unicast> unicast;
    std::vector<Address> gateways;
    std::optional<Address> dhcpServer;
    std::vector<Address> wins;
    std::vector<Address> dns;
};

Parsed parse(const Adapter& adapter) {
    Parsed parsed{adapter,
                  {},
                  addresses(adapter.gateways),
                  std::nullopt,
                  addresses(adapter.winsServers),
                  addresses(adapter.dnsServers)};
    for (const auto& text : adapter.unicast) {
        const size_t slash = text.find('/');
        unsigned prefix = 32;
        if (slash != std::string::npos) {
            const char* first = text.data() + slash + 1;
            const char* last = text.data() + text.size();
            const auto [end, error] = std::from_chars(first, last, prefix);
            if (error != std::errc() || end != last || first == last || prefix > 32) {
                throw std::invalid_argument("no prefix length: \"" + text + "\"");
            }
        }
        parsed.unicast.push_back({address(text.substr(0, slash)), static_cast<uint8_t>(prefix)});
    }
    if (!adapter.dhcpServer.empty()) {
        parsed.dhcpServer = address(adapter.dhcpServer);
    }
    return parsed;
}

struct State {
    std::mutex mutex;
    Network network;
    std::vector<Parsed> adapters;
    std::map<std::string, Network, std::less<>> pendingChanges;  // by API name
};

void install(State& state, const Network& network) {
    std::vector<Parsed> adapters;
    for (const auto& adapter : network.adapters) {
        adapters.push_back(parse(adapter));
    }
    state.network = network;
    state.adapters = std::move(adapters);
}

State& state() {
    static auto* s = [] {
        auto* created = new State;  // never destroyed: used by static destructors
        install(*created, parseNetwork(setupDescription("office-lan")));
        sim::onReset([created] {
            std::lock_guard lock(created->mutex);
            install(*created, parseNetwork(setupDescription("office-lan")));
            created->pendingChanges.clear();
        });
        return created;
    }();
    return *s;
}

// Applies a change that waited for a call of `api`, after that call.
class ChangeAfterCall {
public:
    explicit ChangeAfterCall(std::string_view api) : m_api(api) {}
    ~ChangeAfterCall() {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (auto it = s.pendingChanges.find(m_api); it != s.pendingChanges.end()) {
            install(s, it->second);
            s.pendingChanges.erase(it);
        }
    }
    ChangeAfterCall(const ChangeAfterCall&) = delete;
    ChangeAfterCall& operator=(const ChangeAfterCall&) = delete;

private:
    std::string_view m_api;
};

// Places the records one after another, 8-byte aligned. Measuring first (no buffer), each
// record goes to a scratch block of its own that lives as long as the arena; only the size
// counts.
class Arena {
public:
    explicit Arena(BYTE* buffer) : m_buffer(buffer) {}

    template <class T>
    T* place(size_t count = 1) {
        const size_t bytes = sizeof(T) * count;
        m_used = (m_used + 7) & ~size_t{7};
        BYTE* at = nullptr;
        if (m_buffer != nullptr) {
            at = m_buffer + m_used;
            std::memset(at, 0, bytes);
        } else {
            m_scratch.push_back(std::make_unique<uint64_t[]>(bytes / sizeof(uint64_t) + 1));
            at = reinterpret_cast<BYTE*>(m_scratch.back().get());
        }
        m_used += bytes;
        return reinterpret_cast<T*>(at);
    }
    size_t used() const { return m_used; }

private:
    BYTE* m_buffer;
    size_t m_used = 0;
    std::vector<std::unique_ptr<uint64_t[]>> m_scratch;
};

SOCKET_ADDRESS socketAddress(Arena& arena, const Address& address) {
    auto* in = arena.place<SOCKADDR_IN>();
    in->sin_family = AF_INET;
    std::memcpy(&in->sin_addr, address.data(), 4);
    return {reinterpret_cast<LPSOCKADDR>(in), static_cast<INT>(sizeof(SOCKADDR_IN))};
}

WCHAR* wideText(Arena& arena, const std::string& utf8) {
    const std::wstring text = sim::detail::fromUtf8(utf8).value_or(L"");
    auto* out = arena.place<WCHAR>(text.size() + 1);
    std::copy(text.begin(), text.end(), out);
    return out;
}

// A chain of address records (gateways, DNS and WINS servers share the shape).
template <class Record>
Record* chain(Arena& arena, const std::vector<Address>& list) {
    Record* first = nullptr;
    Record** link = &first;
    for (const auto& address : list) {
        auto* record = arena.place<Record>();
        record->Length = sizeof(Record);
        record->Address = socketAddress(arena, address);
        *link = record;
        link = &record->Next;
    }
    return first;
}

bool isLoopback(const Parsed& adapter) {
    return adapter.source.type == IF_TYPE_SOFTWARE_LOOPBACK;
}

IP_ADAPTER_UNICAST_ADDRESS* unicastChain(Arena& arena, const Parsed& adapter) {
    IP_ADAPTER_UNICAST_ADDRESS* first = nullptr;
    IP_ADAPTER_UNICAST_ADDRESS** link = &first;
    const bool dhcp = adapter.source.dhcpEnabled;
    for (const auto& unicast : adapter.unicast) {
        auto* record = arena.place<IP_ADAPTER_UNICAST_ADDRESS>();
        record->Length = sizeof(IP_ADAPTER_UNICAST_ADDRESS);
        record->Flags = isLoopback(adapter) ? 0 : IP_ADAPTER_ADDRESS_DNS_ELIGIBLE;
        record->Address = socketAddress(arena, unicast.address);
        record->PrefixOrigin = isLoopback(adapter) ? IpPrefixOriginWellKnown
                               : dhcp              ? IpPrefixOriginDhcp
                                                   : IpPrefixOriginManual;
        record->SuffixOrigin = isLoopback(adapter) ? IpSuffixOriginWellKnown
                               : dhcp              ? IpSuffixOriginDhcp
                                                   : IpSuffixOriginManual;
        record->DadState = IpDadStatePreferred;
        const ULONG lifetime = dhcp ? 86400 : 0xFFFFFFFF;
        record->ValidLifetime = record->PreferredLifetime = record->LeaseLifetime = lifetime;
        record->OnLinkPrefixLength = unicast.prefix;
        *link = record;
        link = &record->Next;
    }
    return first;
}

void fillAdapter(Arena& arena, IP_ADAPTER_ADDRESSES& out, const Parsed& adapter, ULONG index,
                 ULONG flags) {
    const Adapter& source = adapter.source;
    out.Length = sizeof(IP_ADAPTER_ADDRESSES);
    out.IfIndex = index;
    auto* name = arena.place<char>(source.name.size() + 1);
    std::copy(source.name.begin(), source.name.end(), name);
    out.AdapterName = name;
    if ((flags & GAA_FLAG_SKIP_UNICAST) == 0) {
        out.FirstUnicastAddress = unicastChain(arena, adapter);
    }
    if ((flags & GAA_FLAG_SKIP_DNS_SERVER) == 0) {
        out.FirstDnsServerAddress = chain<IP_ADAPTER_DNS_SERVER_ADDRESS>(arena, adapter.dns);
    }
    out.DnsSuffix = wideText(arena, source.dnsSuffix);
    out.Description = wideText(arena, source.description);
    // Skipped, the friendly name is an empty text, not a null pointer (as wine shows it).
    out.FriendlyName =
        wideText(arena, (flags & GAA_FLAG_SKIP_FRIENDLY_NAME) != 0 ? "" : source.friendlyName);
    out.PhysicalAddressLength = static_cast<ULONG>(
        std::min<size_t>(source.physicalAddress.size(), MAX_ADAPTER_ADDRESS_LENGTH));
    std::copy_n(source.physicalAddress.begin(), out.PhysicalAddressLength, out.PhysicalAddress);
    out.Flags = IP_ADAPTER_IPV4_ENABLED | (source.dhcpEnabled ? IP_ADAPTER_DHCP_ENABLED : 0) |
                (isLoopback(adapter) ? 0 : IP_ADAPTER_DDNS_ENABLED);
    out.Mtu = isLoopback(adapter) ? 0xFFFFFFFF : source.type == IF_TYPE_PPP ? 1400 : 1500;
    out.IfType = source.type;
    out.OperStatus = source.up ? IfOperStatusUp : IfOperStatusDown;
    out.TransmitLinkSpeed = out.ReceiveLinkSpeed = source.up ? 1000000000 : 0xFFFFFFFFFFFFFFFF;
    if ((flags & GAA_FLAG_INCLUDE_WINS_INFO) != 0) {
        out.FirstWinsServerAddress = chain<IP_ADAPTER_WINS_SERVER_ADDRESS>(arena, adapter.wins);
    }
    if ((flags & GAA_FLAG_INCLUDE_GATEWAYS) != 0) {
        out.FirstGatewayAddress = chain<IP_ADAPTER_GATEWAY_ADDRESS>(arena, adapter.gateways);
    }
    out.Ipv4Metric = isLoopback(adapter) ? 75 : 25;
    out.Luid.Value =
        (static_cast<ULONG64>(source.type) << 48) | (static_cast<ULONG64>(index) << 24);
    if (source.dhcpEnabled && adapter.dhcpServer) {
        out.Dhcpv4Server = socketAddress(arena, *adapter.dhcpServer);
    }
    out.CompartmentId = 1;
    out.ConnectionType = NET_IF_CONNECTION_DEDICATED;
    out.TunnelType = TUNNEL_TYPE_NONE;
}

size_t buildAdapters(Arena& arena, const std::vector<Parsed>& adapters, ULONG flags) {
    IP_ADAPTER_ADDRESSES** link = nullptr;
    ULONG index = 0;
    for (const auto& adapter : adapters) {
        auto* record = arena.place<IP_ADAPTER_ADDRESSES>();
        if (link != nullptr) {
            *link = record;
        }
        // Windows numbers the loopback adapter 1 and the others from 11 on.
        fillAdapter(arena, *record, adapter, isLoopback(adapter) ? 1 : 11 + index++, flags);
        link = &record->Next;
    }
    return arena.used();
}

constexpr ULONG kSimulatedFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                                  GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                                  GAA_FLAG_SKIP_FRIENDLY_NAME | GAA_FLAG_INCLUDE_WINS_INFO |
                                  GAA_FLAG_INCLUDE_GATEWAYS;

// The DNS servers of the connected adapters in adapter order, each once.
std::vector<Address> resolverList(const std::vector<Parsed>& adapters) {
    std::vector<Address> out;
    for (const auto& adapter : adapters) {
        for (const auto& server : adapter.dns) {
            if (adapter.source.up && std::find(out.begin(), out.end(), server) == out.end()) {
                out.push_back(server);
            }
        }
    }
    return out;
}

void copyText(char* destination, size_t capacity, const std::string& text) {
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
}

void fillAddressString(IP_ADDR_STRING& entry, const Address& address) {
    const std::string text = std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
                             std::to_string(address[2]) + "." + std::to_string(address[3]);
    copyText(entry.IpAddress.String, sizeof entry.IpAddress.String, text);
    copyText(entry.IpMask.String, sizeof entry.IpMask.String, "255.255.255.255");
}

}  // namespace

void setNetwork(const Network& network) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    install(s, network);
}

Network network() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.network;
}

void useSetup(std::string_view name) {
    setNetwork(parseNetwork(setupDescription(name)));
}

void changeAfterNextCall(std::string_view api, const Network& next) {
    for (const auto& adapter : next.adapters) {
        parse(adapter);  // refuses a bad description now, not at the call
    }
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.pendingChanges.insert_or_assign(std::string(api), next);
}

}  // namespace sim::iphlp

using namespace sim::iphlp;

ULONG GetAdaptersAddresses(ULONG family, ULONG flags, PVOID reserved,
                           PIP_ADAPTER_ADDRESSES adapterAddresses, PULONG sizePointer) {
    SIM_API("GetAdaptersAddresses");
    const ChangeAfterCall change("GetAdaptersAddresses");
    if (simFault_) {
        return *simFault_;
    }
    if (sizePointer == nullptr || reserved != nullptr ||
        (family != AF_INET && family != AF_INET6 && family != AF_UNSPEC)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((flags & ~kSimulatedFlags) != 0) {
        return ERROR_NOT_SUPPORTED;
    }
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (family == AF_INET6 || s.adapters.empty()) {
        return ERROR_NO_DATA;
    }
    Arena measure(nullptr);
    const size_t needed = buildAdapters(measure, s.adapters, flags);
    if (adapterAddresses == nullptr || *sizePointer < needed) {
        *sizePointer = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    Arena arena(reinterpret_cast<BYTE*>(adapterAddresses));
    buildAdapters(arena, s.adapters, flags);
    return ERROR_SUCCESS;
}

DWORD GetNetworkParams(PFIXED_INFO fixedInfo, PULONG outBufferLength) {
    SIM_API("GetNetworkParams");
    const ChangeAfterCall change("GetNetworkParams");
    if (simFault_) {
        return *simFault_;
    }
    if (outBufferLength == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    auto& s = state();
    std::lock_guard lock(s.mutex);
    const std::vector<Address> servers = resolverList(s.adapters);
    const size_t extra = servers.empty() ? 0 : servers.size() - 1;
    const size_t needed = sizeof(FIXED_INFO) + extra * sizeof(IP_ADDR_STRING);
    if (fixedInfo == nullptr || *outBufferLength < needed) {
        *outBufferLength = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(fixedInfo, 0, needed);
    copyText(fixedInfo->HostName, sizeof fixedInfo->HostName, s.network.hostName);
    copyText(fixedInfo->DomainName, sizeof fixedInfo->DomainName, s.network.domainName);
    auto* more = reinterpret_cast<IP_ADDR_STRING*>(fixedInfo + 1);
    IP_ADDR_STRING* entry = &fixedInfo->DnsServerList;
    for (size_t i = 0; i < servers.size(); ++i) {
        if (i != 0) {
            entry->Next = &more[i - 1];
            entry = entry->Next;
        }
        fillAddressString(*entry, servers[i]);
    }
    fixedInfo->CurrentDnsServer = servers.empty() ? nullptr : &fixedInfo->DnsServerList;
    const bool wins = std::any_of(s.adapters.begin(), s.adapters.end(),
                                  [](const Parsed& a) { return !a.wins.empty(); });
    fixedInfo->NodeType = wins ? HYBRID_NODETYPE : BROADCAST_NODETYPE;
    return ERROR_SUCCESS;
}
