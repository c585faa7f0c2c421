// The event library's exported functions: events are small objects of the library until they
// are added to the namespace's spool. No exception leaves the library.
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/Str.h"
#include "standin/events/TarnEventsApi.h"
#include "standin/spool/Spool.h"

struct TarnEvent_ {
    std::wstring nameSpace;
    std::string name;  // UTF-8
    int kind = 0;
};

namespace {

// Live events: a freed or unknown handle is refused instead of being used.
struct LiveEvents {
    std::mutex mutex;
    std::set<const TarnEvent_*> events;
};

LiveEvents& liveEvents() {
    static LiveEvents instance;
    return instance;
}

bool isLive(const TarnEvent_* event) {
    auto& live = liveEvents();
    std::lock_guard lock(live.mutex);
    return live.events.count(event) != 0;
}

void setError(int* err, int code) {
    if (err != nullptr) {
        *err = code;
    }
}

}  // namespace

TARN_EVENTS_API TarnEventHandle WINAPI TarnEvent_CreateNS(const wchar_t* namespaceName,
                                                          const wchar_t* eventName, int kind,
                                                          int reserved, int* err) {
    try {
        if (namespaceName == nullptr || eventName == nullptr || *eventName == L'\0' || kind <= 0 ||
            reserved != 0) {
            setError(err, TARN_EVENT_E_INVALID_ARGUMENT);
            return nullptr;
        }
        if (!tarn::spool::isValidNamespace(namespaceName)) {
            setError(err, TARN_EVENT_E_INVALID_NAMESPACE);
            return nullptr;
        }
        auto event = std::make_unique<TarnEvent_>();
        event->nameSpace = namespaceName;
        event->name = tarn::str::toUtf8(eventName);
        event->kind = kind;
        auto& live = liveEvents();
        std::lock_guard lock(live.mutex);
        live.events.insert(event.get());
        setError(err, TARN_EVENT_OK);
        return event.release();  // the caller frees it with TarnEvent_Free
    } catch (...) {
        setError(err, TARN_EVENT_E_FAILED);
        return nullptr;
    }
}

TARN_EVENTS_API int WINAPI TarnEvent_AddEventAll(TarnEventHandle event, int reserved) {
    try {
        if (event == nullptr || !isLive(event)) {
            return TARN_EVENT_E_INVALID_HANDLE;
        }
        if (reserved != 0) {
            return TARN_EVENT_E_INVALID_ARGUMENT;
        }
        switch (
            tarn::spool::append(event->nameSpace, "event", event->name, {{"kind", event->kind}})) {
            case tarn::spool::Result::Ok:
                return TARN_EVENT_OK;
            case tarn::spool::Result::InvalidNamespace:
                return TARN_EVENT_E_INVALID_NAMESPACE;
            case tarn::spool::Result::Io:
                return TARN_EVENT_E_SPOOL;
        }
        return TARN_EVENT_E_FAILED;
    } catch (...) {
        return TARN_EVENT_E_FAILED;
    }
}

TARN_EVENTS_API const wchar_t* WINAPI TarnEvent_ErrorAsString(int code) {
    switch (code) {
        case TARN_EVENT_OK:
            return L"Success";
        case TARN_EVENT_E_FAILED:
            return L"Unexpected failure of the event library";
        case TARN_EVENT_E_INVALID_ARGUMENT:
            return L"Invalid argument";
        case TARN_EVENT_E_INVALID_NAMESPACE:
            return L"Invalid namespace name";
        case TARN_EVENT_E_INVALID_HANDLE:
            return L"Invalid event handle";
        case TARN_EVENT_E_SPOOL:
            return L"The event spool cannot be written";
        default:
            return L"Unknown error";
    }
}

TARN_EVENTS_API void WINAPI TarnEvent_Free(TarnEventHandle event) {
    if (event == nullptr) {
        return;
    }
    auto& live = liveEvents();
    std::unique_ptr<TarnEvent_> owned;
    std::lock_guard lock(live.mutex);
    if (live.events.erase(event) != 0) {
        owned.reset(event);
    }
}
