// Handles, events, mutexes and waits of the simulated machine.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "internal.h"
#include "sim/win/security.h"
#include "sim/win/sync.h"

using sim::detail::fail;
using sim::detail::KernelObject;

namespace sim::detail {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;  // handle values are multiples of 4, as on Windows
};

HandleTable& handles() {
    static auto* table = new HandleTable;  // outlives static destructors that close handles
    return *table;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
    auto& table = handles();
    std::lock_guard lock(table.mutex);
    const uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
    auto& table = handles();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

bool removeHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;  // destroyed outside the table's lock
    auto& table = handles();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) {
        return false;
    }
    object = std::move(it->second);
    table.objects.erase(it);
    return true;
}

std::mutex& waitMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::condition_variable& waitCondition() {
    static auto* condition = new std::condition_variable;
    return *condition;
}

}  // namespace sim::detail

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

// An unnamed mutex: owned by one thread, recursive.
class LocalMutex final : public KernelObject {
public:
    bool waitable() const override { return true; }
    bool signalled(DWORD thread) const override { return m_owner == 0 || m_owner == thread; }
    DWORD acquire(DWORD thread) override {
        m_owner = thread;
        ++m_count;
        return WAIT_OBJECT_0;
    }
    bool release(DWORD thread) {
        if (m_owner != thread || m_count == 0) {
            return false;
        }
        if (--m_count == 0) {
            m_owner = 0;
        }
        return true;
    }

private:
    DWORD m_owner = 0;  // guarded by waitMutex()
    uint32_t m_count = 0;
};

// A named mutex shared by every process of the simulated machine: a robust, recursive,
// process-shared pthread mutex in POSIX shared memory. Creation and the last close are
// serialised across processes by a lock file, so that the segment is initialised once and
// unlinked only when no process has it open.
class NamedMutex final : public KernelObject {
public:
    struct Shared {
        pthread_mutex_t mutex;
        uint32_t references;
    };

    static std::shared_ptr<NamedMutex> open(const std::wstring& name, bool create, bool& existed);
    ~NamedMutex() override;

    bool waitable() const override { return true; }
    bool crossProcess() const override { return true; }
    std::optional<DWORD> waitAlone(DWORD milliseconds) override;
    bool release() { return pthread_mutex_unlock(&m_shared->mutex) == 0; }

private:
    NamedMutex(std::string shmName, Shared* shared)
        : m_shmName(std::move(shmName)), m_shared(shared) {}

    class ObjectsLock {
    public:
        ObjectsLock() {
            const std::string dir = sim::root();
            mkdir(dir.c_str(), 0700);
            m_fd = ::open((dir + "/objects.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (m_fd >= 0) {
                flock(m_fd, LOCK_EX);
            }
        }
        ~ObjectsLock() {
            if (m_fd >= 0) {
                flock(m_fd, LOCK_UN);
                close(m_fd);
            }
        }
        ObjectsLock(const ObjectsLock&) = delete;
        ObjectsLock& operator=(const ObjectsLock&) = delete;

    private:
        int m_fd = -1;
    };

    std::string m_shmName;
    Shared* m_shared;
};

std::string shmNameOf(const std::wstring& name) {
    // FNV-1a over the simulation root and the name: shm names are short and have no slashes.
    uint64_t hash = 1469598103934665603ull;
    for (char c : sim::root() + "|" + toUtf8(name)) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char text[40];
    std::snprintf(text, sizeof text, "/tarnsim-%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::shared_ptr<NamedMutex> NamedMutex::open(const std::wstring& name, bool create, bool& existed) {
    const std::string shmName = shmNameOf(name);
    ObjectsLock lock;
    const int fd = shm_open(shmName.c_str(), O_RDWR | (create ? O_CREAT : 0), 0600);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    fstat(fd, &info);
    existed = info.st_size != 0;
    if (!existed && ftruncate(fd, sizeof(Shared)) != 0) {
        close(fd);
        return nullptr;
    }
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (memory == MAP_FAILED) {
        return nullptr;
    }
    auto* shared = static_cast<Shared*>(memory);
    if (!existed) {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(&shared->mutex, &attributes);
        pthread_mutexattr_destroy(&attributes);
        shared->references = 0;
    }
    ++shared->references;
    return std::shared_ptr<NamedMutex>(new NamedMutex(shmName, shared));
}

NamedMutex::~NamedMutex() {
    ObjectsLock lock;
    if (--m_shared->references == 0) {
        shm_unlink(m_shmName.c_str());
    }
    munmap(m_shared, sizeof(Shared));
}

std::optional<DWORD> NamedMutex::waitAlone(DWORD milliseconds) {
    int result = 0;
    if (milliseconds == INFINITE) {
        result = pthread_mutex_lock(&m_shared->mutex);
    } else if (milliseconds == 0) {
        result = pthread_mutex_trylock(&m_shared->mutex);
    } else {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        result = pthread_mutex_timedlock(&m_shared->mutex, &deadline);
    }
    switch (result) {
        case 0:
            return WAIT_OBJECT_0;
        case EOWNERDEAD:
            // The owner died holding it: the caller owns it now and learns it was abandoned.
            pthread_mutex_consistent(&m_shared->mutex);
            return WAIT_ABANDONED;
        case EBUSY:
        case ETIMEDOUT:
            return WAIT_TIMEOUT;
        default:
            return WAIT_FAILED;
    }
}

struct NamedMutexes {
    std::mutex mutex;
    std::map<std::wstring, std::weak_ptr<NamedMutex>> byName;
};

NamedMutexes& namedMutexes() {
    static auto* table = new NamedMutexes;
    return *table;
}

std::shared_ptr<NamedMutex> findOrOpenNamed(const std::wstring& name, bool create, bool& existed) {
    auto& table = namedMutexes();
    std::lock_guard lock(table.mutex);
    if (auto existing = table.byName[name].lock()) {
        existed = true;
        return existing;
    }
    auto opened = NamedMutex::open(name, create, existed);
    if (opened) {
        table.byName[name] = opened;
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

bool setEventState(HANDLE handle, bool state) {
    auto event = lookupAs<Event>(handle);
    if (!event) {
        return false;
    }
    {
        std::lock_guard lock(waitMutex());
        event->set(state);
    }
    if (state) {
        waitCondition().notify_all();
    }
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
    bool existed = false;
    auto mutex = findOrOpenNamed(name, true, existed);
    if (!mutex) {
        return fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
    }
    if (!existed) {
        // As on Windows, the descriptor counts only for the creator of the object.
        rememberSecurity("mutex:" + toUtf8(name), attributes);
    }
    if (initialOwner && !existed) {
        mutex->waitAlone(INFINITE);
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
    bool existed = false;
    auto mutex = findOrOpenNamed(name, false, existed);
    if (!mutex) {
        return fail(ERROR_FILE_NOT_FOUND, static_cast<HANDLE>(nullptr));
    }
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
                for (const auto& object : objects) {
                    object->acquire(thread);
                }
                return WAIT_OBJECT_0;
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

BOOL CloseHandle(HANDLE handle) {
    SIM_API("CloseHandle");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    return removeHandle(handle) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}
