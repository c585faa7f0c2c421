// Sessions, engine options, filters and layers of the simulated filtering engine.
#include <cstring>

#include "internal.h"
#include "sim/version_control.h"
#include "wfp_internal.h"

using sim::wfp::detail::Engine;
using sim::wfp::detail::Memory;

namespace sim::wfp::detail {

GUID freshKey(Engine& engine) {
    GUID key{};
    key.Data1 = 0x7a6e0000u | engine.nextKey++;
    key.Data2 = 0x5eed;
    key.Data3 = 0x4000;
    key.Data4[0] = 0x80;
    std::memcpy(&key.Data4[4], &key.Data1, 4);
    return key;
}

bool windowsAtLeast(uint32_t major, uint32_t minor, uint32_t build) {
    const auto version = sim::version::osVersion();
    if (version.major != major) {
        return version.major > major;
    }
    if (version.minor != minor) {
        return version.minor > minor;
    }
    return version.build >= build;
}

}  // namespace sim::wfp::detail

namespace {

using namespace sim::wfp::detail;

constexpr uint32_t kKeywordsOfWindows7 =
    FWPM_NET_EVENT_KEYWORD_INBOUND_MCAST | FWPM_NET_EVENT_KEYWORD_INBOUND_BCAST;
constexpr uint32_t kKeywordsOfWindows8 =
    kKeywordsOfWindows7 | FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP |
    FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW | FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW;

bool isZero(const GUID& key) {
    return key == GUID{};
}

// Copies a text behind the structure in the same block; returns where the next one goes.
wchar_t* place(wchar_t* at, const std::wstring& text, wchar_t*& field) {
    std::wmemcpy(at, text.c_str(), text.size() + 1);
    field = at;
    return at + text.size() + 1;
}

size_t textBytes(const std::optional<std::wstring>& text) {
    return text ? (text->size() + 1) * sizeof(wchar_t) : 0;
}

// One block: the record, then its name and description.
template <typename Record>
Record* allocateWithTexts(const std::wstring& name, const std::optional<std::wstring>& description,
                          FWPM_DISPLAY_DATA0 Record::*display) {
    const size_t size = sizeof(Record) + textBytes(name) + textBytes(description);
    auto* record = static_cast<Record*>(allocate(size, Memory::Engine));
    if (record == nullptr) {
        return nullptr;
    }
    auto* texts = reinterpret_cast<wchar_t*>(record + 1);
    texts = place(texts, name, (record->*display).name);
    if (description) {
        place(texts, *description, (record->*display).description);
    }
    return record;
}

FWPM_FILTER0* copyOf(const sim::wfp::Filter& filter) {
    auto* record = allocateWithTexts<FWPM_FILTER0>(filter.name, filter.description,
                                                   &FWPM_FILTER0::displayData);
    if (record != nullptr) {
        record->filterKey = filter.key;
        record->layerKey = filter.layerKey;
        record->filterId = filter.id;
        record->action.type = 0x00001001;  // FWP_ACTION_BLOCK
        record->weight.type = FWP_EMPTY;
        record->effectiveWeight.type = FWP_UINT64;
    }
    return record;
}

FWPM_LAYER0* copyOf(const Layer& layer) {
    auto* record =
        allocateWithTexts<FWPM_LAYER0>(layer.name, layer.description, &FWPM_LAYER0::displayData);
    if (record != nullptr) {
        record->layerKey = layer.key;
        record->layerId = layer.id;
    }
    return record;
}

void addBuiltInLayers(Engine& engine) {
    for (const auto& layer : {sim::wfp::kLayerAuthConnectV4, sim::wfp::kLayerAuthConnectV6,
                              sim::wfp::kLayerAuthRecvAcceptV4, sim::wfp::kLayerAuthRecvAcceptV6,
                              sim::wfp::kLayerInboundTransportV4}) {
        GUID key{};
        key.Data1 = 0x1a7e0000u | layer.id;
        key.Data4[0] = 0x90;
        engine.layers[layer.id] = Layer{layer.id, key, layer.name, L""};
    }
}

void resetOptions(Engine& engine) {
    engine.options.fill(0);
    engine.options[FWPM_ENGINE_COLLECT_NET_EVENTS] = 1;
}

// The session of an engine handle, or null.
Session* sessionOf(Engine& engine, HANDLE handle) {
    const auto it = engine.sessions.find(handle);
    return it == engine.sessions.end() ? nullptr : &it->second;
}

// Whether the option exists on the machine's Windows.
bool optionExists(FWPM_ENGINE_OPTION option) {
    switch (option) {
        case FWPM_ENGINE_COLLECT_NET_EVENTS:
        case FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS:
        case FWPM_ENGINE_NAME_CACHE:
            return true;
        case FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS:
        case FWPM_ENGINE_PACKET_QUEUING:
        case FWPM_ENGINE_TXN_WATCHDOG_TIMEOUT_IN_MSEC:
            return windowsAtLeast(6, 2);
        default:
            return false;
    }
}

uint32_t allowedKeywords() {
    if (!windowsAtLeast(6, 2)) {
        return kKeywordsOfWindows7;
    }
    return windowsAtLeast(10, 0, 18362)
               ? kKeywordsOfWindows8 | FWPM_NET_EVENT_KEYWORD_PORT_SCANNING_DROP
               : kKeywordsOfWindows8;
}

// The new value's check; unverified codes are the stricter choice (see README.md).
DWORD checkOptionValue(Engine& engine, FWPM_ENGINE_OPTION option, uint32_t value) {
    switch (option) {
        case FWPM_ENGINE_COLLECT_NET_EVENTS:
            return value <= 1 ? ERROR_SUCCESS : FWP_E_OUT_OF_BOUNDS;
        case FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS:
            return (value & ~allowedKeywords()) == 0 ? ERROR_SUCCESS : FWP_E_INVALID_FLAGS;
        case FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS:
            if (value == 0 && engine.options[option] != 0) {
                return FWP_E_STILL_ON;
            }
            return value <= 1 ? ERROR_SUCCESS : FWP_E_OUT_OF_BOUNDS;
        default:
            return ERROR_SUCCESS;
    }
}

}  // namespace

