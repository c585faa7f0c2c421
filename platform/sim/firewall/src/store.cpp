// The simulated firewall's rule store, its validation of every property as Windows validates
// it, Windows' address notation, and the tests' control side.
#include <algorithm>
#include <array>
#include <cwctype>

#include "firewall_internal.h"
#include "sim/machine.h"

namespace sim::firewall::detail {

namespace {

const HRESULT kInvalidData = static_cast<HRESULT>(0x8007000DL);
// The NTSTATUS-style code with which Windows refuses special IPv6 and broadcast addresses.
const HRESULT kRefusedAddress = static_cast<HRESULT>(0xD000000DL);
const size_t kMaxText = 10000;

bool equalsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

std::vector<std::wstring> split(const std::wstring& value) {
    std::vector<std::wstring> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(L',', start);
        items.push_back(value.substr(start, comma == std::wstring::npos ? comma : comma - start));
        if (comma == std::wstring::npos) {
            return items;
        }
        start = comma + 1;
    }
}

std::wstring join(const std::vector<std::wstring>& items) {
    std::wstring out;
    for (const auto& item : items) {
        out += out.empty() ? L"" : L",";
        out += item;
    }
    return out;
}

bool parseNumber(std::wstring_view text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t result = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(c - L'0');
    }
    if (result > max) {
        return false;
    }
    value = static_cast<uint32_t>(result);
    return true;
}

bool parseIPv4(std::wstring_view text, uint32_t& address) {
    address = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? text.find(L'.') : text.size();
        uint32_t octet = 0;
        if (dot == std::wstring_view::npos || dot > 3 ||
            !parseNumber(text.substr(0, dot), 255, octet)) {
            return false;
        }
        address = (address << 8) | octet;
        text = part < 3 ? text.substr(dot + 1) : std::wstring_view();
    }
    return true;
}

std::wstring dotted(uint32_t address) {
    return std::to_wstring(address >> 24) + L"." + std::to_wstring((address >> 16) & 0xFF) + L"." +
           std::to_wstring((address >> 8) & 0xFF) + L"." + std::to_wstring(address & 0xFF);
}

// Hexadecimal groups with at most one "::"; no embedded IPv4 part.
bool parseIPv6(std::wstring_view text, std::array<uint16_t, 8>& groups) {
    groups.fill(0);
    std::vector<uint16_t> head;
    std::vector<uint16_t> tail;
    bool gap = false;
    const size_t doubleColon = text.find(L"::");
    auto parseGroups = [](std::wstring_view part, std::vector<uint16_t>& out) {
        if (part.empty()) {
            return true;
        }
        for (;;) {
            const size_t colon = part.find(L':');
            const std::wstring_view group = part.substr(0, colon);
            if (group.empty() || group.size() > 4) {
                return false;
            }
            uint32_t value = 0;
            for (const wchar_t c : group) {
                if (!std::iswxdigit(c)) {
                    return false;
                }
                value = value * 16 + static_cast<uint32_t>(std::iswdigit(c)
                                                               ? c - L'0'
                                                               : std::towlower(c) - L'a' + 10);
            }
            out.push_back(static_cast<uint16_t>(value));
            if (colon == std::wstring_view::npos) {
                return true;
            }
            part = part.substr(colon + 1);
        }
    };
    if (doubleColon != std::wstring_view::npos) {
        gap = true;
        if (text.find(L"::", doubleColon + 1) != std::wstring_view::npos ||
            !parseGroups(text.substr(0, doubleColon), head) ||
            !parseGroups(text.substr(doubleColon + 2), tail) || head.size() + tail.size() > 7) {
            return false;
        }
    } else if (!parseGroups(text, head) || head.size() != 8) {
        return false;
    }
    std::copy(head.begin(), head.end(), groups.begin());
    std::copy(tail.begin(), tail.end(), groups.end() - static_cast<ptrdiff_t>(tail.size()));
    return gap || head.size() == 8;
}

