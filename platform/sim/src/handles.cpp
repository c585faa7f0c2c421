// The handle table of the simulated process and CloseHandle.
#include <map>
#include <set>

#include "internal.h"

using sim::detail::fail;

namespace sim::detail {
namespace {

// Handle values are multiples of 4, as on Windows, and a closed value is given out again (the
// lowest free one first): a handle closed twice, or used after its close, then reaches another
// object, as it does on Windows.
struct HandleTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::set<uintptr_t> freed;
    uintptr_t next = 0x100;

    uintptr_t take() {
        if (freed.empty()) {
            const uintptr_t value = next;
            next += 4;
            return value;
        }
        const uintptr_t value = *freed.begin();
        freed.erase(freed.begin());
        return value;
    }
};

HandleTable& handles() {
    static auto* table = new HandleTable;  // outlives static destructors that close handles
    return *table;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
    auto& table = handles();
    std::lock_guard lock(table.mutex);
    const uintptr_t value = table.take();
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
    table.freed.insert(it->first);
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

BOOL CloseHandle(HANDLE handle) {
    SIM_API("CloseHandle");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    // The pseudo handle of the current process needs no closing; closing it does nothing.
    if (handle == GetCurrentProcess()) {
        return TRUE;
    }
    return sim::detail::removeHandle(handle) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}