namespace sim::wfp::detail {

Engine& engine() {
    static Engine* instance = [] {
        auto* created = new Engine;  // never destroyed: its threads outlive static destructors
        resetOptions(*created);
        addBuiltInLayers(*created);
        startDelivery(*created);
        sim::onReset(resetEngine);
        return created;
    }();
    return *instance;
}

}  // namespace sim::wfp::detail

// --- Sessions -----------------------------------------------------------------------------

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService,
                             SEC_WINNT_AUTH_IDENTITY_W*, const FWPM_SESSION0* session,
                             HANDLE* engineHandle) {
    SIM_API("FwpmEngineOpen0");
    if (simFault_) {
        return *simFault_;
    }
    // Only the local engine can be reached (unverified error code, the stricter choice).
    if (serverName != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (authnService != RPC_C_AUTHN_WINNT && authnService != RPC_C_AUTHN_DEFAULT) {
        return RPC_S_UNKNOWN_AUTHN_SERVICE;
    }
    if (engineHandle == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    if (!engine.running) {
        return EPT_S_NOT_REGISTERED;
    }
    Session created;
    if (session != nullptr) {
        if ((session->flags & ~(FWPM_SESSION_FLAG_DYNAMIC | FWPM_SESSION_FLAG_RESERVED)) != 0) {
            return FWP_E_INVALID_FLAGS;
        }
        if (!isZero(session->sessionKey)) {
            for (const auto& [handle, open] : engine.sessions) {
                if (open.key == session->sessionKey) {
                    return FWP_E_ALREADY_EXISTS;
                }
            }
        }
        created.key = session->sessionKey;
        created.name = session->displayData.name ? session->displayData.name : L"";
        created.description =
            session->displayData.description ? session->displayData.description : L"";
        created.flags = session->flags;
    }
    // The engine makes a key for a session without one; the caller's record is const and
    // keeps its zero key.
    if (isZero(created.key)) {
        created.key = freshKey(engine);
    }
    auto* handle = reinterpret_cast<HANDLE>(engine.nextHandle);
    engine.nextHandle += 4;
    engine.sessions.emplace(handle, std::move(created));
    *engineHandle = handle;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
    SIM_API("FwpmEngineClose0");
    if (simFault_) {
        return *simFault_;
    }
    auto& engine = sim::wfp::detail::engine();
    std::unique_lock lock(engine.mutex);
    if (sessionOf(engine, engineHandle) == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    // Closing a session ends its subscriptions, waiting for their running callbacks.
    for (auto it = engine.subscriptions.begin(); it != engine.subscriptions.end();) {
        if (it->second->engine == engineHandle) {
            const auto subscription = it->second;
            cancel(engine, lock, subscription);
            engine.subscriptions.erase(it);
            it = engine.subscriptions.begin();
        } else {
            ++it;
        }
    }
    engine.sessions.erase(engineHandle);
    return ERROR_SUCCESS;
}

// --- Options ------------------------------------------------------------------------------

DWORD WINAPI FwpmEngineSetOption0(HANDLE engineHandle, FWPM_ENGINE_OPTION option,
                                  const FWP_VALUE0* newValue) {
    SIM_API("FwpmEngineSetOption0");
    if (simFault_) {
        return *simFault_;
    }
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    const Session* session = sessionOf(engine, engineHandle);
    if (session == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (newValue == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    if ((session->flags & FWPM_SESSION_FLAG_DYNAMIC) != 0) {
        return FWP_E_DYNAMIC_SESSION_IN_PROGRESS;
    }
    if (!optionExists(option)) {
        return FWP_E_INVALID_ENUMERATOR;
    }
    if (newValue->type != FWP_UINT32) {
        return FWP_E_TYPE_MISMATCH;
    }
    if (const DWORD refused = checkOptionValue(engine, option, newValue->uint32);
        refused != ERROR_SUCCESS) {
        return refused;
    }
    engine.options[option] = newValue->uint32;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmEngineGetOption0(HANDLE engineHandle, FWPM_ENGINE_OPTION option,
                                  FWP_VALUE0** value) {
    SIM_API("FwpmEngineGetOption0");
    if (simFault_) {
        return *simFault_;
    }
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    if (sessionOf(engine, engineHandle) == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (value == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    if (!optionExists(option)) {
        return FWP_E_INVALID_ENUMERATOR;
    }
    auto* copy = static_cast<FWP_VALUE0*>(allocate(sizeof(FWP_VALUE0), Memory::Engine));
    if (copy == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    copy->type = FWP_UINT32;
    copy->uint32 = engine.options[option];
    *value = copy;
    return ERROR_SUCCESS;
}

// --- Filters and layers -------------------------------------------------------------------

namespace {

template <typename Find>
DWORD lookUpFilter(HANDLE engineHandle, FWPM_FILTER0** filter, Find find) {
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    if (sessionOf(engine, engineHandle) == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (filter == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    const sim::wfp::Filter* found = find(engine);
    if (found == nullptr) {
        return FWP_E_FILTER_NOT_FOUND;
    }
    if (const auto quirk = engine.quirks.find(found->id);
        quirk != engine.quirks.end() && quirk->second == sim::wfp::LookupQuirk::NullResult) {
        *filter = nullptr;
        return ERROR_SUCCESS;
    }
    *filter = copyOf(*found);
    return *filter != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

template <typename Find>
DWORD lookUpLayer(HANDLE engineHandle, FWPM_LAYER0** layer, Find find) {
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    if (sessionOf(engine, engineHandle) == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (layer == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    const Layer* found = find(engine);
    if (found == nullptr) {
        return FWP_E_LAYER_NOT_FOUND;
    }
    *layer = copyOf(*found);
    return *layer != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace

DWORD WINAPI FwpmFilterGetById0(HANDLE engineHandle, UINT64 id, FWPM_FILTER0** filter) {
    SIM_API("FwpmFilterGetById0");
    if (simFault_) {
        return *simFault_;
    }
    return lookUpFilter(engineHandle, filter, [id](Engine& engine) -> const sim::wfp::Filter* {
        const auto it = engine.filters.find(id);
        return it == engine.filters.end() ? nullptr : &it->second;
    });
}

DWORD WINAPI FwpmFilterGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_FILTER0** filter) {
    SIM_API("FwpmFilterGetByKey0");
    if (simFault_) {
        return *simFault_;
    }
    if (key == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    return lookUpFilter(engineHandle, filter, [key](Engine& engine) -> const sim::wfp::Filter* {
        for (const auto& [id, candidate] : engine.filters) {
            if (candidate.key == *key) {
                return &candidate;
            }
        }
        return nullptr;
    });
}

DWORD WINAPI FwpmLayerGetById0(HANDLE engineHandle, UINT16 id, FWPM_LAYER0** layer) {
    SIM_API("FwpmLayerGetById0");
    if (simFault_) {
        return *simFault_;
    }
    return lookUpLayer(engineHandle, layer, [id](Engine& engine) -> const Layer* {
        const auto it = engine.layers.find(id);
        return it == engine.layers.end() ? nullptr : &it->second;
    });
}

DWORD WINAPI FwpmLayerGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_LAYER0** layer) {
    SIM_API("FwpmLayerGetByKey0");
    if (simFault_) {
        return *simFault_;
    }
    if (key == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    return lookUpLayer(engineHandle, layer, [key](Engine& engine) -> const Layer* {
        for (const auto& [id, candidate] : engine.layers) {
            if (candidate.key == *key) {
                return &candidate;
            }
        }
        return nullptr;
    });
}

// --- Control ------------------------------------------------------------------------------

namespace sim::wfp {

uint64_t addFilter(const std::wstring& name, std::optional<std::wstring> description,
                   const GUID& layerKey, const GUID& key) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    Filter filter{engine.nextFilterId++, isZero(key) ? detail::freshKey(engine) : key, name,
                  std::move(description), layerKey};
    detail::queueFilterChange(engine, FWPM_CHANGE_ADD, filter);
    const uint64_t id = filter.id;
    engine.filters.emplace(id, std::move(filter));
    return id;
}

bool removeFilter(uint64_t id) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    const auto it = engine.filters.find(id);
    if (it == engine.filters.end()) {
        return false;
    }
    detail::queueFilterChange(engine, FWPM_CHANGE_DELETE, it->second);
    engine.filters.erase(it);
    engine.quirks.erase(id);
    return true;
}

size_t removeFiltersNamed(const std::wstring& name) {
    std::vector<uint64_t> ids;
    for (const auto& filter : filters()) {
        if (filter.name == name) {
            ids.push_back(filter.id);
        }
    }
    size_t removed = 0;
    for (const uint64_t id : ids) {
        removed += removeFilter(id) ? 1 : 0;
    }
    return removed;
}

std::optional<Filter> filter(uint64_t id) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    const auto it = engine.filters.find(id);
    return it == engine.filters.end() ? std::nullopt : std::optional<Filter>(it->second);
}

std::vector<Filter> filters() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    std::vector<Filter> all;
    for (const auto& [id, filter] : engine.filters) {
        all.push_back(filter);
    }
    return all;
}

void setFilterLookupQuirk(uint64_t id, LookupQuirk quirk) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    engine.quirks[id] = quirk;
}

void addLayer(uint16_t id, const GUID& key, const std::wstring& name,
              std::optional<std::wstring> description) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    engine.layers[id] = detail::Layer{id, key, name, std::move(description)};
}

void setEngineRunning(bool running) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    engine.running = running;
}

uint32_t option(FWPM_ENGINE_OPTION option) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    return option < FWPM_ENGINE_OPTION_MAX ? engine.options[option] : 0;
}

size_t openSessions() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    return engine.sessions.size();
}

std::vector<SessionInfo> sessions() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    std::vector<SessionInfo> all;
    for (const auto& [handle, session] : engine.sessions) {
        all.push_back({session.name, session.description, session.flags});
    }
    return all;
}

}  // namespace sim::wfp

namespace sim::wfp::detail {

// No sessions, subscriptions or filters, the built-in layers, default options, the service
// running.
void resetEngine() {
    auto& engine = detail::engine();
    std::unique_lock lock(engine.mutex);
    while (!engine.subscriptions.empty()) {
        const auto subscription = engine.subscriptions.begin()->second;
        cancel(engine, lock, subscription);
        engine.subscriptions.erase(engine.subscriptions.begin());
    }
    engine.queue.clear();
    engine.sessions.clear();
    engine.filters.clear();
    engine.quirks.clear();
    engine.layers.clear();
    addBuiltInLayers(engine);
    resetOptions(engine);
    engine.running = true;
    engine.deliveredNetEvents = engine.deliveredFilterChanges = engine.dropped = 0;
    forgetAllocations();
}

}  // namespace sim::wfp::detail
