// Shared inside the simulated registry: the tree of keys, key handles, the one lock, and the
// resolution of handles and paths to keys (registry_views.cpp).
//
// Behaviour follows Windows where the system depends on it: names compare without regard to
// case (as Windows folds them, beyond ASCII); subkeys enumerate in upper-case order and values
// in creation order; HKU\.DEFAULT is HKU\S-1-5-18 under another name; a 32-bit process sees
// HKLM\SOFTWARE through WOW6432Node unless a call asks for the 64-bit view, and the view is
// decided per call from the key's full path (Windows does not remember the view of a handle);
// handles carry their access rights; a deleted key's handles answer ERROR_KEY_DELETED; change
// notifications fire once per arming. Not simulated: security descriptors of keys, volatile
// keys surviving nothing, symbolic links, the shared keys below SOFTWARE\Classes.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "internal.h"
#include "sim/win/registry.h"

namespace sim::detail::reg {

bool sameName(std::wstring_view a, std::wstring_view b);

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

int64_t now();

struct Key {
    std::wstring name;
    Key* parent = nullptr;  // null for a root and for deleted keys
    // By the name each child has here: one key may have two names (HKU\.DEFAULT).
    std::map<std::wstring, std::shared_ptr<Key>, NoCaseLess> children;
    std::vector<Value> values;
    bool deleted = false;
    int64_t lastWrite = now();

    Value* findValue(std::wstring_view valueName);
    std::shared_ptr<Key> child(const std::wstring& childName) const;
    bool isBelow(const Key* ancestor) const;
};

class KeyHandle final : public KernelObject {
public:
    KeyHandle(std::shared_ptr<Key> key, REGSAM access);
    ~KeyHandle() override;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    const std::shared_ptr<Key>& key() const { return m_key; }
    bool allows(REGSAM rights) const { return (m_access & rights) == rights; }
    static size_t openCount();

private:
    std::shared_ptr<Key> m_key;
    REGSAM m_access;
};

struct Watch {
    const KeyHandle* owner;  // null for a predefined key
    std::shared_ptr<Key> key;
    std::shared_ptr<KernelObject> event;
    DWORD filter;
    bool subtree;
};

// Events to set once the registry's lock is released.
using Signals = std::vector<std::shared_ptr<KernelObject>>;

struct Registry {
    std::mutex mutex;
    std::shared_ptr<Key> machine;
    std::shared_ptr<Key> users;
    bool wow64 = true;
    std::vector<Watch> watches;

    // Watches (registry_watches.cpp): fires, and so removes, the watches that see a change of
    // `kind` at `changed`; those of a deleted key whatever their filter; those armed through a
    // handle that closes.
    void notify(const Key* changed, DWORD kind, Signals& signals);
    void fireWatchesOf(const Key& deleted, Signals& signals);
    void fireWatchesThrough(const KeyHandle* handle, Signals& signals);

    void touch(Key& key, DWORD kind, Signals& signals);
    void markDeleted(Key& key, Signals& signals);
    void detach(Key& key, Signals& signals);
    std::shared_ptr<Key> addChild(Key& parent, const std::wstring& name, Signals& signals);
    void reset();  // the keys and values of a fresh machine
};

Registry& registry();

// Runs `body(reg, signals)` under the registry's lock and sets the collected events after it.
template <class Body>
auto locked(Body&& body) {
    auto& reg = registry();
    Signals signals;
    auto result = [&] {
        std::lock_guard lock(reg.mutex);
        return body(reg, signals);
    }();
    for (const auto& event : signals) {
        setEventState(*event, true);
    }
    return result;
}

// --- Views: where handles, paths and subkeys lead (registry_views.cpp) ---------------------

struct Location {
    std::shared_ptr<Key> root;
    std::vector<std::wstring> path;  // physical components below the root
};

// Splits a subkey path; false for a leading backslash, as on Windows.
bool splitSubKey(LPCWSTR subKey, std::vector<std::wstring>& out);
bool isPredefined(HKEY key);
// The key of the current account below HKEY_USERS, made when first used.
std::shared_ptr<Key> userKey(Registry& reg, Signals& signals);
// Where a key handle (or predefined key) lies; ERROR_INVALID_HANDLE for unknown handles.
LSTATUS baseOf(Registry& reg, HKEY key, Location& location, std::shared_ptr<KeyHandle>& handle,
               Signals& signals);
// The physical location of `subKey` below `key` in the view that `sam` asks for.
LSTATUS locate(Registry& reg, HKEY key, LPCWSTR subKey, REGSAM sam, Location& location,
               Signals& signals);
std::shared_ptr<Key> find(const Location& location);
// The key behind a handle for an operation that needs `rights`.
LSTATUS keyFor(Registry& reg, HKEY key, REGSAM rights, std::shared_ptr<Key>& out, Signals& signals);
// The hives directly below HKLM and HKU are fixed for the API; the control side may load more
// (another user's hive, say).
std::shared_ptr<Key> createPath(Registry& reg, const Location& location, bool& created,
                                LSTATUS& status, Signals& signals, bool newHives = false);
HKEY insertKey(std::shared_ptr<Key> key, REGSAM access);

// Runs `body(reg, key, signals)` under the lock on the key behind `handle`, when the handle may
// be used for `rights`.
template <class Body>
LSTATUS onKey(HKEY handle, REGSAM rights, Body&& body) {
    return locked([&](Registry& reg, Signals& signals) -> LSTATUS {
        std::shared_ptr<Key> found;
        const LSTATUS status = keyFor(reg, handle, rights, found, signals);
        return status != ERROR_SUCCESS ? status : body(reg, *found, signals);
    });
}

// --- Values -------------------------------------------------------------------------------

void setValueOf(Registry& reg, Key& key, std::wstring_view name, DWORD type, const BYTE* data,
                size_t size, Signals& signals);
std::wstring_view nameOrDefault(LPCWSTR name);
// Copies data under the size protocol of RegQueryValueExW and RegEnumValueW.
LSTATUS copyData(const std::vector<BYTE>& data, LPBYTE out, LPDWORD size);
LSTATUS copyName(const std::wstring& name, LPWSTR out, LPDWORD length);
void putFileTime(int64_t value, PFILETIME time);

}  // namespace sim::detail::reg
