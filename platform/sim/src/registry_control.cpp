// The test-control side of the simulated registry (sim/registry_control.h): physical paths,
// no views, changes that notify watchers as changes through the API do.
#include <cstring>
#include <stdexcept>

#include "registry_tree.h"
#include "sim/registry_control.h"

using namespace sim::detail::reg;

namespace {

Location physical(Registry& reg, std::wstring_view path, Signals& signals) {
    const size_t slash = path.find(L'\\');
    const std::wstring root = sim::detail::upcase(path.substr(0, slash));
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
    sim::detail::setProcessBitness(wow64);
}

size_t openKeyCount() {
    return KeyHandle::openCount();
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
        const sim::detail::reg::Value* found = key ? key->findValue(name) : nullptr;
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
                names.push_back(name);
            }
        }
        return names;
    });
}

}  // namespace sim::registry
