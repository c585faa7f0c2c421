// Shared inside the simulated filtering engine: the engine's state, its allocations and the
// Windows version that decides which options and event types exist.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sim/wfp_control.h"

namespace sim::wfp::detail {

struct Session {
    GUID key{};
    std::wstring name;
    std::wstring description;
    uint32_t flags = 0;
};

struct Layer {
    uint16_t id = 0;
    GUID key{};
    std::wstring name;
    std::optional<std::wstring> description;
};

struct Subscription {
    HANDLE engine = nullptr;
    bool netEvents = true;  // else filter changes
    FWPM_NET_EVENT_CALLBACK0 netEventCallback = nullptr;
    FWPM_FILTER_CHANGE_CALLBACK0 filterChangeCallback = nullptr;
    void* context = nullptr;
    uint32_t flags = 0;
    int running = 0;  // callbacks running now
    bool cancelled = false;
};

struct Notification {
    std::shared_ptr<Subscription> subscription;
    std::shared_ptr<const NetEvent> event;  // for network-event subscriptions
    FWPM_FILTER_CHANGE0 change{};           // for filter-change subscriptions
};

// Everything under one mutex: the engine is small, and one lock keeps delivery, unsubscribe
// and reset simple to reason about.
struct Engine {
    std::mutex mutex;
    std::condition_variable work;  // a notification was queued
    std::condition_variable idle;  // a callback ended, or the queue became empty
    bool running = true;
    uintptr_t nextHandle = 0x5000;
    std::map<HANDLE, Session> sessions;
    std::map<HANDLE, std::shared_ptr<Subscription>> subscriptions;
    std::map<uint64_t, Filter> filters;
    uint64_t nextFilterId = 0x10000;
    uint32_t nextKey = 1;
    std::map<uint64_t, LookupQuirk> quirks;
    std::map<uint16_t, Layer> layers;
    std::array<uint32_t, FWPM_ENGINE_OPTION_MAX> options{};
    std::deque<Notification> queue;
    int busy = 0;         // callbacks running now, all subscriptions
    int idleWaiters = 0;  // threads waiting on `idle`
    uint64_t deliveredNetEvents = 0;
    uint64_t deliveredFilterChanges = 0;
    uint64_t dropped = 0;
};

// The engine, created with its two delivery threads on first use.
Engine& engine();
// Starts the engine's delivery threads (once).
void startDelivery(Engine& engine);
// Back to a fresh engine (the machine's reset hook).
void resetEngine();

// A fresh GUID for sessions and filters that come without a key.
GUID freshKey(Engine& engine);

// Queues a notification for every matching subscription; called with the engine's mutex held.
void queueFilterChange(Engine& engine, FWPM_CHANGE_TYPE type, const Filter& filter);

// Ends a subscription: drops its queued notifications and waits for its running callbacks.
// Aborts when called from one of those callbacks (a deadlock on Windows).
void cancel(Engine& engine, std::unique_lock<std::mutex>& lock,
            const std::shared_ptr<Subscription>& subscription);

// Waits on the engine's `idle` condition until `done` holds.
template <typename Done>
void waitFor(Engine& engine, std::unique_lock<std::mutex>& lock, Done done) {
    ++engine.idleWaiters;
    engine.idle.wait(lock, done);
    --engine.idleWaiters;
}

// Whether the machine's Windows is at least this version.
bool windowsAtLeast(uint32_t major, uint32_t minor, uint32_t build = 0);

// --- Allocations handed to the client -----------------------------------------------------

enum class Memory { Engine, RpcString };

// A zeroed block of `size` bytes, recorded as live until freed by the matching function.
void* allocate(size_t size, Memory kind);
// Frees a recorded block of that kind; false (and nothing freed) for any other pointer.
bool release(void* block, Memory kind);
void forgetAllocations();
size_t liveAllocationCount();
size_t badFreeCount();

}  // namespace sim::wfp::detail
