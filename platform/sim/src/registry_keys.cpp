// Keys of the simulated registry: opening, creating, closing, deleting, enumerating.
#include <algorithm>
#include <iterator>

#include "registry_tree.h"

using namespace sim::detail::reg;

namespace {

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
        reg.fireWatchesThrough(handle.get(), signals);
        return 0;
    });
    sim::detail::removeHandle(key);
    return ERROR_SUCCESS;
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
        // By the name the child has here: HKU lists the system account's hive twice.
        const auto& [childName, child] = *std::next(found.children.begin(), index);
        if (const LSTATUS status = copyName(childName, name, nameLength); status != ERROR_SUCCESS) {
            return status;
        }
        if (classLength != nullptr) {
            if (keyClass != nullptr && *classLength > 0) {
                *keyClass = L'\0';
            }
            *classLength = 0;
        }
        putFileTime(child->lastWrite, lastWriteTime);
        return ERROR_SUCCESS;
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