bool refusedIPv6(const std::array<uint16_t, 8>& g) {
    const bool zeroHead = std::all_of(g.begin(), g.end() - 1, [](uint16_t v) { return v == 0; });
    return (zeroHead && (g[7] == 0 || g[7] == 1)) || (g[0] & 0xFF00) == 0xFF00;
}

const wchar_t* const kAddressKeywords[] = {
    L"LocalSubnet",       L"DNS",      L"DHCP",       L"WINS", L"DefaultGateway", L"Intranet",
    L"RemoteCorpNetwork", L"Internet", L"Ply2Renders"};

bool isKeyword(const std::wstring& item, const wchar_t* const* begin, const wchar_t* const* end) {
    return std::any_of(begin, end, [&](const wchar_t* k) { return equalsNoCase(item, k); });
}

// One IPv4 item in Windows' notation; an empty result is refused.
HRESULT ipv4Notation(const std::wstring& item, std::wstring& out) {
    uint32_t first = 0;
    uint32_t last = 0;
    if (const size_t dash = item.find(L'-'); dash != std::wstring::npos) {
        if (!parseIPv4(std::wstring_view(item).substr(0, dash), first) ||
            !parseIPv4(std::wstring_view(item).substr(dash + 1), last) || last < first) {
            return E_INVALIDARG;
        }
        out = dotted(first) + L"-" + dotted(last);
        return S_OK;
    }
    const size_t slash = item.find(L'/');
    if (!parseIPv4(std::wstring_view(item).substr(0, slash), first)) {
        return E_INVALIDARG;
    }
    if (slash == std::wstring::npos) {
        if (first == 0xFFFFFFFFu) {
            return kRefusedAddress;
        }
        out = dotted(first) + L"/255.255.255.255";
        return S_OK;
    }
    const std::wstring_view suffix = std::wstring_view(item).substr(slash + 1);
    uint32_t bits = 0;
    uint32_t mask = 0;
    if (parseNumber(suffix, 32, bits)) {
        mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
    } else if (!parseIPv4(suffix, mask) || (mask != 0 && ((~mask + 1) & ~mask) != 0)) {
        return E_INVALIDARG;
    }
    out = dotted(first) + L"/" + dotted(mask);
    return S_OK;
}

HRESULT ipv6Notation(const std::wstring& item, std::wstring& out) {
    const size_t dash = item.find(L'-');
    const size_t slash = item.find(L'/');
    std::array<uint16_t, 8> groups{};
    if (dash != std::wstring::npos) {
        std::array<uint16_t, 8> last{};
        if (!parseIPv6(std::wstring_view(item).substr(0, dash), groups) ||
            !parseIPv6(std::wstring_view(item).substr(dash + 1), last) || last < groups) {
            return E_INVALIDARG;
        }
    } else {
        uint32_t bits = 0;
        if (!parseIPv6(std::wstring_view(item).substr(0, slash), groups) ||
            (slash != std::wstring::npos &&
             !parseNumber(std::wstring_view(item).substr(slash + 1), 128, bits))) {
            return E_INVALIDARG;
        }
        if (slash == std::wstring::npos && refusedIPv6(groups)) {
            return kRefusedAddress;
        }
    }
    out = item;  // IPv6 keeps the notation it was written in
    return S_OK;
}

}  // namespace

HRESULT addressNotation(const std::wstring& value, std::wstring& stored) {
    if (value.empty() || value == L"*") {
        stored.clear();
        return S_OK;
    }
    std::vector<std::wstring> first;
    std::vector<std::wstring> ipv6;
    for (const std::wstring& item : split(value)) {
        std::wstring notation;
        HRESULT hr = S_OK;
        if (item.empty() || item.find(L' ') != std::wstring::npos || item == L"*") {
            hr = E_INVALIDARG;
        } else if (isKeyword(item, std::begin(kAddressKeywords), std::end(kAddressKeywords))) {
            notation = item;  // stored as written
        } else if (item.find(L':') != std::wstring::npos) {
            hr = ipv6Notation(item, notation);
        } else {
            hr = ipv4Notation(item, notation);
        }
        if (FAILED(hr)) {
            return hr;
        }
        (item.find(L':') != std::wstring::npos ? ipv6 : first).push_back(notation);
    }
    // Windows lists IPv4 addresses (and keywords) before IPv6 ones.
    first.insert(first.end(), ipv6.begin(), ipv6.end());
    stored = join(first);
    return S_OK;
}

