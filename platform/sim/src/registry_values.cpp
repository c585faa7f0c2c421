// Values of the simulated registry: RegQueryValueExW and RegGetValueW (typed, terminated,
// expanded reads), setting, deleting and enumerating values.
#include <cstring>

#include "registry_tree.h"

using namespace sim::detail::reg;

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
