// Events, mutexes and waits of the simulated machine.
#include <algorithm>
#include <chrono>
#include <map>
#include <utility>
#include <vector>

#include "internal.h"
#include "named_mutex.h"
#include "sim/win/security.h"
#include "sim/win/sync.h"

using sim::detail::fail;
using sim::detail::KernelObject;

namespace {

using namespace sim::detail;

class Event final : public KernelObject {
public:
    Event(bool manual, bool state) : m_manual(manual), m_state(state) {}
    bool waitable() const override { return true; }
    bool signalled(DWORD) const override { return m_state; }
    DWORD acquire(DWORD) override {
        if (!m_manual) {
            m_state = false;
        }
        return WAIT_OBJECT_0;
    }
    void set(bool state) { m_state = state; }

private:
    bool m_manual;
    bool m_state;  // guarded by waitMutex()
};

class LocalMutex;

// The unnamed mutexes a thread owns: when the thread ends, they are abandoned, and the next
// thread to wait for one gets it with WAIT_ABANDONED.
class OwnedMutexes {
public:
    ~OwnedMutexes();
    void add(const std::shared_ptr<LocalMutex>& mutex) { m_mutexes.push_back(mutex); }
    void remove(const LocalMutex* mutex) {
        std::erase_if(m_mutexes, [&](const auto& owned) {
            const auto alive = owned.lock();
            return !alive || alive.get() == mutex;
        });
    }

private:
    std::vector<std::weak_ptr<LocalMutex>> m_mutexes;  // guarded by waitMutex()
};

thread_local OwnedMutexes ownedByThisThread;

// An unnamed mutex: owned by one thread, recursive.
class LocalMutex final : public KernelObject, public std::enable_shared_from_this<LocalMutex> {
public:
    bool waitable() const override { return true; }
    bool signalled(DWORD thread) const override { return m_owner == 0 || m_owner == thread; }
    DWORD acquire(DWORD thread) override {
        if (m_count++ == 0) {
            m_owner = thread;
            ownedByThisThread.add(shared_from_this());
        }
        const bool abandoned = std::exchange(m_abandoned, false);
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
    bool release(DWORD thread) {
        if (m_owner != thread || m_count == 0) {
            return false;
        }
        if (--m_count == 0) {
            m_owner = 0;
            ownedByThisThread.remove(this);
        }
        return true;
    }
    // The owner `thread` ended.
    void abandon(DWORD thread) {
        if (m_owner == thread) {
            m_owner = 0;
            m_count = 0;
            m_abandoned = true;
        }
    }

private:
    DWORD m_owner = 0;  // guarded by waitMutex()
    uint32_t m_count = 0;
    bool m_abandoned = false;
};

OwnedMutexes::~OwnedMutexes() {
    const DWORD thread = GetCurrentThreadId();
    {
        std::lock_guard lock(waitMutex());
        for (const auto& owned : m_mutexes) {
            if (const auto mutex = owned.lock()) {
                mutex->abandon(thread);
            }
        }
    }
    waitCondition().notify_all();
}

struct NamedMutexes {
    std::mutex mutex;
    std::map<std::wstring, std::weak_ptr<NamedMutex>> byName;
};

NamedMutexes& namedMutexes() {
    static auto* table = new NamedMutexes;
    return *table;
}

// The process's one object for `key`. Opening runs outside the table's lock: a creator takes
// initial ownership inside it, and must not hold the table's lock while it does.
std::shared_ptr<NamedMutex> findOrOpenNamed(const std::wstring& key, bool create, bool own,
                                            bool& existed) {
    auto& table = namedMutexes();
    {
        std::lock_guard lock(table.mutex);
        if (auto existing = table.byName[key].lock()) {
            existed = true;
            return existing;
        }
    }
    auto opened = NamedMutex::open(key, create, own, existed);
    std::lock_guard lock(table.mutex);
    auto& entry = table.byName[key];
    if (auto raced = entry.lock(); raced && existed) {
        return raced;  // another thread of the process opened it meanwhile
    }
    if (opened) {
        entry = opened;
    }
    return opened;
}

DWORD currentThread() {
    return GetCurrentThreadId();
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    SIM_API("CreateEventW");
    if (simFault_) {
        return fail(*simFault_, static_cast<HANDLE>(nullptr));
    }
    if (name != nullptr && *name != L'\0') {
        // Named events are not used by the system; refuse them rather than fake them.
        return fail(ERROR_NOT_SUPPORTED, static_cast<HANDLE>(nullptr));
    }
    SetLastError(ERROR_SUCCESS);
    return insertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

namespace sim::detail {

std::shared_ptr<KernelObject> eventOf(HANDLE handle) {
    return lookupAs<Event>(handle);
}

void setEventState(KernelObject& object, bool state) {
    auto& event = dynamic_cast<Event&>(object);
    {
        std::lock_guard lock(waitMutex());
        event.set(state);
    }
    if (state) {
        waitCondition().notify_all();
    }
}

bool setEventState(HANDLE handle, bool state) {
    auto event = eventOf(handle);
    if (!event) {
        return false;
    }
    setEventState(*event, state);
    return true;
}

}  // namespace sim::detail

BOOL SetEvent(HANDLE event) {
    SIM_API("SetEvent");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    return sim::detail::setEventState(event, true) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}

BOOL ResetEvent(HANDLE event) {
    SIM_API("ResetEvent");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    return sim::detail::setEventState(event, false) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name) {
    SIM_API("CreateMutexW");
    if (simFault_) {
        return fail(*simFault_, static_cast<HANDLE>(nullptr));
    }
    if (!securityValid(attributes)) {
        return fail(ERROR_INVALID_SECURITY_DESCR, static_cast<HANDLE>(nullptr));
    }
    if (name == nullptr || *name == L'\0') {
        auto mutex = std::make_shared<LocalMutex>();
        if (initialOwner) {
            std::lock_guard lock(waitMutex());
            mutex->acquire(currentThread());
        }
        SetLastError(ERROR_SUCCESS);
        return insertHandle(mutex);
    }
    DWORD error = ERROR_SUCCESS;
    const auto key = namedObjectKey(name, error);
    if (!key) {
        return fail(error, static_cast<HANDLE>(nullptr));
    }
    bool existed = false;
    auto mutex = findOrOpenNamed(*key, true, initialOwner != FALSE, existed);
    if (!mutex) {
        return fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
    }
    if (!existed) {
        // As on Windows, the descriptor counts only for the creator of the object.
        rememberSecurity("mutex:" + toUtf8(name), attributes);
    }
    HANDLE handle = insertHandle(mutex);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE OpenMutexW(DWORD, BOOL, LPCWSTR name) {
    SIM_API("OpenMutexW");
    if (simFault_) {
        return fail(*simFault_, static_cast<HANDLE>(nullptr));
    }
    if (name == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
    }
    DWORD error = ERROR_SUCCESS;
    const auto key = namedObjectKey(name, error);
    if (!key) {
        return fail(error, static_cast<HANDLE>(nullptr));
    }
    bool existed = false;
    auto mutex = findOrOpenNamed(*key, false, false, existed);
    if (!mutex) {
        return fail(ERROR_FILE_NOT_FOUND, static_cast<HANDLE>(nullptr));
    }
    SetLastError(ERROR_SUCCESS);
    return insertHandle(mutex);
}

BOOL ReleaseMutex(HANDLE handle) {
    SIM_API("ReleaseMutex");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = lookupHandle(handle);
    if (auto named = std::dynamic_pointer_cast<NamedMutex>(object)) {
        return named->release() ? TRUE : fail(ERROR_NOT_OWNER, FALSE);
    }
    auto local = std::dynamic_pointer_cast<LocalMutex>(object);
    if (!local) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    bool released = false;
    {
        std::lock_guard lock(waitMutex());
        released = local->release(currentThread());
    }
    waitCondition().notify_all();
    return released ? TRUE : fail(ERROR_NOT_OWNER, FALSE);
}

namespace {

DWORD waitAny(const std::vector<std::shared_ptr<KernelObject>>& objects, bool waitAll,
              DWORD milliseconds) {
    const DWORD thread = currentThread();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    bool polls = false;
    for (const auto& object : objects) {
        polls = polls || object->crossProcess();
    }
    std::unique_lock lock(waitMutex());
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (const auto& object : objects) {
                all = all && object->signalled(thread);
            }
            if (all) {
                // An abandoned mutex among them is reported by the lowest such index.
                std::optional<DWORD> abandoned;
                for (size_t i = 0; i < objects.size(); ++i) {
                    if (objects[i]->acquire(thread) == WAIT_ABANDONED && !abandoned) {
                        abandoned = WAIT_ABANDONED_0 + static_cast<DWORD>(i);
                    }
                }
                return abandoned.value_or(WAIT_OBJECT_0);
            }
        } else {
            for (size_t i = 0; i < objects.size(); ++i) {
                if (objects[i]->crossProcess()) {
                    const auto result = objects[i]->waitAlone(0);
                    if (result && *result != WAIT_TIMEOUT) {
                        return *result + static_cast<DWORD>(i);
                    }
                } else if (objects[i]->signalled(thread)) {
                    return objects[i]->acquire(thread) + static_cast<DWORD>(i);
                }
            }
        }
        if (milliseconds == 0 ||
            (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline)) {
            return WAIT_TIMEOUT;
        }
        if (polls) {
            waitCondition().wait_for(lock, std::chrono::milliseconds(1));
        } else if (milliseconds == INFINITE) {
            waitCondition().wait(lock);
        } else {
            waitCondition().wait_until(lock, deadline);
        }
    }
}

}  // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    SIM_API("WaitForMultipleObjects");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(WAIT_FAILED));
    }
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, static_cast<DWORD>(WAIT_FAILED));
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = lookupHandle(handles[i]);
        if (!object || !object->waitable()) {
            return fail(ERROR_INVALID_HANDLE, static_cast<DWORD>(WAIT_FAILED));
        }
        if (waitAll && object->crossProcess()) {
            return fail(ERROR_NOT_SUPPORTED, static_cast<DWORD>(WAIT_FAILED));
        }
        objects.push_back(std::move(object));
    }
    return waitAny(objects, waitAll != FALSE, milliseconds);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    SIM_API("WaitForSingleObject");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(WAIT_FAILED));
    }
    auto object = lookupHandle(handle);
    if (!object || !object->waitable()) {
        return fail(ERROR_INVALID_HANDLE, static_cast<DWORD>(WAIT_FAILED));
    }
    if (object->crossProcess()) {
        return object->waitAlone(milliseconds).value_or(WAIT_FAILED);
    }
    return waitAny({object}, false, milliseconds);
}
