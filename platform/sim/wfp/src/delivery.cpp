// Subscriptions of the simulated filtering engine and the two engine threads that deliver
// network events and filter changes to them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "internal.h"
#include "wfp_internal.h"

namespace sim::wfp::detail {
namespace {

constexpr int kDeliveryThreads = 2;

// The subscription whose callback this thread runs now, to catch a callback that ends its own
// subscription: Windows would wait for the callback for ever.
thread_local const Subscription* tlRunning = nullptr;

template <typename T>
T* zeroed(std::unique_ptr<T>& owner) {
    owner = std::make_unique<T>();
    return owner.get();
}

// The FWPM_NET_EVENT1 of one recorded event, with buffers exactly as long as their data, so
// that a read past them is caught by the sanitizers.
class BuiltEvent {
public:
    explicit BuiltEvent(const NetEvent& from) {
        auto& header = m_event.header;
        GetSystemTimeAsFileTime(&header.timeStamp);
        header.flags = from.flags;
        header.ipVersion = static_cast<FWP_IP_VERSION>(from.ipVersion);
        header.ipProtocol = from.ipProtocol;
        if (from.ipVersion == FWP_IP_VERSION_V6) {
            std::memcpy(header.localAddrV6.byteArray16, from.localV6.data(), 16);
            std::memcpy(header.remoteAddrV6.byteArray16, from.remoteV6.data(), 16);
        } else {
            header.localAddrV4 = from.localV4;
            header.remoteAddrV4 = from.remoteV4;
        }
        header.localPort = from.localPort;
        header.remotePort = from.remotePort;
        header.appId.size = static_cast<UINT32>(from.appId.size());
        header.appId.data = copy(from.appId, m_appId);
        header.userId = reinterpret_cast<SID*>(copy(from.userSid, m_sid));
        m_event.type = static_cast<FWPM_NET_EVENT_TYPE>(from.type);
        fillDetails(from);
    }

    const FWPM_NET_EVENT1* get() const { return &m_event; }

private:
    static UINT8* copy(const std::vector<uint8_t>& bytes, std::unique_ptr<uint8_t[]>& owner) {
        if (bytes.empty()) {
            return nullptr;
        }
        owner = std::make_unique<uint8_t[]>(bytes.size());
        std::memcpy(owner.get(), bytes.data(), bytes.size());
        return owner.get();
    }

    // The union member of the type; types 6 and later have none in this structure version.
    void fillDetails(const NetEvent& from) {
        switch (from.type) {
            case FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE:
                m_event.ikeMmFailure = zeroed(m_mm);
                break;
            case FWPM_NET_EVENT_TYPE_IKEEXT_QM_FAILURE:
                m_event.ikeQmFailure = zeroed(m_qm);
                break;
            case FWPM_NET_EVENT_TYPE_IKEEXT_EM_FAILURE:
                m_event.ikeEmFailure = zeroed(m_em);
                break;
            case FWPM_NET_EVENT_TYPE_CLASSIFY_DROP: {
                auto* drop = zeroed(m_classifyDrop);
                drop->filterId = from.filterId;
                drop->layerId = from.layerId;
                drop->msFwpDirection = from.direction;
                drop->isLoopback = from.loopback ? TRUE : FALSE;
                m_event.classifyDrop = drop;
                break;
            }
            case FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP: {
                auto* drop = zeroed(m_ipsecDrop);
                drop->filterId = from.filterId;
                drop->layerId = from.layerId;
                drop->direction = from.direction == FWP_DIRECTION_OUT ? FWP_DIRECTION_OUTBOUND
                                                                      : FWP_DIRECTION_INBOUND;
                m_event.ipsecDrop = drop;
                break;
            }
            case FWPM_NET_EVENT_TYPE_IPSEC_DOSP_DROP:
                m_event.idpDrop = zeroed(m_dospDrop);
                m_dospDrop->ipVersion = static_cast<FWP_IP_VERSION>(from.ipVersion);
                break;
            default:
                break;
        }
    }

