// Named mutexes of the simulated machine: robust pthread mutexes in files below the simulation
// root, so that a test run's objects belong to its machine and go with it.
#include "named_mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>
#include <thread>

#include "sim/win/sync.h"

namespace sim::detail {

struct NamedMutex::Shared {
    pthread_mutex_t mutex;
    // The thread that owns the mutex (0: none) and how often it took it. Only the owner writes
    // them; ReleaseMutex by another thread is refused without touching the pthread mutex.
    std::atomic<uint32_t> owner;
    uint32_t count;
};

namespace {

std::string objectsFolder() {
    const std::string root = sim::root();
    mkdir(root.c_str(), 0700);
    const std::string folder = root + "/objects";
    mkdir(folder.c_str(), 0700);
    return folder;
}

// Serialises creation and the last close of named objects across the machine's processes.
class ObjectsLock {
public:
    ObjectsLock()
        : m_fd(::open((objectsFolder() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd >= 0) {
            flock(m_fd, LOCK_EX);
        }
    }
    ~ObjectsLock() {
        if (m_fd >= 0) {
            close(m_fd);  // and with it the lock
        }
    }
    ObjectsLock(const ObjectsLock&) = delete;
    ObjectsLock& operator=(const ObjectsLock&) = delete;

private:
    int m_fd;
};

std::string fileOf(const std::wstring& key) {
    // FNV-1a of the name: file names stay short and free of slashes.
    uint64_t hash = 1469598103934665603ull;
    for (char c : toUtf8(key)) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "/mutex-%016llx", static_cast<unsigned long long>(hash));
    return objectsFolder() + name;
}

void initialise(NamedMutex::Shared* shared) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&shared->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    new (&shared->owner) std::atomic<uint32_t>(0);
    shared->count = 0;
}

}  // namespace

std::shared_ptr<NamedMutex> NamedMutex::open(const std::wstring& key, bool create, bool own,
                                             bool& existed) {
    ObjectsLock lock;
    const std::string path = fileOf(key);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (fd < 0) {
        return nullptr;
    }
    // Nobody else holding the file: a new object, or what is left of one whose holders died.
    const bool alone = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (alone && !create) {
        unlink(path.c_str());
        close(fd);
        return nullptr;
    }
    if (alone && (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(Shared)) != 0)) {
        close(fd);
        return nullptr;
    }
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    auto* shared = static_cast<Shared*>(memory);
    if (alone) {
        initialise(shared);
    }
    flock(fd, LOCK_SH);
    existed = !alone;
    std::shared_ptr<NamedMutex> mutex(new NamedMutex(path, fd, shared));
    if (alone && own) {
        mutex->taken(pthread_mutex_lock(&shared->mutex));  // free: nobody else can see it yet
    }
    return mutex;
}

NamedMutex::~NamedMutex() {
    ObjectsLock lock;
    munmap(m_shared, sizeof(Shared));
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        unlink(m_path.c_str());  // the last holder: the object goes
    }
    close(m_fd);
}

DWORD NamedMutex::taken(int result) {
    const auto self = static_cast<uint32_t>(GetCurrentThreadId());
    switch (result) {
        case 0:
            if (m_shared->count++ == 0) {
                m_shared->owner.store(self);
            }
            return WAIT_OBJECT_0;
        case EOWNERDEAD:
            // The owner died holding it: the caller owns it now and learns it was abandoned.
            pthread_mutex_consistent(&m_shared->mutex);
            m_shared->count = 1;
            m_shared->owner.store(self);
            return WAIT_ABANDONED;
        case EBUSY:
            return WAIT_TIMEOUT;
        default:
            return WAIT_FAILED;
    }
}

std::optional<DWORD> NamedMutex::waitAlone(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        return taken(pthread_mutex_lock(&m_shared->mutex));
    }
    // A bounded wait tries the lock until the deadline rather than using
    // pthread_mutex_timedlock: ThreadSanitizer's interceptor of that call does not record an
    // acquisition from a dead owner, and would then report the release.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    auto pause = std::chrono::microseconds(50);
    for (;;) {
        const int result = pthread_mutex_trylock(&m_shared->mutex);
        if (result != EBUSY) {
            return taken(result);
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return WAIT_TIMEOUT;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds(1000));
    }
}

bool NamedMutex::release() {
    if (m_shared->owner.load() != static_cast<uint32_t>(GetCurrentThreadId())) {
        return false;
    }
    if (--m_shared->count == 0) {
        m_shared->owner.store(0);
    }
    pthread_mutex_unlock(&m_shared->mutex);
    return true;
}

std::optional<std::wstring> namedObjectKey(const std::wstring& name, DWORD& error) {
    static const std::wstring global = L"Global\\";
    static const std::wstring local = L"Local\\";
    std::wstring_view rest = name;
    bool inGlobal = false;
    // Unverified whether Windows takes the prefixes in another case: the simulation does not.
    if (rest.starts_with(global)) {
        rest.remove_prefix(global.size());
        inGlobal = true;
    } else if (rest.starts_with(local)) {
        rest.remove_prefix(local.size());
    }
    if (rest.find(L'\\') != std::wstring_view::npos) {
        error = ERROR_PATH_NOT_FOUND;  // no folder of that name in the object namespace
        return std::nullopt;
    }
    const DWORD session = inGlobal ? 0 : currentSession();
    return (session == 0 ? global : L"Session\\" + std::to_wstring(session) + L"\\") +
           std::wstring(rest);
}

}  // namespace sim::detail
