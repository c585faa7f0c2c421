// The tree of keys of the simulated registry, its handles, and the keys of a fresh machine.
#include "registry_tree.h"

#include <cstring>

#include "sim/win/sync.h"

namespace sim::detail::reg {

namespace {

std::atomic<size_t> openKeys{0};

}  // namespace

bool sameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && upcase(a) == upcase(b);
}

bool NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return upcase(a) < upcase(b);
}

int64_t now() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

Value* Key::findValue(std::wstring_view valueName) {
    for (auto& value : values) {
        if (sameName(value.name, valueName)) {
            return &value;
        }
    }
    return nullptr;
}

std::shared_ptr<Key> Key::child(const std::wstring& childName) const {
    auto it = children.find(childName);
    return it == children.end() ? nullptr : it->second;
}

bool Key::isBelow(const Key* ancestor) const {
    for (const Key* k = parent; k != nullptr; k = k->parent) {
        if (k == ancestor) {
            return true;
        }
    }
    return false;
}

KeyHandle::KeyHandle(std::shared_ptr<Key> key, REGSAM access)
    : m_key(std::move(key)), m_access(access) {
    ++openKeys;
}

KeyHandle::~KeyHandle() {
    --openKeys;
}

size_t KeyHandle::openCount() {
    return openKeys.load();
}

void Registry::touch(Key& key, DWORD kind, Signals& signals) {
    key.lastWrite = now();
    notify(&key, kind, signals);
}

void Registry::markDeleted(Key& key, Signals& signals) {
    for (auto& [name, child] : key.children) {
        markDeleted(*child, signals);
    }
    key.children.clear();
    fireWatchesOf(key, signals);
    key.deleted = true;
}

void Registry::detach(Key& key, Signals& signals) {
    Key* parent = key.parent;
    auto keep = parent->children.at(key.name);  // alive until marked
    notify(parent, REG_NOTIFY_CHANGE_NAME, signals);
    markDeleted(key, signals);
    parent->children.erase(key.name);
    parent->lastWrite = now();
    key.parent = nullptr;
}

std::shared_ptr<Key> Registry::addChild(Key& parent, const std::wstring& name, Signals& signals) {
    auto child = std::make_shared<Key>();
    child->name = name;
    child->parent = &parent;
    parent.children.emplace(name, child);
    touch(parent, REG_NOTIFY_CHANGE_NAME, signals);
    return child;
}

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

namespace {

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

}  // namespace

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
    // The system account's hive has two names: ".DEFAULT" is the same key as "S-1-5-18".
    users->children.emplace(L".DEFAULT", addChild(*users, L"S-1-5-18", ignored));
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

}  // namespace sim::detail::reg
