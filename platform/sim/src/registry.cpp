// The registry of the simulated machine: an in-memory tree per process.
//
// Behaviour follows Windows where the system depends on it: names compare without regard to
// case; subkeys enumerate in upper-case order and values in creation order; a 32-bit process
// sees HKLM\SOFTWARE through WOW6432Node unless a call asks for the 64-bit view, and the view is
// decided per call from the key's full path (Windows does not remember the view of a handle);
// handles carry their access rights; a deleted key's handles answer ERROR_KEY_DELETED;
// change notifications fire once per arming. Not simulated: security descriptors of keys,
// volatile keys surviving nothing, symbolic links, the shared keys below SOFTWARE\Classes.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "internal.h"
#include "sim/registry_control.h"
#include "sim/win/registry.h"
#include "sim/win/sync.h"

using sim::detail::KernelObject;

namespace {

std::wstring upper(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return out;
}

bool sameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && upper(a) == upper(b);
}

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return upper(a) < upper(b);
    }
};

struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

int64_t now() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

struct Key {
    std::wstring name;
    Key* parent = nullptr;  // null for a root and for deleted keys
    std::map<std::wstring, std::shared_ptr<Key>, NoCaseLess> children;
    std::vector<Value> values;
    bool deleted = false;
    int64_t lastWrite = now();

    Value* findValue(std::wstring_view valueName) {
        for (auto& value : values) {
            if (sameName(value.name, valueName)) {
                return &value;
            }
        }
        return nullptr;
    }
    std::shared_ptr<Key> child(const std::wstring& childName) const {
        auto it = children.find(childName);
        return it == children.end() ? nullptr : it->second;
    }
    bool isBelow(const Key* ancestor) const {
        for (const Key* k = parent; k != nullptr; k = k->parent) {
            if (k == ancestor) {
                return true;
            }
        }
        return false;
    }
};

class KeyHandle;

struct Watch {
    const KeyHandle* owner;  // null for a predefined key
    std::shared_ptr<Key> key;
    HANDLE event;
    DWORD filter;
    bool subtree;
};

std::atomic<size_t> openKeys{0};

class KeyHandle final : public KernelObject {
public:
    KeyHandle(std::shared_ptr<Key> key, REGSAM access) : m_key(std::move(key)), m_access(access) {
        ++openKeys;
    }
    ~KeyHandle() override { --openKeys; }
    const std::shared_ptr<Key>& key() const { return m_key; }
    bool allows(REGSAM rights) const { return (m_access & rights) == rights; }

private:
    std::shared_ptr<Key> m_key;
    REGSAM m_access;
};

// Events to set once the registry's lock is released.
using Signals = std::vector<HANDLE>;

void raise(const Signals& signals) {
    for (HANDLE event : signals) {
        sim::detail::setEventState(event, true);
    }
}

struct Registry {
    std::mutex mutex;
    std::shared_ptr<Key> machine;
    std::shared_ptr<Key> users;
    bool wow64 = true;
    std::vector<Watch> watches;

    // Fires, and so removes, the watches that see a change of `kind` at `changed`.
    void notify(const Key* changed, DWORD kind, Signals& signals) {
        std::erase_if(watches, [&](const Watch& watch) {
            const bool covers =
                watch.key.get() == changed || (watch.subtree && changed->isBelow(watch.key.get()));
            if (!covers || (watch.filter & kind) == 0) {
                return false;
            }
            signals.push_back(watch.event);
            return true;
        });
    }

    void touch(Key& key, DWORD kind, Signals& signals) {
        key.lastWrite = now();
        notify(&key, kind, signals);
    }

    // A deleted key's watches fire whatever their filter: the key they watch is gone.
    void markDeleted(Key& key, Signals& signals) {
        for (auto& [name, child] : key.children) {
            markDeleted(*child, signals);
        }
        key.children.clear();
        std::erase_if(watches, [&](const Watch& watch) {
            if (watch.key.get() != &key) {
                return false;
            }
            signals.push_back(watch.event);
            return true;
        });
        key.deleted = true;
    }

    void detach(Key& key, Signals& signals) {
        Key* parent = key.parent;
        auto keep = parent->children.at(key.name);  // alive until marked
        notify(parent, REG_NOTIFY_CHANGE_NAME, signals);
        markDeleted(key, signals);
        parent->children.erase(key.name);
        parent->lastWrite = now();
        key.parent = nullptr;
    }

