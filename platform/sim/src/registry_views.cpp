// View resolution of the simulated registry: from a handle or predefined key and a subkey to
// the physical key, through the 32-bit view's WOW6432Node where a call asks for it.
#include <algorithm>

#include "registry_tree.h"

namespace sim::detail::reg {

namespace {

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

}  // namespace

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

bool isPredefined(HKEY key) {
    const auto value = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(key));
    return (value & 0xFFFFFFF0u) == 0x80000000u;
}

std::shared_ptr<Key> userKey(Registry& reg, Signals& signals) {
    const std::wstring sid = currentAccountSid();
    if (auto existing = reg.users->child(sid)) {
        return existing;
    }
    auto created = reg.addChild(*reg.users, sid, signals);
    reg.addChild(*created, L"Software", signals);
    return created;
}

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
    handle = lookupAs<KeyHandle>(key);
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
        insertHandle(std::make_shared<KeyHandle>(std::move(key), access)));
}

std::shared_ptr<Key> createPath(Registry& reg, const Location& location, bool& created,
                                LSTATUS& status, Signals& signals, bool newHives) {
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

}  // namespace sim::detail::reg
