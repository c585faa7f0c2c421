// Winsock of the simulated machine: start-up count, a DNS table that tests fill, and the
// address text conversions with Windows' strict parsing and Windows' text forms.
#include <array>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "internal.h"
#include "sim/win/winsock.h"
#include "sim/winsock_control.h"

using sim::detail::fail;

// The layouts of 64-bit Windows.
static_assert(sizeof(SOCKADDR) == 16 && sizeof(SOCKADDR_IN) == 16 && sizeof(IN_ADDR) == 4);
static_assert(sizeof(SOCKADDR_IN6) == 28 && sizeof(IN6_ADDR) == 16);
static_assert(sizeof(ADDRINFOW) == 48 && offsetof(ADDRINFOW, ai_addr) == 32);
static_assert(sizeof(WSADATA) == 408);

namespace {

// An address of either family; IPv4 uses the first four bytes.
struct Address {
    int family = AF_INET;
    std::array<uint8_t, 16> bytes{};
    ULONG scope = 0;
};

struct DnsEntry {
    std::variant<std::vector<Address>, int32_t> answer;  // addresses, or an error code
};

struct WinsockState {
    std::mutex mutex;
    uint32_t startups = 0;
    std::map<std::wstring, DnsEntry> dns;  // lower-case host names
    std::set<const void*> openLists;
};

WinsockState& winsockState() {
    static auto* state = [] {
        auto* s = new WinsockState;
        sim::onReset([s] {
            std::lock_guard lock(s->mutex);
            s->startups = 0;
            s->dns.clear();
            s->openLists.clear();
        });
        return s;
    }();
    return *state;
}

bool started() {
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    return state.startups != 0;
}

std::wstring lowerCase(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return out;
}

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

int hexValue(wchar_t c) {
    if (isDigit(c)) {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Four decimal parts of one to three digits separated by dots, each 0..255. Inside IPv6 texts
// leading zeros are allowed ("1::001.2.3.4"); the stand-alone form refuses them.
std::optional<std::array<uint8_t, 4>> parseDotted(std::wstring_view text, bool leadingZeros) {
    std::array<uint8_t, 4> out{};
    size_t i = 0;
    for (size_t part = 0; part < 4; ++part) {
        if (part != 0) {
            if (i >= text.size() || text[i] != L'.') {
                return std::nullopt;
            }
            ++i;
        }
        const size_t start = i;
        int value = 0;
        while (i < text.size() && isDigit(text[i]) && i - start < 3) {
            value = value * 10 + (text[i] - L'0');
            ++i;
        }
        const size_t digits = i - start;
        if (digits == 0 || value > 255 || (i < text.size() && isDigit(text[i])) ||
            (!leadingZeros && digits > 1 && text[start] == L'0')) {
            return std::nullopt;
        }
        out[part] = static_cast<uint8_t>(value);
    }
    return i == text.size() ? std::optional(out) : std::nullopt;
}

// Groups of one to four hexadecimal digits, at most one "::", an optional dotted IPv4 tail.
// No zone, no prefix, no white space, as InetPton.
std::optional<std::array<uint8_t, 16>> parseIPv6(std::wstring_view text) {
    std::vector<uint16_t> head;
    std::vector<uint16_t> tail;
    bool compressed = false;
    size_t i = 0;
    if (text.substr(0, 2) == L"::") {
        compressed = true;
        i = 2;
    } else if (text.empty() || text[0] == L':') {
        return std::nullopt;
    }
    auto groups = [&]() -> std::vector<uint16_t>& { return compressed ? tail : head; };
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && hexValue(text[j]) >= 0) {
            ++j;
        }
        if (j < text.size() && text[j] == L'.') {
            const auto dotted = parseDotted(text.substr(i), true);
            if (!dotted) {
                return std::nullopt;
            }
            groups().push_back(static_cast<uint16_t>((*dotted)[0] << 8 | (*dotted)[1]));
            groups().push_back(static_cast<uint16_t>((*dotted)[2] << 8 | (*dotted)[3]));
            i = text.size();
            break;
        }
        if (j == i || j - i > 4) {
            return std::nullopt;
        }
        uint16_t value = 0;
        for (size_t k = i; k < j; ++k) {
            value = static_cast<uint16_t>(value << 4 | hexValue(text[k]));
        }
        groups().push_back(value);
        if (j == text.size()) {
            break;
        }
        if (text[j] != L':') {
            return std::nullopt;
        }
        if (j + 1 < text.size() && text[j + 1] == L':') {
            if (compressed) {
                return std::nullopt;
            }
            compressed = true;
            i = j + 2;
        } else if (j + 1 == text.size()) {
            return std::nullopt;  // a single colon at the end
        } else {
            i = j + 1;
        }
    }
    const size_t count = head.size() + tail.size();
    if (compressed ? count > 7 : count != 8) {
        return std::nullopt;
    }
    std::array<uint16_t, 8> words{};
    std::copy(head.begin(), head.end(), words.begin());
    std::copy(tail.begin(), tail.end(), words.end() - static_cast<ptrdiff_t>(tail.size()));
    std::array<uint8_t, 16> bytes{};
    for (size_t k = 0; k < 8; ++k) {
        bytes[2 * k] = static_cast<uint8_t>(words[k] >> 8);
        bytes[2 * k + 1] = static_cast<uint8_t>(words[k]);
    }
    return bytes;
}

// An IPv4 text, or an IPv6 text with an optional decimal "%scope".
std::optional<Address> parseAddress(std::wstring_view text) {
    Address address;
    if (const auto v4 = parseDotted(text, false)) {
        std::copy(v4->begin(), v4->end(), address.bytes.begin());
        return address;
    }
    address.family = AF_INET6;
    const size_t percent = text.find(L'%');
    if (percent != std::wstring_view::npos) {
        const std::wstring_view scope = text.substr(percent + 1);
        if (scope.empty() || scope.size() > 10) {
            return std::nullopt;
        }
        uint64_t value = 0;
        for (wchar_t c : scope) {
            if (!isDigit(c)) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<uint64_t>(c - L'0');
        }
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        address.scope = static_cast<ULONG>(value);
        text = text.substr(0, percent);
    }
    const auto v6 = parseIPv6(text);
    if (!v6) {
        return std::nullopt;
    }
    address.bytes = *v6;
    return address;
}

std::wstring dottedText(const uint8_t* bytes) {
    std::wstring out;
    for (int k = 0; k < 4; ++k) {
        if (k != 0) {
            out += L'.';
        }
        // By hand: std::to_wstring goes through the C library's wide formatting, which was
        // most of the cost of every address text.
        const unsigned value = bytes[k];
        if (value >= 100) {
            out += static_cast<wchar_t>(L'0' + value / 100);
        }
        if (value >= 10) {
            out += static_cast<wchar_t>(L'0' + value / 10 % 10);
        }
        out += static_cast<wchar_t>(L'0' + value % 10);
    }
    return out;
}

// Windows writes the last 32 bits dotted for IPv4-compatible (::a.b.c.d), -mapped
// (::ffff:a.b.c.d), -translated (::ffff:0:a.b.c.d) and ISATAP (x:x:x:x:0:5efe:a.b.c.d or
// x:x:x:x:200:5efe:a.b.c.d) addresses; the first three only when the seventh group is not zero.
bool hasDottedTail(const std::array<uint16_t, 8>& w) {
    const bool leadingZero4 = w[0] == 0 && w[1] == 0 && w[2] == 0 && w[3] == 0;
    const bool compatible = leadingZero4 && w[4] == 0 && w[5] == 0;
    const bool mapped = leadingZero4 && w[4] == 0 && w[5] == 0xFFFF;
    const bool translated = leadingZero4 && w[4] == 0xFFFF && w[5] == 0;
    const bool isatap = w[5] == 0x5EFE && (w[4] == 0 || w[4] == 0x0200);
    return ((compatible || mapped || translated) && w[6] != 0) || isatap;
}

std::wstring ipv6Text(const uint8_t* bytes) {
    std::array<uint16_t, 8> w{};
    for (size_t k = 0; k < 8; ++k) {
        w[k] = static_cast<uint16_t>(bytes[2 * k] << 8 | bytes[2 * k + 1]);
    }
    const bool dotted = hasDottedTail(w);
    const size_t groups = dotted ? 6 : 8;
    // The longest run of two zero groups or more, the first of equal ones, becomes "::".
    size_t runStart = groups;
    size_t runLength = 1;
    for (size_t k = 0; k < groups;) {
        size_t end = k;
        while (end < groups && w[end] == 0) {
            ++end;
        }
        if (end - k > runLength) {
            runStart = k;
            runLength = end - k;
        }
        k = end == k ? k + 1 : end;
    }
    wchar_t hex[8];
    std::wstring out;
    for (size_t k = 0; k < groups; ++k) {
        if (k == runStart) {
            out += L"::";
            k += runLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != L':') {
            out += L':';
        }
        std::swprintf(hex, 8, L"%x", w[k]);
        out += hex;
    }
    if (dotted) {
        if (!out.empty() && out.back() != L':') {
            out += L':';
        }
        out += dottedText(bytes + 12);
    }
    return out;
}

std::optional<std::wstring> socketAddressText(const SOCKADDR* address, DWORD length) {
    if (address->sa_family == AF_INET && length >= sizeof(SOCKADDR_IN)) {
        SOCKADDR_IN in{};
        std::memcpy(&in, address, sizeof in);
        std::wstring text = dottedText(&in.sin_addr.S_un.S_un_b.s_b1);
        if (in.sin_port != 0) {
            const auto* port = reinterpret_cast<const uint8_t*>(&in.sin_port);
            text += L":" + std::to_wstring(port[0] << 8 | port[1]);
        }
        return text;
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(SOCKADDR_IN6)) {
        SOCKADDR_IN6 in6{};
        std::memcpy(&in6, address, sizeof in6);
        std::wstring text = ipv6Text(in6.sin6_addr.u.Byte);
        if (in6.sin6_scope_id != 0) {
            text += L"%" + std::to_wstring(in6.sin6_scope_id);
        }
        if (in6.sin6_port != 0) {
            const auto* port = reinterpret_cast<const uint8_t*>(&in6.sin6_port);
            text = L"[" + text + L"]:" + std::to_wstring(port[0] << 8 | port[1]);
        }
        return text;
    }
    return std::nullopt;
}

// One element of a GetAddrInfoW result with its socket address; ADDRINFOW comes first, so
// that the list's pointers are the nodes' addresses.
struct AddrInfoNode {
    ADDRINFOW info;
    SOCKADDR_IN6 storage;
};
static_assert(std::is_standard_layout_v<AddrInfoNode>);

std::unique_ptr<AddrInfoNode> makeNode(const Address& address) {
    auto node = std::make_unique<AddrInfoNode>();
    node->info.ai_family = address.family;
    node->info.ai_addr = reinterpret_cast<SOCKADDR*>(&node->storage);
    if (address.family == AF_INET) {
        SOCKADDR_IN in{};
        in.sin_family = AF_INET;
        std::memcpy(&in.sin_addr, address.bytes.data(), 4);
        std::memcpy(&node->storage, &in, sizeof in);
        node->info.ai_addrlen = sizeof(SOCKADDR_IN);
    } else {
        node->storage.sin6_family = AF_INET6;
        std::memcpy(node->storage.sin6_addr.u.Byte, address.bytes.data(), 16);
        node->storage.sin6_scope_id = address.scope;
        node->info.ai_addrlen = sizeof(SOCKADDR_IN6);
    }
    return node;
}

// The machine's hosts file, as Windows reads it before asking DNS: "address name [alias...]"
// per line, '#' starts a comment. Lets a whole simulated machine (the demo) know names.
std::vector<Address> hostsFileAnswer(std::wstring_view name) {
    std::ifstream file(sim::hostPath(L"C:\\Windows\\System32\\drivers\\etc\\hosts"));
    std::vector<Address> found;
    std::string line;
    while (std::getline(file, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string address;
        std::string host;
        if (!(words >> address)) {
            continue;
        }
        const auto parsed = parseAddress(sim::detail::fromUtf8(address).value_or(L""));
        while (parsed && words >> host) {
            if (lowerCase(sim::detail::fromUtf8(host).value_or(L"")) == lowerCase(name)) {
                found.push_back(*parsed);
                break;
            }
        }
    }
    return found;
}

// The table's answer for a name: addresses or an error code.
std::variant<std::vector<Address>, int32_t> resolve(std::wstring_view name) {
    if (auto numeric = parseAddress(name)) {
        return std::vector<Address>{*numeric};
    }
    {
        auto& state = winsockState();
        std::lock_guard lock(state.mutex);
        if (const auto it = state.dns.find(lowerCase(name)); it != state.dns.end()) {
            return it->second.answer;
        }
    }
    if (auto fromFile = hostsFileAnswer(name); !fromFile.empty()) {
        return fromFile;
    }
    return static_cast<int32_t>(WSAHOST_NOT_FOUND);
}

// Winsock's last error is the thread's last error, as on Windows.
void setError(int error) {
    SetLastError(static_cast<DWORD>(error));
}

int failWith(int error) {
    setError(error);
    return error;
}

}  // namespace

namespace sim::winsock {

void setDnsAnswer(std::wstring_view host, const std::vector<std::wstring>& addresses) {
    std::vector<Address> parsed;
    for (const auto& text : addresses) {
        const auto address = parseAddress(text);
        if (!address) {
            throw std::invalid_argument("not an address: " + detail::toUtf8(text));
        }
        parsed.push_back(*address);
    }
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    state.dns[lowerCase(host)] = DnsEntry{std::move(parsed)};
}

void setDnsError(std::wstring_view host, int32_t error) {
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    state.dns[lowerCase(host)] = DnsEntry{error};
}

void removeDnsEntry(std::wstring_view host) {
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    state.dns.erase(lowerCase(host));
}

uint32_t startupCount() {
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    return state.startups;
}

size_t openAddrInfoLists() {
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    return state.openLists.size();
}

}  // namespace sim::winsock

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    SIM_API("WSAStartup");
    if (simFault_) {
        return static_cast<int>(*simFault_);
    }
    if (data == nullptr) {
        return WSAEFAULT;
    }
    const int major = versionRequested & 0xFF;
    const int minor = versionRequested >> 8;
    if (major == 0) {
        return WSAVERNOTSUPPORTED;
    }
    std::memset(data, 0, sizeof *data);
    // The highest version is 2.2; a higher request gets 2.2, as on Windows.
    const bool above = major > 2 || (major == 2 && minor > 2);
    data->wVersion = above ? MAKEWORD(2, 2) : versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    ++state.startups;
    return 0;
}

