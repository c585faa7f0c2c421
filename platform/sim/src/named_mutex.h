// Named mutexes of the simulated machine, shared by its processes.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "internal.h"

namespace sim::detail {

// A named mutex shared by every process of the simulated machine (one simulation root): a
// robust, recursive, process-shared pthread mutex in a file below the root's "objects" folder,
// mapped by each process that has the object open. A process that dies (or a thread that ends)
// while it owns the mutex leaves it abandoned, as on Windows.
//
// The object lives while some process has it open: each holder keeps a shared lock on its
// file, so a file whose holders all died is a destroyed object, and the next creator starts it
// afresh. Opening and closing are serialised across processes by the folder's lock file.
class NamedMutex final : public KernelObject {
public:
    // `key` is the name in the machine's object namespace (see namedObjectKey). Null when the
    // object does not exist and `create` is false, or cannot be made. A creator that asks for
    // ownership has it before any other thread or process can see the object.
    static std::shared_ptr<NamedMutex> open(const std::wstring& key, bool create, bool own,
                                            bool& existed);
    ~NamedMutex() override;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool waitable() const override { return true; }
    bool crossProcess() const override { return true; }
    std::optional<DWORD> waitAlone(DWORD milliseconds) override;
    // False when the calling thread does not own the mutex.
    bool release();

    struct Shared;

private:
    NamedMutex(std::string path, int fd, Shared* shared)
        : m_path(std::move(path)), m_fd(fd), m_shared(shared) {}
    DWORD taken(int result);

    std::string m_path;
    int m_fd;
    Shared* m_shared;
};

// The name of an object in the machine's namespace, or nullopt with the Windows error code
// when Windows refuses the name: "Global\" names the machine's namespace, "Local\" and no
// prefix the session's (which is the machine's in session 0), and the rest of a name may not
// hold a backslash.
std::optional<std::wstring> namedObjectKey(const std::wstring& name, DWORD& error);

}  // namespace sim::detail