    std::shared_ptr<Key> addChild(Key& parent, const std::wstring& name, Signals& signals) {
        auto child = std::make_shared<Key>();
        child->name = name;
        child->parent = &parent;
        parent.children.emplace(name, child);
        touch(parent, REG_NOTIFY_CHANGE_NAME, signals);
        return child;
    }

    void reset();
};

Registry& registry() {
    static auto* state = [] {
        auto* r = new Registry;  // outlives static destructors that close keys
        r->reset();
        sim::onReset([r] {
            std::lock_guard lock(r->mutex);
            r->reset();
        });
        return r;
    }();
    return *state;
}

// --- Paths ------------------------------------------------------------------------------

struct Location {
    std::shared_ptr<Key> root;
    std::vector<std::wstring> path;  // physical components below the root
};

std::vector<std::wstring> pathOf(const Key& key) {
    std::vector<std::wstring> path;
    for (const Key* k = &key; k->parent != nullptr; k = k->parent) {
        path.push_back(k->name);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

const Key* rootOf(const Key& key) {
    const Key* k = &key;
    while (k->parent != nullptr) {
        k = k->parent;
    }
    return k;
}

// Splits a subkey path. A leading backslash is an error, as on Windows; a trailing one is not.
bool splitSubKey(LPCWSTR subKey, std::vector<std::wstring>& out) {
    if (subKey == nullptr || *subKey == L'\0') {
        return true;
    }
    if (*subKey == L'\\') {
        return false;
    }
    std::wstring piece;
    for (const wchar_t* p = subKey;; ++p) {
        if (*p == L'\\' || *p == L'\0') {
            if (!piece.empty()) {
                out.push_back(piece);
            }
            piece.clear();
            if (*p == L'\0') {
                return true;
            }
        } else {
            piece += *p;
        }
    }
}

enum class View { Default, Bits32, Bits64 };

bool viewOf(REGSAM sam, View& view) {
    const REGSAM flags = sam & KEY_WOW64_RES;
    if (flags == KEY_WOW64_RES) {
        return false;
    }
    view = flags == KEY_WOW64_32KEY   ? View::Bits32
           : flags == KEY_WOW64_64KEY ? View::Bits64
                                      : View::Default;
    return true;
}

void redirect(const Registry& reg, Location& location, View view) {
    const bool bits32 = view == View::Bits32 || (view == View::Default && reg.wow64);
    auto& path = location.path;
    if (!bits32 || location.root != reg.machine || path.empty() ||
        !sameName(path[0], L"SOFTWARE")) {
        return;
    }
    if (path.size() >= 2 && sameName(path[1], L"WOW6432Node")) {
        return;
    }
    path.insert(path.begin() + 1, L"WOW6432Node");
}

bool isPredefined(HKEY key) {
    const auto value = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(key));
    return (value & 0xFFFFFFF0u) == 0x80000000u;
}

// The key of the current account below HKEY_USERS, made when first used.
std::shared_ptr<Key> userKey(Registry& reg, Signals& signals) {
    const std::wstring sid = sim::detail::currentAccountSid();
    if (auto existing = reg.users->child(sid)) {
        return existing;
    }
    auto created = reg.addChild(*reg.users, sid, signals);
    reg.addChild(*created, L"Software", signals);
    return created;
}

// Where a key handle (or predefined key) lies; ERROR_INVALID_HANDLE for unknown handles.
LSTATUS baseOf(Registry& reg, HKEY key, Location& location, std::shared_ptr<KeyHandle>& handle,
               Signals& signals) {
    if (isPredefined(key)) {
        if (key == HKEY_LOCAL_MACHINE) {
            location = {reg.machine, {}};
        } else if (key == HKEY_USERS) {
            location = {reg.users, {}};
        } else if (key == HKEY_CURRENT_USER) {
            location = {reg.users, {userKey(reg, signals)->name}};
        } else if (key == HKEY_CLASSES_ROOT) {
            location = {reg.machine, {L"SOFTWARE", L"Classes"}};
        } else {
            return ERROR_INVALID_HANDLE;
        }
        return ERROR_SUCCESS;
    }
    handle = sim::detail::lookupAs<KeyHandle>(key);
    if (!handle) {
        return ERROR_INVALID_HANDLE;
    }
    if (handle->key()->deleted) {
        return ERROR_KEY_DELETED;
    }
    const Key* root = rootOf(*handle->key());
    if (root != reg.machine.get() && root != reg.users.get()) {
        return ERROR_KEY_DELETED;  // a key of the machine before its reset
    }
    location = {root == reg.machine.get() ? reg.machine : reg.users, pathOf(*handle->key())};
    return ERROR_SUCCESS;
}

LSTATUS locate(Registry& reg, HKEY key, LPCWSTR subKey, REGSAM sam, Location& location,
               Signals& signals) {
    View view = View::Default;
    if (!viewOf(sam, view)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<KeyHandle> handle;
    if (const LSTATUS status = baseOf(reg, key, location, handle, signals);
        status != ERROR_SUCCESS) {
        return status;
    }
    const size_t before = location.path.size();
    if (!splitSubKey(subKey, location.path)) {
        return ERROR_BAD_PATHNAME;
    }
    // A handle without a subkey is its own key, whichever view it was opened in.
    if (!handle || location.path.size() != before) {
        redirect(reg, location, view);
    }
    return ERROR_SUCCESS;
}

std::shared_ptr<Key> find(const Location& location) {
    std::shared_ptr<Key> key = location.root;
    for (const auto& name : location.path) {
        key = key->child(name);
        if (!key) {
            return nullptr;
        }
    }
    return key;
}

// The key behind a handle for an operation that needs `rights`.
LSTATUS keyFor(Registry& reg, HKEY key, REGSAM rights, std::shared_ptr<Key>& out,
               Signals& signals) {
    Location location;
    std::shared_ptr<KeyHandle> handle;
    if (const LSTATUS status = baseOf(reg, key, location, handle, signals);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (handle) {
        if (!handle->allows(rights)) {
            return ERROR_ACCESS_DENIED;
        }
        out = handle->key();
    } else {
        out = find(location);
    }
    return out ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

HKEY insertKey(std::shared_ptr<Key> key, REGSAM access) {
    return reinterpret_cast<HKEY>(
        sim::detail::insertHandle(std::make_shared<KeyHandle>(std::move(key), access)));
}

// Runs `body` under the registry's lock and sets the collected events after it.
template <class Body>
auto locked(Body&& body) {
    auto& reg = registry();
    Signals signals;
    auto result = [&] {
        std::lock_guard lock(reg.mutex);
        return body(reg, signals);
    }();
    raise(signals);
    return result;
}

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

// The hives directly below HKLM and HKU are fixed for the API; the control side may load more
// (another user's hive, say).
std::shared_ptr<Key> createPath(Registry& reg, const Location& location, bool& created,
                                LSTATUS& status, Signals& signals, bool newHives = false) {
    std::shared_ptr<Key> key = location.root;
    created = false;
    for (size_t i = 0; i < location.path.size(); ++i) {
        auto next = key->child(location.path[i]);
        if (!next) {
            if (i == 0 && !newHives) {
                status = ERROR_ACCESS_DENIED;
                return nullptr;
            }
            next = reg.addChild(*key, location.path[i], signals);
            created = true;
        }
        key = next;
    }
    status = ERROR_SUCCESS;
    return key;
}

void setValueOf(Registry& reg, Key& key, std::wstring_view name, DWORD type, const BYTE* data,
                size_t size, Signals& signals) {
    Value* value = key.findValue(name);
    if (value == nullptr) {
        key.values.push_back({std::wstring(name), type, {}});
        value = &key.values.back();
    }
    value->type = type;
    value->data.assign(data, data + size);
    reg.touch(key, REG_NOTIFY_CHANGE_LAST_SET, signals);
}

std::wstring_view nameOrDefault(LPCWSTR name) {
    return name == nullptr ? L"" : name;
}

// Copies data under the size protocol of RegQueryValueExW and RegEnumValueW.
LSTATUS copyData(const std::vector<BYTE>& data, LPBYTE out, LPDWORD size) {
    if (size == nullptr) {
        return ERROR_SUCCESS;
    }
    const auto needed = static_cast<DWORD>(data.size());
    if (out != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (out != nullptr && needed != 0) {
        std::memcpy(out, data.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS copyName(const std::wstring& name, LPWSTR out, LPDWORD length) {
    if (*length <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::wmemcpy(out, name.c_str(), name.size() + 1);
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void putFileTime(int64_t value, PFILETIME time) {
    if (time != nullptr) {
        time->dwLowDateTime = static_cast<DWORD>(value);
        time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    }
}

// Deletes the key at `subKey` below `key`; one with subkeys only as a whole `tree`.
LSTATUS removeKey(Registry& reg, HKEY key, LPCWSTR subKey, REGSAM sam, bool tree,
                  Signals& signals) {
    Location location;
    if (const LSTATUS status = locate(reg, key, subKey, sam, location, signals);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (location.path.size() <= 1) {
        return ERROR_ACCESS_DENIED;  // roots and hives stay
    }
    auto target = find(location);
    if (!target) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!tree && !target->children.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    reg.detach(*target, signals);
    return ERROR_SUCCESS;
}

LSTATUS deleteKey(HKEY key, LPCWSTR subKey, REGSAM sam) {
    if (subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return locked([&](Registry& reg, Signals& signals) {
        return removeKey(reg, key, subKey, sam, false, signals);
    });
}

void putString(Registry& reg, const Location& location, const wchar_t* name, const wchar_t* text,
               DWORD type, Signals& signals) {
    bool created = false;
    LSTATUS status = ERROR_SUCCESS;
    if (auto key = createPath(reg, location, created, status, signals)) {
        const std::wstring value(text);
        setValueOf(reg, *key, name, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   (value.size() + 1) * sizeof(wchar_t), signals);
    }
}

void Registry::reset() {
    watches.clear();
    Signals ignored;
    for (const auto& root : {machine, users}) {
        if (root) {
            markDeleted(*root, ignored);
        }
    }
    machine = std::make_shared<Key>();
    users = std::make_shared<Key>();
    wow64 = true;
    const auto at = [&](std::shared_ptr<Key> root, std::vector<std::wstring> path) {
        return Location{std::move(root), std::move(path)};
    };
    for (const wchar_t* hive : {L"HARDWARE", L"SAM", L"SECURITY", L"SOFTWARE", L"SYSTEM"}) {
        addChild(*machine, hive, ignored);
    }
    for (const wchar_t* hive : {L".DEFAULT", L"S-1-5-18"}) {
        addChild(*users, hive, ignored);
    }
    bool created = false;
    LSTATUS status = ERROR_SUCCESS;
    createPath(*this, at(machine, {L"SOFTWARE", L"WOW6432Node"}), created, status, ignored);
    createPath(*this, at(users, {L".DEFAULT", L"Software"}), created, status, ignored);
    for (const wchar_t* software : {L"", L"WOW6432Node"}) {
        std::vector<std::wstring> base = {L"SOFTWARE"};
        if (*software != L'\0') {
            base.push_back(software);
        }
        auto below = [&](std::initializer_list<std::wstring> rest) {
            auto path = base;
            path.insert(path.end(), rest);
            return at(machine, path);
        };
        const auto current = below({L"Microsoft", L"Windows", L"CurrentVersion"});
        const bool native = *software == L'\0';
        putString(*this, current, L"ProgramFilesDir",
                  native ? L"C:\\Program Files" : L"C:\\Program Files (x86)", REG_SZ, ignored);
        putString(*this, current, L"ProgramFilesDir (x86)", L"C:\\Program Files (x86)", REG_SZ,
                  ignored);
        putString(*this, current, L"ProgramW6432Dir", L"C:\\Program Files", REG_SZ, ignored);
        const auto shell =
            below({L"Microsoft", L"Windows", L"CurrentVersion", L"Explorer", L"Shell Folders"});
        putString(*this, shell, L"Common AppData", L"C:\\ProgramData", REG_SZ, ignored);
        putString(*this, shell, L"Common Desktop", L"C:\\Users\\Public\\Desktop", REG_SZ, ignored);
        const auto userShell = below(
            {L"Microsoft", L"Windows", L"CurrentVersion", L"Explorer", L"User Shell Folders"});
        putString(*this, userShell, L"Common AppData", L"%ProgramData%", REG_EXPAND_SZ, ignored);
        putString(*this, userShell, L"Common Desktop", L"%PUBLIC%\\Desktop", REG_EXPAND_SZ,
                  ignored);
    }
    putString(*this,
              at(machine, {L"SOFTWARE", L"Microsoft", L"Windows NT", L"CurrentVersion",
                           L"ProfileList", L"S-1-5-18"}),
              L"ProfileImagePath", L"%systemroot%\\system32\\config\\systemprofile", REG_EXPAND_SZ,
              ignored);
    const std::wstring profile = L"C:\\Windows\\system32\\config\\systemprofile";
    const auto systemShell = at(users, {L"S-1-5-18", L"Software", L"Microsoft", L"Windows",
                                        L"CurrentVersion", L"Explorer", L"Shell Folders"});
    putString(*this, systemShell, L"Local AppData", (profile + L"\\AppData\\Local").c_str(), REG_SZ,
              ignored);
    putString(*this, systemShell, L"AppData", (profile + L"\\AppData\\Roaming").c_str(), REG_SZ,
              ignored);
    const auto systemUserShell = at(users, {L"S-1-5-18", L"Software", L"Microsoft", L"Windows",
                                            L"CurrentVersion", L"Explorer", L"User Shell Folders"});
    putString(*this, systemUserShell, L"Local AppData", L"%USERPROFILE%\\AppData\\Local",
              REG_EXPAND_SZ, ignored);
    putString(*this, systemUserShell, L"AppData", L"%USERPROFILE%\\AppData\\Roaming", REG_EXPAND_SZ,
              ignored);
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    SIM_API("RegOpenKeyExW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (result == nullptr || (options & ~static_cast<DWORD>(REG_OPTION_OPEN_LINK)) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    return locked([&](Registry& reg, Signals& signals) -> LSTATUS {
        Location location;
        if (const LSTATUS status = locate(reg, key, subKey, desired, location, signals);
            status != ERROR_SUCCESS) {
            return status;
        }
        auto found = find(location);
        if (!found) {
            return ERROR_FILE_NOT_FOUND;
        }
        *result = insertKey(std::move(found), desired);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM desired,
                        const LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    SIM_API("RegCreateKeyExW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (result == nullptr || subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    return locked([&](Registry& reg, Signals& signals) -> LSTATUS {
        Location location;
        LSTATUS status = locate(reg, key, subKey, desired, location, signals);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        bool created = false;
        auto made = createPath(reg, location, created, status, signals);
        if (!made) {
            return status;
        }
        if (disposition != nullptr) {
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
        *result = insertKey(std::move(made), desired);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY key) {
    SIM_API("RegCloseKey");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (isPredefined(key)) {
        return ERROR_SUCCESS;
    }
    auto handle = sim::detail::lookupAs<KeyHandle>(key);
    if (!handle) {
        return ERROR_INVALID_HANDLE;
    }
    // Closing the key ends its pending notifications by firing them.
    locked([&](Registry& reg, Signals& signals) {
        std::erase_if(reg.watches, [&](const Watch& watch) {
            if (watch.owner != handle.get()) {
                return false;
            }
            signals.push_back(watch.event);
            return true;
        });
        return 0;
    });
    sim::detail::removeHandle(key);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    SIM_API("RegQueryValueExW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return onKey(key, KEY_QUERY_VALUE, [&](Registry&, Key& found, Signals&) -> LSTATUS {
        const Value* value = found.findValue(nameOrDefault(valueName));
        if (value == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (type != nullptr) {
            *type = value->type;
        }
        return copyData(value->data, data, dataSize);
    });
}

namespace {

// RegGetValueW's view of a value: typed, terminated, expanded.
LSTATUS readForGetValue(HKEY key, LPCWSTR subKey, LPCWSTR valueName, DWORD flags, DWORD& type,
                        std::vector<BYTE>& data) {
    REGSAM sam = KEY_QUERY_VALUE;
    if ((flags & RRF_SUBKEY_WOW6464KEY) != 0) {
        sam |= KEY_WOW64_64KEY;
    }
    if ((flags & RRF_SUBKEY_WOW6432KEY) != 0) {
        sam |= KEY_WOW64_32KEY;
    }
    HKEY opened = nullptr;
    const bool hasSubKey = subKey != nullptr && *subKey != L'\0';
    if (hasSubKey) {
        if (const LSTATUS status = RegOpenKeyExW(key, subKey, 0, sam, &opened);
            status != ERROR_SUCCESS) {
            return status;
        }
    }
    DWORD size = 0;
    const HKEY from = hasSubKey ? opened : key;
    LSTATUS status = RegQueryValueExW(from, valueName, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data.resize(size);
        status = RegQueryValueExW(from, valueName, nullptr, &type, data.data(), &size);
        data.resize(size);
    }
    if (opened != nullptr) {
        RegCloseKey(opened);
    }
    return status;
}

DWORD restrictionBit(DWORD type) {
    switch (type) {
        case REG_NONE:
            return RRF_RT_REG_NONE;
        case REG_SZ:
            return RRF_RT_REG_SZ;
        case REG_EXPAND_SZ:
            return RRF_RT_REG_EXPAND_SZ;
        case REG_BINARY:
            return RRF_RT_REG_BINARY;
        case REG_DWORD:
            return RRF_RT_REG_DWORD;
        case REG_MULTI_SZ:
            return RRF_RT_REG_MULTI_SZ;
        case REG_QWORD:
            return RRF_RT_REG_QWORD;
        default:
            return 0;  // only RRF_RT_ANY takes the other types
    }
}

bool typeAllowed(DWORD type, DWORD flags, size_t size) {
    const DWORD wanted = flags & RRF_RT_ANY;
    if (wanted != RRF_RT_ANY && (wanted & restrictionBit(type)) == 0) {
        return false;
    }
    // A binary value passes a DWORD or QWORD request only with the matching size.
    if (type == REG_BINARY && (wanted & RRF_RT_REG_BINARY) != 0 && wanted != RRF_RT_ANY) {
        if (wanted == RRF_RT_DWORD) {
            return size == 4;
        }
        if (wanted == RRF_RT_QWORD) {
            return size == 8;
        }
    }
    return true;
}

void terminateStrings(DWORD type, std::vector<BYTE>& data) {
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
        return;
    }
    data.resize(data.size() - data.size() % sizeof(wchar_t));
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    const size_t zeros = type == REG_MULTI_SZ ? 2 : 1;
    size_t trailing = 0;
    while (trailing < text.size() && text[text.size() - 1 - trailing] == L'\0') {
        ++trailing;
    }
    if (trailing < zeros) {
        text.append(zeros - trailing, L'\0');
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    data.assign(bytes, bytes + text.size() * sizeof(wchar_t));
}

void expand(std::vector<BYTE>& data) {
    const std::wstring text(reinterpret_cast<const wchar_t*>(data.data()));
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(needed, L'\0');
    ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    const auto* bytes = reinterpret_cast<const BYTE*>(expanded.data());
    data.assign(bytes, bytes + expanded.size() * sizeof(wchar_t));
}

}  // namespace

LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR valueName, DWORD flags, LPDWORD type,
                     PVOID data, LPDWORD dataSize) {
    SIM_API("RegGetValueW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    const DWORD wanted = flags & RRF_RT_ANY;
    const bool bothViews = (flags & RRF_SUBKEY_WOW6464KEY) && (flags & RRF_SUBKEY_WOW6432KEY);
    const bool expandWithoutNoExpand = wanted == RRF_RT_REG_EXPAND_SZ && !(flags & RRF_NOEXPAND);
    if (wanted == 0 || bothViews || expandWithoutNoExpand ||
        (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD actual = REG_NONE;
    std::vector<BYTE> bytes;
    if (const LSTATUS status = readForGetValue(key, subKey, valueName, flags, actual, bytes);
        status != ERROR_SUCCESS) {
        return status;
    }
    terminateStrings(actual, bytes);
    // An expanded value counts as REG_SZ, also for the type restriction.
    if (actual == REG_EXPAND_SZ && (flags & RRF_NOEXPAND) == 0) {
        expand(bytes);
        actual = REG_SZ;
    }
    if (!typeAllowed(actual, flags, bytes.size())) {
        return ERROR_UNSUPPORTED_TYPE;
    }
    if (type != nullptr) {
        *type = actual;
    }
    const DWORD capacity = dataSize != nullptr ? *dataSize : 0;
    const LSTATUS status = copyData(bytes, static_cast<LPBYTE>(data), dataSize);
    if (status != ERROR_SUCCESS && (flags & RRF_ZEROONFAILURE) != 0 && data != nullptr) {
        std::memset(data, 0, capacity);
    }
    return status;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    SIM_API("RegSetValueExW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (data == nullptr && dataSize != 0) {
        return ERROR_NOACCESS;
    }
    const std::wstring_view name = nameOrDefault(valueName);
    if (name.size() > 16383) {
        return ERROR_INVALID_PARAMETER;
    }
    return onKey(key, KEY_SET_VALUE, [&](Registry& reg, Key& found, Signals& signals) -> LSTATUS {
        setValueOf(reg, found, name, type, data, dataSize, signals);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    SIM_API("RegDeleteValueW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    return onKey(key, KEY_SET_VALUE, [&](Registry& reg, Key& found, Signals& signals) -> LSTATUS {
        const std::wstring_view name = nameOrDefault(valueName);
        const auto removed = std::erase_if(
            found.values, [&](const Value& value) { return sameName(value.name, name); });
        if (removed == 0) {
            return ERROR_FILE_NOT_FOUND;
        }
        reg.touch(found, REG_NOTIFY_CHANGE_LAST_SET, signals);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    SIM_API("RegDeleteKeyW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    return deleteKey(key, subKey, 0);
}

LSTATUS RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM desired, DWORD) {
    SIM_API("RegDeleteKeyExW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    return deleteKey(key, subKey, desired);
}

LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
    SIM_API("RegDeleteTreeW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    constexpr REGSAM rights = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
    return onKey(key, rights, [&](Registry& reg, Key& base, Signals& signals) -> LSTATUS {
        if (subKey != nullptr && *subKey != L'\0') {
            return removeKey(reg, key, subKey, 0, true, signals);
        }
        // Without a subkey: everything below the key goes, the key stays.
        while (!base.children.empty()) {
            reg.detach(*base.children.begin()->second, signals);
        }
        if (!base.values.empty()) {
            base.values.clear();
            reg.touch(base, REG_NOTIFY_CHANGE_LAST_SET, signals);
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    SIM_API("RegEnumKeyExW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (name == nullptr || nameLength == nullptr || reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return onKey(key, KEY_ENUMERATE_SUB_KEYS, [&](Registry&, Key& found, Signals&) -> LSTATUS {
        if (index >= found.children.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        const Key& child = *std::next(found.children.begin(), index)->second;
        if (const LSTATUS status = copyName(child.name, name, nameLength);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (classLength != nullptr) {
            if (keyClass != nullptr && *classLength > 0) {
                *keyClass = L'\0';
            }
            *classLength = 0;
        }
        putFileTime(child.lastWrite, lastWriteTime);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    SIM_API("RegEnumValueW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (valueName == nullptr || valueNameLength == nullptr || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return onKey(key, KEY_QUERY_VALUE, [&](Registry&, Key& found, Signals&) -> LSTATUS {
        if (index >= found.values.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        const Value& value = found.values[index];
        if (const LSTATUS status = copyName(value.name, valueName, valueNameLength);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (type != nullptr) {
            *type = value.type;
        }
        return copyData(value.data, data, dataSize);
    });
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
    SIM_API("RegQueryInfoKeyW");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    if (reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return onKey(key, KEY_QUERY_VALUE, [&](Registry&, Key& found, Signals&) -> LSTATUS {
        DWORD longestKey = 0;
        for (const auto& [name, child] : found.children) {
            longestKey = std::max(longestKey, static_cast<DWORD>(name.size()));
        }
        DWORD longestName = 0;
        DWORD longestData = 0;
        for (const auto& value : found.values) {
            longestName = std::max(longestName, static_cast<DWORD>(value.name.size()));
            longestData = std::max(longestData, static_cast<DWORD>(value.data.size()));
        }
        const auto put = [](LPDWORD out, DWORD value) {
            if (out != nullptr) {
                *out = value;
            }
        };
        if (keyClass != nullptr && classLength != nullptr && *classLength > 0) {
            *keyClass = L'\0';
        }
        put(classLength, 0);
        put(subKeys, static_cast<DWORD>(found.children.size()));
        put(maxSubKeyLength, longestKey);
        put(maxClassLength, 0);
        put(values, static_cast<DWORD>(found.values.size()));
        put(maxValueNameLength, longestName);
        put(maxValueLength, longestData);
        put(securityDescriptorSize, 0);
        putFileTime(found.lastWrite, lastWriteTime);
        return ERROR_SUCCESS;
    });
}

namespace {

LSTATUS arm(HKEY key, BOOL watchSubtree, DWORD filter, HANDLE event) {
    return locked([&](Registry& reg, Signals& signals) -> LSTATUS {
        Location location;
        std::shared_ptr<KeyHandle> handle;
        if (const LSTATUS status = baseOf(reg, key, location, handle, signals);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (handle && !handle->allows(KEY_NOTIFY)) {
            return ERROR_ACCESS_DENIED;
        }
        auto watched = handle ? handle->key() : find(location);
        if (!watched) {
            return ERROR_FILE_NOT_FOUND;
        }
        reg.watches.push_back({handle.get(), std::move(watched), event,
                               filter & ~static_cast<DWORD>(REG_NOTIFY_THREAD_AGNOSTIC),
                               watchSubtree != FALSE});
        return ERROR_SUCCESS;
    });
}

}  // namespace

LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD notifyFilter, HANDLE event,
                                BOOL asynchronous) {
    SIM_API("RegNotifyChangeKeyValue");
    if (simFault_) {
        return static_cast<LSTATUS>(*simFault_);
    }
    constexpr DWORD kKnown = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                             REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
    if ((notifyFilter & kKnown) == 0 ||
        (notifyFilter & ~(kKnown | static_cast<DWORD>(REG_NOTIFY_THREAD_AGNOSTIC))) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!asynchronous) {
        // Blocks until the change: the same watch, on an event of its own.
        HANDLE own = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        LSTATUS status = arm(key, watchSubtree, notifyFilter, own);
        if (status == ERROR_SUCCESS) {
            WaitForSingleObject(own, INFINITE);
        }
        CloseHandle(own);
        return status;
    }
    // Arming resets an event that an earlier change left set.
    if (event == nullptr || !sim::detail::setEventState(event, false)) {
        return ERROR_INVALID_HANDLE;
    }
    return arm(key, watchSubtree, notifyFilter, event);
}

// --- Test control ---------------------------------------------------------------------------

namespace {

Location physical(Registry& reg, std::wstring_view path, Signals& signals) {
    const size_t slash = path.find(L'\\');
    const std::wstring root = upper(path.substr(0, slash));
    Location location;
    if (root == L"HKLM" || root == L"HKEY_LOCAL_MACHINE") {
        location = {reg.machine, {}};
    } else if (root == L"HKU" || root == L"HKEY_USERS") {
        location = {reg.users, {}};
    } else if (root == L"HKCU" || root == L"HKEY_CURRENT_USER") {
        location = {reg.users, {userKey(reg, signals)->name}};
    } else if (root == L"HKCR" || root == L"HKEY_CLASSES_ROOT") {
        location = {reg.machine, {L"SOFTWARE", L"Classes"}};
    } else {
        throw std::invalid_argument("unknown registry root in " + sim::detail::toUtf8(path));
    }
    if (slash != std::wstring_view::npos) {
        const std::wstring rest(path.substr(slash + 1));
        splitSubKey(rest.c_str(), location.path);
    }
    return location;
}

std::shared_ptr<Key> createPhysical(Registry& reg, std::wstring_view path, Signals& signals) {
    const Location location = physical(reg, path, signals);
    bool created = false;
    LSTATUS status = ERROR_SUCCESS;
    auto key = createPath(reg, location, created, status, signals, true);
    if (!key) {
        throw std::invalid_argument("cannot create " + sim::detail::toUtf8(path));
    }
    return key;
}

}  // namespace

namespace sim::registry {

void setWow64Process(bool wow64) {
    locked([&](Registry& reg, Signals&) { return reg.wow64 = wow64; });
}

size_t openKeyCount() {
    return openKeys.load();
}

bool keyExists(std::wstring_view path) {
    return locked([&](Registry& reg, Signals& signals) {
        return find(physical(reg, path, signals)) != nullptr;
    });
}

void createKey(std::wstring_view path) {
    locked([&](Registry& reg, Signals& signals) { return createPhysical(reg, path, signals); });
}

void deleteTree(std::wstring_view path) {
    locked([&](Registry& reg, Signals& signals) {
        const Location location = physical(reg, path, signals);
        auto key = find(location);
        if (key && location.path.size() > 1) {
            reg.detach(*key, signals);
        }
        return 0;
    });
}

void setValue(std::wstring_view path, std::wstring_view name, uint32_t type,
              const std::vector<uint8_t>& data) {
    locked([&](Registry& reg, Signals& signals) {
        auto key = createPhysical(reg, path, signals);
        setValueOf(reg, *key, name, type, data.data(), data.size(), signals);
        return 0;
    });
}

void setString(std::wstring_view path, std::wstring_view name, std::wstring_view value,
               uint32_t type) {
    const std::wstring text(value);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
    setValue(path, name, type, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)});
}

void setDword(std::wstring_view path, std::wstring_view name, uint32_t value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    setValue(path, name, REG_DWORD, {bytes, bytes + sizeof value});
}

std::optional<Value> value(std::wstring_view path, std::wstring_view name) {
    return locked([&](Registry& reg, Signals& signals) -> std::optional<Value> {
        auto key = find(physical(reg, path, signals));
        const ::Value* found = key ? key->findValue(name) : nullptr;
        if (found == nullptr) {
            return std::nullopt;
        }
        return Value{found->type, found->data};
    });
}

std::optional<std::wstring> stringValue(std::wstring_view path, std::wstring_view name) {
    auto found = value(path, name);
    if (!found || (found->type != REG_SZ && found->type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(found->data.data()),
                      found->data.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

std::optional<uint32_t> dwordValue(std::wstring_view path, std::wstring_view name) {
    auto found = value(path, name);
    if (!found || found->type != REG_DWORD || found->data.size() != sizeof(uint32_t)) {
        return std::nullopt;
    }
    uint32_t number = 0;
    std::memcpy(&number, found->data.data(), sizeof number);
    return number;
}

std::vector<std::wstring> subkeys(std::wstring_view path) {
    return locked([&](Registry& reg, Signals& signals) {
        std::vector<std::wstring> names;
        if (auto key = find(physical(reg, path, signals))) {
            for (const auto& [name, child] : key->children) {
                names.push_back(child->name);
            }
        }
        return names;
    });
}

}  // namespace sim::registry