int WSACleanup() {
    SIM_API("WSACleanup");
    if (simFault_) {
        setError(static_cast<int>(*simFault_));
        return SOCKET_ERROR;
    }
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    if (state.startups == 0) {
        setError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    --state.startups;
    return 0;
}

int WSAGetLastError() {
    SIM_API("WSAGetLastError");
    return simFault_ ? static_cast<int>(*simFault_) : static_cast<int>(GetLastError());
}

void WSASetLastError(int error) {
    SIM_API("WSASetLastError");
    SetLastError(static_cast<DWORD>(error));
}

int GetAddrInfoW(PCWSTR nodeName, PCWSTR serviceName, const ADDRINFOW* hints, PADDRINFOW* result) {
    SIM_API("GetAddrInfoW");
    if (simFault_) {
        return failWith(static_cast<int>(*simFault_));
    }
    if (!started()) {
        return failWith(WSANOTINITIALISED);
    }
    if (result == nullptr) {
        return failWith(WSAEINVAL);
    }
    *result = nullptr;
    if (nodeName == nullptr) {
        return failWith(WSAHOST_NOT_FOUND);
    }
    if (serviceName != nullptr) {
        return failWith(WSATYPE_NOT_FOUND);  // services are not simulated
    }
    const int family = hints != nullptr ? hints->ai_family : AF_UNSPEC;
    if (family != AF_UNSPEC && family != AF_INET && family != AF_INET6) {
        return failWith(WSAEAFNOSUPPORT);
    }
    const auto answer = resolve(nodeName);
    if (const auto* error = std::get_if<int32_t>(&answer)) {
        return failWith(*error);
    }
    // Build the list back to front, so that each node owns the next until it is released.
    std::unique_ptr<AddrInfoNode> head;
    const auto& addresses = std::get<std::vector<Address>>(answer);
    for (auto it = addresses.rbegin(); it != addresses.rend(); ++it) {
        if (family != AF_UNSPEC && it->family != family) {
            continue;
        }
        auto node = makeNode(*it);
        node->info.ai_next = head ? &head.release()->info : nullptr;
        head = std::move(node);
    }
    if (!head) {
        return failWith(WSANO_DATA);
    }
    *result = &head.release()->info;
    auto& state = winsockState();
    std::lock_guard lock(state.mutex);
    state.openLists.insert(*result);
    return 0;
}

void FreeAddrInfoW(PADDRINFOW addrInfo) {
    SIM_API("FreeAddrInfoW");
    if (addrInfo == nullptr) {
        return;
    }
    {
        auto& state = winsockState();
        std::lock_guard lock(state.mutex);
        if (state.openLists.erase(addrInfo) == 0) {
            return;  // not a list of ours: leave it alone rather than corrupt memory
        }
    }
    while (addrInfo != nullptr) {
        std::unique_ptr<AddrInfoNode> node(reinterpret_cast<AddrInfoNode*>(addrInfo));
        addrInfo = node->info.ai_next;
    }
}

INT WSAAddressToStringW(LPSOCKADDR address, DWORD addressLength, LPWSAPROTOCOL_INFOW,
                        LPWSTR addressString, LPDWORD addressStringLength) {
    SIM_API("WSAAddressToStringW");
    if (simFault_) {
        setError(static_cast<int>(*simFault_));
        return SOCKET_ERROR;
    }
    if (!started()) {
        setError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (address == nullptr || addressStringLength == nullptr) {
        setError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    const auto text = socketAddressText(address, addressLength);
    if (!text) {
        setError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    const auto needed = static_cast<DWORD>(text->size() + 1);
    if (addressString == nullptr || *addressStringLength < needed) {
        *addressStringLength = needed;
        setError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    std::wmemcpy(addressString, text->c_str(), needed);
    *addressStringLength = needed;
    return 0;
}

namespace {

// One part of a loose IPv4 text: decimal, octal with a leading 0, or hexadecimal with 0x.
std::optional<uint64_t> loosePart(std::wstring_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == L'0') {
        base = 8;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const wchar_t c : text) {
        const int digit = hexValue(c);
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return value;
}

// The forms a.b.c.d, a.b.c (c fills 16 bits), a.b (24 bits) and a (32 bits), each part in
// any of the three bases, as WSAStringToAddressW reads IPv4.
std::optional<std::array<uint8_t, 4>> parseLooseIPv4(std::wstring_view text) {
    std::vector<uint64_t> parts;
    for (size_t start = 0;;) {
        const size_t dot = text.find(L'.', start);
        const auto part = loosePart(text.substr(start, dot - start));
        if (!part || parts.size() == 4) {
            return std::nullopt;
        }
        parts.push_back(*part);
        if (dot == std::wstring_view::npos) {
            break;
        }
        start = dot + 1;
    }
    uint64_t value = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] > 255) {
            return std::nullopt;
        }
        value |= parts[i] << (8 * (3 - i));
    }
    const unsigned lastBits = 8 * static_cast<unsigned>(5 - parts.size());
    if (parts.back() >= (uint64_t{1} << lastBits)) {
        return std::nullopt;
    }
    value |= parts.back();
    return std::array<uint8_t, 4>{static_cast<uint8_t>(value >> 24),
                                  static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::optional<USHORT> parsePort(std::wstring_view text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const wchar_t c : text) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value > 65535 ? std::nullopt : std::optional(static_cast<USHORT>(value));
}

USHORT networkOrder(USHORT port) {
    return static_cast<USHORT>((port >> 8) | (port << 8));
}

// "a.b.c.d[:port]".
bool stringToIPv4(std::wstring_view text, SOCKADDR_IN& out) {
    const size_t colon = text.find(L':');
    std::optional<USHORT> port = USHORT{0};
    if (colon != std::wstring_view::npos) {
        port = parsePort(text.substr(colon + 1));
    }
    const auto bytes = parseLooseIPv4(text.substr(0, colon));
    if (!bytes || !port) {
        return false;
    }
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = networkOrder(*port);
    std::memcpy(&out.sin_addr, bytes->data(), 4);
    return true;
}

// "addr[%scope]" or "[addr[%scope]]:port".
bool stringToIPv6(std::wstring_view text, SOCKADDR_IN6& out) {
    std::optional<USHORT> port = USHORT{0};
    if (!text.empty() && text[0] == L'[') {
        const size_t close = text.find(L']');
        if (close == std::wstring_view::npos) {
            return false;
        }
        if (close + 1 < text.size()) {
            port = text[close + 1] == L':' ? parsePort(text.substr(close + 2)) : std::nullopt;
        }
        text = text.substr(1, close - 1);
    }
    const size_t percent = text.find(L'%');
    std::optional<ULONG> scope = ULONG{0};
    if (percent != std::wstring_view::npos) {
        const auto parsed = loosePart(text.substr(percent + 1));
        scope = parsed && *parsed <= 0xFFFFFFFF ? std::optional(static_cast<ULONG>(*parsed))
                                                : std::nullopt;
    }
    const auto bytes = parseIPv6(text.substr(0, percent));
    if (!bytes || !port || !scope) {
        return false;
    }
    out = {};
    out.sin6_family = AF_INET6;
    out.sin6_port = networkOrder(*port);
    std::memcpy(&out.sin6_addr, bytes->data(), 16);
    out.sin6_scope_id = *scope;
    return true;
}

}  // namespace

INT WSAStringToAddressW(LPWSTR addressString, INT addressFamily, LPWSAPROTOCOL_INFOW,
                        LPSOCKADDR address, LPINT addressLength) {
    SIM_API("WSAStringToAddressW");
    if (simFault_) {
        setError(static_cast<int>(*simFault_));
        return SOCKET_ERROR;
    }
    if (!started()) {
        setError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (addressString == nullptr || addressLength == nullptr ||
        (addressFamily != AF_INET && addressFamily != AF_INET6)) {
        setError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    const INT needed = addressFamily == AF_INET ? static_cast<INT>(sizeof(SOCKADDR_IN))
                                                : static_cast<INT>(sizeof(SOCKADDR_IN6));
    if (address == nullptr || *addressLength < needed) {
        *addressLength = needed;
        setError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    SOCKADDR_IN in{};
    SOCKADDR_IN6 in6{};
    const bool parsed = addressFamily == AF_INET ? stringToIPv4(addressString, in)
                                                 : stringToIPv6(addressString, in6);
    if (!parsed) {
        setError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    if (addressFamily == AF_INET) {
        std::memcpy(address, &in, sizeof in);
    } else {
        std::memcpy(address, &in6, sizeof in6);
    }
    *addressLength = needed;
    return 0;
}

INT InetPtonW(INT family, PCWSTR addressString, PVOID address) {
    SIM_API("InetPtonW");
    if (simFault_) {
        setError(static_cast<int>(*simFault_));
        return -1;
    }
    if (addressString == nullptr || address == nullptr) {
        setError(WSAEFAULT);
        return -1;
    }
    // On failure Windows sometimes leaves part of the address written; the simulation
    // leaves the buffer untouched, so that nothing can come to rely on it.
    if (family == AF_INET) {
        const auto bytes = parseDotted(addressString, false);
        if (!bytes) {
            setError(WSAEINVAL);
            return 0;
        }
        std::memcpy(address, bytes->data(), 4);
        return 1;
    }
    if (family == AF_INET6) {
        const auto bytes = parseIPv6(addressString);
        if (!bytes) {
            setError(WSAEINVAL);
            return 0;
        }
        std::memcpy(address, bytes->data(), 16);
        return 1;
    }
    setError(WSAEAFNOSUPPORT);
    return -1;
}

PCWSTR InetNtopW(INT family, const VOID* address, PWSTR stringBuffer, size_t stringBufferSize) {
    SIM_API("InetNtopW");
    if (simFault_) {
        return fail(*simFault_, static_cast<PCWSTR>(nullptr));
    }
    if (family != AF_INET && family != AF_INET6) {
        return fail(WSAEAFNOSUPPORT, static_cast<PCWSTR>(nullptr));
    }
    if (address == nullptr) {
        return fail(WSAEFAULT, static_cast<PCWSTR>(nullptr));
    }
    const auto* bytes = static_cast<const uint8_t*>(address);
    const std::wstring text = family == AF_INET ? dottedText(bytes) : ipv6Text(bytes);
    // Current Windows reports a missing or short buffer as STATUS_INVALID_PARAMETER.
    constexpr DWORD kStatusInvalidParameter = 0xC000000D;
    if (stringBuffer == nullptr || stringBufferSize < text.size() + 1) {
        return fail(kStatusInvalidParameter, static_cast<PCWSTR>(nullptr));
    }
    std::wmemcpy(stringBuffer, text.c_str(), text.size() + 1);
    return stringBuffer;
}
