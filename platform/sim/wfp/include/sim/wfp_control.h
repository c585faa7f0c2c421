// Test-control side of the simulated filtering engine (sim/win/wfp.h).
//
// The engine holds filters and layers, engine-wide options and the sessions that clients open.
// Network events and filter changes made here are queued and delivered asynchronously to the
// subscriptions by two engine threads, so that two callbacks can run at the same time, as on
// Windows. What Windows does and the engine copies:
//   - options are engine-wide and outlive sessions; COLLECT_NET_EVENTS starts at 1, the
//     keywords at 0; MONITOR_IPSEC_CONNECTIONS exists from Windows 8 on and cannot be switched
//     off again; dynamic sessions cannot set options;
//   - events are delivered only while COLLECT_NET_EVENTS is 1; classify-allow and capability
//     events only when their keyword is set; event types 6 to 9 only from Windows 8 on;
//   - Unsubscribe and EngineClose wait for the subscription's running callbacks; calling them
//     from inside such a callback deadlocks on Windows and aborts the simulated process;
//   - closing a session ends its subscriptions;
//   - every structure the engine returns is one allocation that FwpmFreeMemory0 frees; the
//     engine counts them, so a test can see leaks and double frees.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/win/wfp.h"

namespace sim::wfp {

// --- Filters and layers -------------------------------------------------------------------

struct Filter {
    uint64_t id = 0;
    GUID key{};
    std::wstring name;
    std::optional<std::wstring> description;  // none: a null description, as some filters have
    GUID layerKey{};
};

// Adds a filter (as a Windows Firewall rule does when it is enabled) and notifies the
// filter-change subscribers. A zero key gets a fresh one. Returns the new filter's id; ids
// are never reused.
uint64_t addFilter(const std::wstring& name, std::optional<std::wstring> description = L"",
                   const GUID& layerKey = GUID{}, const GUID& key = GUID{});
// Removes a filter and notifies the subscribers; false when there is none with that id.
bool removeFilter(uint64_t id);
// Removes every filter with that display name; the number removed.
size_t removeFiltersNamed(const std::wstring& name);
std::optional<Filter> filter(uint64_t id);
std::vector<Filter> filters();

// What FwpmFilterGetById0 answers for one filter id, beyond the normal answer.
enum class LookupQuirk {
    None,
    NullResult,  // success with a null filter, as Windows sometimes answers
};
void setFilterLookupQuirk(uint64_t id, LookupQuirk quirk);

// Layers by id and key. A reset leaves a few built-in layers (kLayer... below).
void addLayer(uint16_t id, const GUID& key, const std::wstring& name,
              std::optional<std::wstring> description = L"");

struct BuiltInLayer {
    uint16_t id;
    const wchar_t* name;
};
inline constexpr BuiltInLayer kLayerAuthConnectV4{48, L"ALE Connect v4 Layer"};
inline constexpr BuiltInLayer kLayerAuthConnectV6{50, L"ALE Connect v6 Layer"};
inline constexpr BuiltInLayer kLayerAuthRecvAcceptV4{44, L"ALE Receive/Accept v4 Layer"};
inline constexpr BuiltInLayer kLayerAuthRecvAcceptV6{46, L"ALE Receive/Accept v6 Layer"};
inline constexpr BuiltInLayer kLayerInboundTransportV4{12, L"Inbound Transport v4 Layer"};

// --- Network events -----------------------------------------------------------------------

// One network event as the engine records it; the engine turns it into an FWPM_NET_EVENT1
// whose buffers are exactly as long as their data.
struct NetEvent {
    uint32_t type = FWPM_NET_EVENT_TYPE_CLASSIFY_DROP;
    uint32_t flags = 0;  // FWPM_NET_EVENT_FLAG_*
    uint32_t ipVersion = FWP_IP_VERSION_V4;
    uint8_t ipProtocol = 0;
    uint32_t localV4 = 0;  // host byte order, as in the header
    uint32_t remoteV4 = 0;
    std::array<uint8_t, 16> localV6{};
    std::array<uint8_t, 16> remoteV6{};
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    std::vector<uint8_t> appId;    // the identifier's bytes, exactly (UTF-16LE, usually with NUL)
    std::vector<uint8_t> userSid;  // a SID's bytes (see sidBytes)
    // Classify drops (and the filter of IPsec kernel drops).
    uint64_t filterId = 0;
    uint16_t layerId = 0;
    uint32_t direction = FWP_DIRECTION_IN;
    bool loopback = false;
};

// The application identifier of a path as Windows gives it: UTF-16LE with the final NUL.
std::vector<uint8_t> appIdBytes(const std::wstring& path);
// The bytes of a SID given as text ("S-1-5-18"); empty when the text is no SID.
std::vector<uint8_t> sidBytes(const std::wstring& text);

// Queues the event for every network-event subscription. Returns false when the engine does
// not deliver it (collection off, keyword missing, type unknown to the Windows version).
bool raiseNetEvent(const NetEvent& event);

// --- Engine state and delivery ------------------------------------------------------------

// Waits until every queued notification has been delivered and no callback runs.
void waitIdle();
// Callbacks run so far (network events and filter changes), and notifications dropped
// because their subscription ended before delivery.
uint64_t deliveredNetEvents();
uint64_t deliveredFilterChanges();
uint64_t droppedNotifications();

// The filtering engine service: while stopped, FwpmEngineOpen0 fails with
// EPT_S_NOT_REGISTERED. Stopping it does not end open sessions.
void setEngineRunning(bool running);

// Engine-wide options as the engine holds them (set by clients through FwpmEngineSetOption0).
uint32_t option(FWPM_ENGINE_OPTION option);

size_t openSessions();
size_t subscriptions();
// Display name and flags of the open sessions, in the order they were opened.
struct SessionInfo {
    std::wstring name;
    std::wstring description;
    uint32_t flags = 0;
};
std::vector<SessionInfo> sessions();

// Allocations handed out and not yet freed, and frees of a pointer the engine did not hand
// out or had already freed.
size_t liveAllocations();
size_t badFrees();

}  // namespace sim::wfp