    FWPM_NET_EVENT1 m_event{};
    std::unique_ptr<uint8_t[]> m_appId;
    std::unique_ptr<uint8_t[]> m_sid;
    std::unique_ptr<FWPM_NET_EVENT_IKEEXT_MM_FAILURE1> m_mm;
    std::unique_ptr<FWPM_NET_EVENT_IKEEXT_QM_FAILURE0> m_qm;
    std::unique_ptr<FWPM_NET_EVENT_IKEEXT_EM_FAILURE1> m_em;
    std::unique_ptr<FWPM_NET_EVENT_CLASSIFY_DROP1> m_classifyDrop;
    std::unique_ptr<FWPM_NET_EVENT_IPSEC_KERNEL_DROP0> m_ipsecDrop;
    std::unique_ptr<FWPM_NET_EVENT_IPSEC_DOSP_DROP0> m_dospDrop;
};

void deliver(const Notification& notification) {
    const Subscription& subscription = *notification.subscription;
    if (subscription.netEvents) {
        const BuiltEvent event(*notification.event);
        subscription.netEventCallback(subscription.context, event.get());
    } else {
        const FWPM_FILTER_CHANGE0 change = notification.change;
        subscription.filterChangeCallback(subscription.context, &change);
    }
}

// Wakes the threads that wait for the engine to be idle or for a subscription's callbacks;
// nobody is woken while nobody waits.
void notifyWaiters(Engine& engine) {
    if (engine.idleWaiters > 0) {
        engine.idle.notify_all();
    }
}

void deliveryLoop(Engine& engine) {
    std::unique_lock lock(engine.mutex);
    for (;;) {
        engine.work.wait(lock, [&] { return !engine.queue.empty(); });
        Notification next = std::move(engine.queue.front());
        engine.queue.pop_front();
        Subscription& subscription = *next.subscription;
        if (subscription.cancelled) {
            ++engine.dropped;
            notifyWaiters(engine);
            continue;
        }
        ++subscription.running;
        ++engine.busy;
        lock.unlock();
        tlRunning = &subscription;
        deliver(next);
        tlRunning = nullptr;
        lock.lock();
        --subscription.running;
        --engine.busy;
        ++(subscription.netEvents ? engine.deliveredNetEvents : engine.deliveredFilterChanges);
        notifyWaiters(engine);
    }
}

// Whether the engine records an event of this type under the current options and version.
bool collected(const Engine& engine, uint32_t type) {
    if (engine.options[FWPM_ENGINE_COLLECT_NET_EVENTS] == 0) {
        return false;
    }
    const uint32_t keywords = engine.options[FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS];
    switch (type) {
        case FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE:
        case FWPM_NET_EVENT_TYPE_IKEEXT_QM_FAILURE:
        case FWPM_NET_EVENT_TYPE_IKEEXT_EM_FAILURE:
        case FWPM_NET_EVENT_TYPE_CLASSIFY_DROP:
        case FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP:
        case FWPM_NET_EVENT_TYPE_IPSEC_DOSP_DROP:
            return true;
        case FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW:
            return windowsAtLeast(6, 2) && (keywords & FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW) != 0;
        case FWPM_NET_EVENT_TYPE_CAPABILITY_DROP:
            return windowsAtLeast(6, 2) && (keywords & FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP) != 0;
        case FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW:
            return windowsAtLeast(6, 2) &&
                   (keywords & FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW) != 0;
        case FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC:
            return windowsAtLeast(6, 2);
        case FWPM_NET_EVENT_TYPE_LPM_PACKET_ARRIVAL:
            return windowsAtLeast(10, 0);
        default:
            return false;
    }
}

bool isZero(const GUID& key) {
    return key == GUID{};
}

// The checks both kinds of subscription make; ERROR_SUCCESS when the request is acceptable.
DWORD checkSubscription(const Engine& engine, HANDLE engineHandle, const void* subscription,
                        const void* callback, const HANDLE* handle, const GUID& sessionKey) {
    const auto session = engine.sessions.find(engineHandle);
    if (session == engine.sessions.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if (subscription == nullptr || callback == nullptr || handle == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    // A zero key is accepted (widely used); a key of another session is refused (unverified,
    // the stricter choice).
    if (!isZero(sessionKey) && !(sessionKey == session->second.key)) {
        return FWP_E_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

HANDLE insertSubscription(Engine& engine, std::shared_ptr<Subscription> subscription) {
    auto* handle = reinterpret_cast<HANDLE>(engine.nextHandle);
    engine.nextHandle += 4;
    engine.subscriptions.emplace(handle, std::move(subscription));
    return handle;
}

DWORD unsubscribe(HANDLE engineHandle, HANDLE handle, bool netEvents) {
    auto& engine = detail::engine();
    std::unique_lock lock(engine.mutex);
    if (engine.sessions.find(engineHandle) == engine.sessions.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if (handle == nullptr) {
        return ERROR_SUCCESS;  // nothing to end, as on Windows
    }
    const auto it = engine.subscriptions.find(handle);
    if (it == engine.subscriptions.end() || it->second->engine != engineHandle ||
        it->second->netEvents != netEvents) {
        return ERROR_INVALID_HANDLE;
    }
    const auto subscription = it->second;
    cancel(engine, lock, subscription);
    engine.subscriptions.erase(handle);
    return ERROR_SUCCESS;
}

}  // namespace

void startDelivery(Engine& engine) {
    for (int i = 0; i < kDeliveryThreads; ++i) {
        std::thread([&engine] { deliveryLoop(engine); }).detach();
    }
}

void cancel(Engine& engine, std::unique_lock<std::mutex>& lock,
            const std::shared_ptr<Subscription>& subscription) {
    if (tlRunning == subscription.get()) {
        std::fputs(
            "simulated filtering engine: a callback ended its own subscription; on Windows "
            "this waits for the callback for ever\n",
            stderr);
        std::abort();
    }
    subscription->cancelled = true;
    const auto before = engine.queue.size();
    std::erase_if(engine.queue,
                  [&](const Notification& queued) { return queued.subscription == subscription; });
    engine.dropped += before - engine.queue.size();
    waitFor(engine, lock, [&] { return subscription->running == 0; });
    notifyWaiters(engine);
}

void queueFilterChange(Engine& engine, FWPM_CHANGE_TYPE type, const Filter& filter) {
    const uint32_t wanted = type == FWPM_CHANGE_ADD ? FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD
                                                    : FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE;
    for (const auto& [handle, subscription] : engine.subscriptions) {
        if (!subscription->netEvents && (subscription->flags & wanted) != 0) {
            Notification notification{subscription, nullptr, {}};
            notification.change.changeType = type;
            notification.change.filterKey = filter.key;
            notification.change.filterId = filter.id;
            engine.queue.push_back(std::move(notification));
        }
    }
    engine.work.notify_all();
}

}  // namespace sim::wfp::detail

using sim::wfp::detail::Engine;
using sim::wfp::detail::Subscription;

DWORD WINAPI FwpmNetEventSubscribe0(HANDLE engineHandle,
                                    const FWPM_NET_EVENT_SUBSCRIPTION0* subscription,
                                    FWPM_NET_EVENT_CALLBACK0 callback, void* context,
                                    HANDLE* eventsHandle) {
    SIM_API("FwpmNetEventSubscribe0");
    if (simFault_) {
        return *simFault_;
    }
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    if (const DWORD refused = sim::wfp::detail::checkSubscription(
            engine, engineHandle, subscription, reinterpret_cast<const void*>(callback),
            eventsHandle, subscription != nullptr ? subscription->sessionKey : GUID{});
        refused != ERROR_SUCCESS) {
        return refused;
    }
    // The flags are reserved (unverified that Windows refuses others: the stricter choice).
    if (subscription->flags != 0) {
        return FWP_E_INVALID_FLAGS;
    }
    const FWPM_NET_EVENT_ENUM_TEMPLATE0* conditions = subscription->enumTemplate;
    if (conditions != nullptr && conditions->numFilterConditions > 0 &&
        conditions->filterCondition == nullptr) {
        return FWP_E_NULL_POINTER;
    }
    auto created = std::make_shared<Subscription>();
    created->engine = engineHandle;
    created->netEvents = true;
    created->netEventCallback = callback;
    created->context = context;
    *eventsHandle = sim::wfp::detail::insertSubscription(engine, std::move(created));
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmNetEventUnsubscribe0(HANDLE engineHandle, HANDLE eventsHandle) {
    SIM_API("FwpmNetEventUnsubscribe0");
    if (simFault_) {
        return *simFault_;
    }
    return sim::wfp::detail::unsubscribe(engineHandle, eventsHandle, true);
}

DWORD WINAPI FwpmFilterSubscribeChanges0(HANDLE engineHandle,
                                         const FWPM_FILTER_SUBSCRIPTION0* subscription,
                                         FWPM_FILTER_CHANGE_CALLBACK0 callback, void* context,
                                         HANDLE* changeHandle) {
    SIM_API("FwpmFilterSubscribeChanges0");
    if (simFault_) {
        return *simFault_;
    }
    auto& engine = sim::wfp::detail::engine();
    std::lock_guard lock(engine.mutex);
    if (const DWORD refused = sim::wfp::detail::checkSubscription(
            engine, engineHandle, subscription, reinterpret_cast<const void*>(callback),
            changeHandle, subscription != nullptr ? subscription->sessionKey : GUID{});
        refused != ERROR_SUCCESS) {
        return refused;
    }
    constexpr UINT32 kKnown =
        FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD | FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE;
    if ((subscription->flags & ~kKnown) != 0) {
        return FWP_E_INVALID_FLAGS;
    }
    auto created = std::make_shared<Subscription>();
    created->engine = engineHandle;
    created->netEvents = false;
    created->filterChangeCallback = callback;
    created->context = context;
    created->flags = subscription->flags;
    *changeHandle = sim::wfp::detail::insertSubscription(engine, std::move(created));
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmFilterUnsubscribeChanges0(HANDLE engineHandle, HANDLE changeHandle) {
    SIM_API("FwpmFilterUnsubscribeChanges0");
    if (simFault_) {
        return *simFault_;
    }
    return sim::wfp::detail::unsubscribe(engineHandle, changeHandle, false);
}

namespace sim::wfp {

std::vector<uint8_t> appIdBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    for (const wchar_t c : path) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::vector<uint8_t> sidBytes(const std::wstring& text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &sid)) {
        return {};
    }
    const auto* bytes = static_cast<const uint8_t*>(sid);
    std::vector<uint8_t> copy(bytes, bytes + GetLengthSid(sid));
    LocalFree(sid);
    return copy;
}

bool raiseNetEvent(const NetEvent& event) {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    if (!detail::collected(engine, event.type)) {
        return false;
    }
    const auto shared = std::make_shared<const NetEvent>(event);
    for (const auto& [handle, subscription] : engine.subscriptions) {
        if (subscription->netEvents) {
            engine.queue.push_back({subscription, shared, {}});
            engine.work.notify_one();
        }
    }
    return true;
}

void waitIdle() {
    auto& engine = detail::engine();
    std::unique_lock lock(engine.mutex);
    waitFor(engine, lock, [&] { return engine.queue.empty() && engine.busy == 0; });
}

uint64_t deliveredNetEvents() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    return engine.deliveredNetEvents;
}

uint64_t deliveredFilterChanges() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    return engine.deliveredFilterChanges;
}

uint64_t droppedNotifications() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    return engine.dropped;
}

size_t subscriptions() {
    auto& engine = detail::engine();
    std::lock_guard lock(engine.mutex);
    return engine.subscriptions.size();
}

}  // namespace sim::wfp