std::wstring text(BSTR value) {
    return value == nullptr ? std::wstring() : std::wstring(value, SysStringLen(value));
}

BSTR stringOrNull(const std::wstring& value) {
    return value.empty() ? nullptr
                         : SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
}

bool isBool(VARIANT_BOOL value) {
    return value == VARIANT_TRUE || value == VARIANT_FALSE;
}

HRESULT checkName(BSTR value) {
    const std::wstring name = text(value);
    if (name.empty() || name.size() > kMaxText || name.find(L'|') != std::wstring::npos ||
        equalsNoCase(name, L"all")) {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT checkDescription(BSTR value) {
    const std::wstring description = text(value);
    return description.size() > kMaxText || description.find(L'|') != std::wstring::npos
               ? E_INVALIDARG
               : S_OK;
}

// Windows refuses an empty application name (only a null BSTR clears it); for the service
// name the same is assumed, the stricter choice.
HRESULT checkRequiredIfSet(BSTR value) {
    return value != nullptr && (SysStringLen(value) == 0 || SysStringLen(value) > kMaxText)
               ? E_INVALIDARG
               : S_OK;
}

HRESULT checkPorts(const Rule& rule, BSTR value, bool local, std::wstring& stored) {
    if (rule.protocol != 6 && rule.protocol != 17) {
        return E_INVALIDARG;
    }
    const std::wstring ports = text(value);
    if (ports.empty() || ports == L"*") {
        stored.clear();
        return S_OK;
    }
    static const wchar_t* const keywords[] = {L"RPC", L"RPC-EPMap", L"Teredo", L"IPHTTPS",
                                              L"Ply2Disc"};
    for (const std::wstring& item : split(ports)) {
        uint32_t first = 0;
        uint32_t last = 0;
        const size_t dash = item.find(L'-');
        const bool keyword = local && isKeyword(item, std::begin(keywords), std::end(keywords));
        const bool number = dash == std::wstring::npos
                                ? parseNumber(item, 65535, first)
                                : parseNumber(item.substr(0, dash), 65535, first) &&
                                      parseNumber(item.substr(dash + 1), 65535, last) &&
                                      first <= last;
        if (!keyword && !number) {
            return kInvalidData;  // a port text judged malformed
        }
    }
    stored = ports;
    return S_OK;
}

HRESULT checkAddresses(BSTR value, std::wstring& stored) {
    return addressNotation(text(value), stored);
}

HRESULT checkIcmp(const Rule& rule, BSTR value) {
    if (rule.protocol != 1 && rule.protocol != 58) {
        return E_INVALIDARG;
    }
    const std::wstring codes = text(value);
    if (codes.empty() || codes == L"*") {
        return S_OK;
    }
    for (const std::wstring& item : split(codes)) {
        const size_t colon = item.find(L':');
        uint32_t number = 0;
        if (colon == std::wstring::npos || !parseNumber(item.substr(0, colon), 255, number) ||
            (item.substr(colon + 1) != L"*" && !parseNumber(item.substr(colon + 1), 255, number))) {
            return E_INVALIDARG;
        }
    }
    return S_OK;
}

HRESULT checkProtocol(const Rule& rule, LONG protocol) {
    if (protocol < 0 || protocol > 256) {
        return E_INVALIDARG;
    }
    const bool portsAllowed = protocol == 6 || protocol == 17;
    const bool icmpAllowed = protocol == 1 || protocol == 58;
    if ((!portsAllowed && (!rule.localPorts.empty() || !rule.remotePorts.empty())) ||
        (!icmpAllowed && !rule.icmpTypesAndCodes.empty())) {
        return E_INVALIDARG;  // Windows does not clear them for the caller
    }
    return S_OK;
}

HRESULT checkInterfaceTypes(BSTR value) {
    const std::wstring types = text(value);
    if (types.empty() || equalsNoCase(types, L"All")) {
        return S_OK;
    }
    static const wchar_t* const names[] = {L"RemoteAccess", L"Wireless", L"Lan"};
    for (const std::wstring& item : split(types)) {
        if (!isKeyword(item, std::begin(names), std::end(names))) {
            return E_INVALIDARG;
        }
    }
    return S_OK;
}

// A package identity is an AppContainer SID; anything else is refused (unverified: the
// stricter choice).
HRESULT checkPackageId(BSTR value) {
    const std::wstring id = text(value);
    return id.empty() || id.rfind(L"S-1-15-2-", 0) == 0 ? S_OK : E_INVALIDARG;
}

HRESULT checkProfiles(LONG profiles, int32_t& stored) {
    if (profiles == NET_FW_PROFILE2_ALL || profiles == 7) {
        stored = NET_FW_PROFILE2_ALL;  // every profile reads back as the "all" value
        return S_OK;
    }
    if (profiles <= 0 || (profiles & ~7) != 0) {
        return E_INVALIDARG;
    }
    stored = profiles;
    return S_OK;
}

std::optional<uint32_t> Store::countCall() {
    const uint64_t number = ++calls;
    return number == failAt.load() ? std::optional<uint32_t>(failCode.load()) : std::nullopt;
}

Rule* Store::find(uint64_t id) {
    const auto it = byId.find(id);
    return it == byId.end() ? nullptr : &it->second->rule;
}

uint64_t Store::firstNamed(const std::wstring& name) const {
    const auto it = byName.find(name);
    return it == byName.end() || it->second.empty() ? 0 : it->second.front();
}

uint64_t Store::add(const Rule& rule) {
    const uint64_t id = nextId++;
    rules.push_back(StoredRule{id, rule});
    byId[id] = std::prev(rules.end());
    byName[rule.name].push_back(id);
    if (hook) {
        hook(nullptr, &rule);
    }
    return id;
}

void Store::remove(uint64_t id) {
    const auto it = byId.find(id);
    if (it == byId.end()) {
        return;
    }
    const Rule before = it->second->rule;
    auto& ids = byName[before.name];
    ids.erase(std::find(ids.begin(), ids.end(), id));
    if (ids.empty()) {
        byName.erase(before.name);
    }
    rules.erase(it->second);
    byId.erase(it);
    if (hook) {
        hook(&before, nullptr);
    }
}

void Store::commit(uint64_t id, const Rule& after) {
    Rule* rule = find(id);
    const Rule before = *rule;
    if (before.name != after.name) {
        auto& ids = byName[before.name];
        ids.erase(std::find(ids.begin(), ids.end(), id));
        if (ids.empty()) {
            byName.erase(before.name);
        }
        auto& named = byName[after.name];
        // Keep the order of adding among rules of the new name.
        named.insert(std::upper_bound(named.begin(), named.end(), id), id);
    }
    *rule = after;
    if (hook) {
        hook(&before, rule);
    }
}

HRESULT Store::reachable(uint64_t objectGeneration) const {
    return running && objectGeneration == generation ? S_OK : static_cast<HRESULT>(stopCode);
}

ProfileSettings* Store::profileOf(LONG type) {
    switch (type) {
        case NET_FW_PROFILE2_DOMAIN:
            return &profiles[0];
        case NET_FW_PROFILE2_PRIVATE:
            return &profiles[1];
        case NET_FW_PROFILE2_PUBLIC:
            return &profiles[2];
        default:
            return nullptr;  // one profile at a time
    }
}

void Store::clear() {
    rules.clear();
    byId.clear();
    byName.clear();
    running = true;
    ++generation;
    stopCode = 0x800706D9;
    elevated = true;
    rule3 = true;
    for (auto& p : profiles) {
        p = ProfileSettings{};
    }
    currentProfileTypes = 4;
    hook = nullptr;
    reads = 0;
    writes = 0;
    calls = 0;
    failAt = 0;
}

Store& store() {
    static Store* instance = new Store;  // never destroyed: objects may outlive static objects
    return *instance;
}

namespace {
[[maybe_unused]] const bool resetHook = [] {
    sim::onReset([] { sim::firewall::reset(); });
    return true;
}();
}  // namespace

}  // namespace sim::firewall::detail

namespace sim::firewall {

using detail::store;

std::vector<Rule> rules() {
    std::lock_guard lock(store().mutex);
    std::vector<Rule> out;
    out.reserve(store().rules.size());
    for (const auto& stored : store().rules) {
        out.push_back(stored.rule);
    }
    return out;
}

std::optional<Rule> findRule(const std::wstring& name) {
    std::lock_guard lock(store().mutex);
    const uint64_t id = store().firstNamed(name);
    return id == 0 ? std::nullopt : std::optional<Rule>(*store().find(id));
}

void addRule(const Rule& rule) {
    std::lock_guard lock(store().mutex);
    store().add(rule);
}

bool changeRule(const std::wstring& name, const std::function<void(Rule&)>& change) {
    std::lock_guard lock(store().mutex);
    const uint64_t id = store().firstNamed(name);
    if (id == 0) {
        return false;
    }
    Rule after = *store().find(id);
    change(after);
    store().commit(id, after);
    return true;
}

void removeAllRules() {
    std::lock_guard lock(store().mutex);
    while (!store().rules.empty()) {
        store().remove(store().rules.front().id);
    }
}

void setChangeHook(ChangeHook hook) {
    std::lock_guard lock(store().mutex);
    store().hook = std::move(hook);
}

std::optional<std::wstring> windowsAddressNotation(const std::wstring& text) {
    std::wstring stored;
    return SUCCEEDED(detail::addressNotation(text, stored)) ? std::optional(stored) : std::nullopt;
}

ProfileSettings profile(int32_t type) {
    std::lock_guard lock(store().mutex);
    const ProfileSettings* settings = store().profileOf(type);
    return settings == nullptr ? ProfileSettings{} : *settings;
}

void setProfile(int32_t type, const ProfileSettings& settings) {
    std::lock_guard lock(store().mutex);
    if (ProfileSettings* target = store().profileOf(type)) {
        *target = settings;
    }
}

void setCurrentProfileTypes(int32_t mask) {
    std::lock_guard lock(store().mutex);
    store().currentProfileTypes = mask;
}

void stopService(uint32_t code) {
    std::lock_guard lock(store().mutex);
    store().running = false;
    store().stopCode = code;
    ++store().generation;
}

void startService() {
    std::lock_guard lock(store().mutex);
    store().running = true;
}

bool serviceRunning() {
    std::lock_guard lock(store().mutex);
    return store().running;
}

void setElevated(bool elevated) {
    std::lock_guard lock(store().mutex);
    store().elevated = elevated;
}

void setRule3Supported(bool supported) {
    std::lock_guard lock(store().mutex);
    store().rule3 = supported;
}

uint64_t calls() {
    return store().calls.load();
}

void failNthCall(uint64_t number, uint32_t code) {
    store().failCode = code;
    store().failAt = number;
}

uint64_t reads() {
    return store().reads.load();
}

uint64_t writes() {
    return store().writes.load();
}

int64_t liveObjects() {
    return store().live.load();
}

void reset() {
    std::lock_guard lock(store().mutex);
    store().clear();
}

}  // namespace sim::firewall
