// Shared inside the simulated firewall: the rule store behind the COM objects.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win.h"
#include "sim/firewall_control.h"

namespace sim::firewall::detail {

// The IID under which a simulated rule answers its own implementation, so that Add can tell
// its rules from foreign objects.
inline constexpr GUID kRuleImplementationIid = {
    0x5f0c2a1e, 0x7d3b, 0x4c55, {0x9a, 0x61, 0x2e, 0x44, 0x13, 0x7b, 0xc0, 0xd9}};

struct StoredRule {
    uint64_t id = 0;
    Rule rule;
};

class Store {
public:
    std::recursive_mutex mutex;

    // Rules in the firewall's order; ids stay valid until the rule is removed.
    std::list<StoredRule> rules;
    std::unordered_map<uint64_t, std::list<StoredRule>::iterator> byId;
    std::unordered_map<std::wstring, std::vector<uint64_t>> byName;  // ids in order of adding
    uint64_t nextId = 1;

    bool running = true;
    uint64_t generation = 1;  // grows with every stop: objects of an older one are dead
    uint32_t stopCode = 0x800706D9;
    bool elevated = true;
    bool rule3 = true;
    ProfileSettings profiles[3];  // domain, private, public
    int32_t currentProfileTypes = 4;
    ChangeHook hook;

    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> failAt{0};  // the overall call number that fails, 0: none
    std::atomic<uint32_t> failCode{0};
    std::atomic<uint64_t> reads{0};
    std::atomic<uint64_t> writes{0};
    std::atomic<int64_t> live{0};

    // Numbers one more call of any firewall method; the code when it is the one to fail.
    std::optional<uint32_t> countCall();
    Rule* find(uint64_t id);
    // The first rule of that name, or 0.
    uint64_t firstNamed(const std::wstring& name) const;
    uint64_t add(const Rule& rule);
    void remove(uint64_t id);
    // Replaces the stored rule, keeping the name index right, and tells the hook.
    void commit(uint64_t id, const Rule& after);
    // S_OK while objects of `objectGeneration` may talk to the service.
    HRESULT reachable(uint64_t objectGeneration) const;
    ProfileSettings* profileOf(LONG type);
    void clear();
};

Store& store();

// Validation and Windows' notation of each property; each answers the HRESULT of the put.
HRESULT checkName(BSTR value);
HRESULT checkDescription(BSTR value);
HRESULT checkRequiredIfSet(BSTR value);  // null clears; an empty string is refused
HRESULT checkPorts(const Rule& rule, BSTR value, bool local, std::wstring& stored);
HRESULT checkAddresses(BSTR value, std::wstring& stored);
HRESULT addressNotation(const std::wstring& value, std::wstring& stored);
HRESULT checkIcmp(const Rule& rule, BSTR value);
HRESULT checkProtocol(const Rule& rule, LONG protocol);
HRESULT checkInterfaceTypes(BSTR value);
HRESULT checkPackageId(BSTR value);
HRESULT checkProfiles(LONG profiles, int32_t& stored);
bool isBool(VARIANT_BOOL value);

std::wstring text(BSTR value);
// A new BSTR of the text, or null for the empty text.
BSTR stringOrNull(const std::wstring& value);

}  // namespace sim::firewall::detail
