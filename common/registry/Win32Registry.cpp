#include "common/registry/Win32Registry.h"

#include <cstring>

#include "common/Str.h"
#include "common/WinHandles.h"

namespace tarn {

namespace {

bool report(LSTATUS status, DWORD* error) {
    if (error != nullptr) {
        *error = static_cast<DWORD>(status);
    }
    return status == ERROR_SUCCESS;
}

// Text of a string value: up to the first zero, or all of it when the zero is missing.
std::wstring textOf(const std::vector<uint8_t>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

std::wstring wide(const std::string& text) {
    return str::toUnicode(text);
}

}  // namespace

Win32Registry::Win32Registry(HKEY root, REGSAM accessFlags)
    : m_root(root), m_accessFlags(accessFlags) {}

Win32Registry::~Win32Registry() = default;

void Win32Registry::setRootKey(HKEY root) {
    m_root = root;
}

void Win32Registry::setAccessFlags(REGSAM accessFlags) {
    m_accessFlags = accessFlags;
}

template <class Call>
bool Win32Registry::withKey(const std::wstring& key, REGSAM access, DWORD* error,
                            Call&& call) const {
    UniqueHKey opened;
    LSTATUS status = RegOpenKeyExW(m_root, key.c_str(), 0, access | m_accessFlags, opened.put());
    if (status == ERROR_SUCCESS) {
        status = call(opened.get());
    }
    return report(status, error);
}

bool Win32Registry::query(const std::wstring& key, const std::wstring& name, DWORD& type,
                          std::vector<uint8_t>& data, DWORD* error) const {
    return withKey(key, KEY_QUERY_VALUE, error, [&](HKEY opened) {
        data.resize(256);
        for (;;) {
            auto size = static_cast<DWORD>(data.size());
            const LSTATUS status =
                RegQueryValueExW(opened, name.c_str(), nullptr, &type, data.data(), &size);
            // The value may grow between two calls: ask again with the size just learned.
            if (status == ERROR_MORE_DATA) {
                data.resize(size);
                continue;
            }
            data.resize(status == ERROR_SUCCESS ? size : 0);
            return status;
        }
    });
}

bool Win32Registry::set(const std::wstring& key, const std::wstring& name, DWORD type,
                        const void* data, size_t size, DWORD* error) const {
    return withKey(key, KEY_SET_VALUE, error, [&](HKEY opened) {
        return RegSetValueExW(opened, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                              static_cast<DWORD>(size));
    });
}

bool Win32Registry::readNumber(const std::wstring& key, const std::wstring& name, DWORD numberType,
                               void* value, size_t size, DWORD* error) const {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    if (!query(key, name, type, data, error)) {
        return false;
    }
    if (type != numberType && type != REG_NONE) {
        return report(ERROR_UNSUPPORTED_TYPE, error);
    }
    if (data.size() != size) {
        return report(ERROR_INVALID_DATA, error);
    }
    std::memcpy(value, data.data(), size);
    return true;
}

bool Win32Registry::valueExists(const std::wstring& key, const std::wstring& name,
                                DWORD* error) const {
    return withKey(key, KEY_QUERY_VALUE, error, [&](HKEY opened) {
        return RegQueryValueExW(opened, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    });
}

bool Win32Registry::readString(const std::wstring& key, const std::wstring& name,
                               std::wstring& value, DWORD* error) const {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    if (!query(key, name, type, data, error)) {
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return report(ERROR_UNSUPPORTED_TYPE, error);
    }
    value = textOf(data);
    return true;
}

bool Win32Registry::writeString(const std::wstring& key, const std::wstring& name,
                                const std::wstring& value, DWORD* error) const {
    return set(key, name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t), error);
}

bool Win32Registry::readDword(const std::wstring& key, const std::wstring& name, DWORD& value,
                              DWORD* error) const {
    return readNumber(key, name, REG_DWORD, &value, sizeof value, error);
}

bool Win32Registry::writeDword(const std::wstring& key, const std::wstring& name, DWORD value,
                               DWORD* error) const {
    return set(key, name, REG_DWORD, &value, sizeof value, error);
}

bool Win32Registry::readQword(const std::wstring& key, const std::wstring& name, uint64_t& value,
                              DWORD* error) const {
    return readNumber(key, name, REG_QWORD, &value, sizeof value, error);
}

bool Win32Registry::writeQword(const std::wstring& key, const std::wstring& name, uint64_t value,
                               DWORD* error) const {
    return set(key, name, REG_QWORD, &value, sizeof value, error);
}

bool Win32Registry::readMultiString(const std::wstring& key, const std::wstring& name,
                                    std::vector<std::wstring>& value, DWORD* error) const {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    if (!query(key, name, type, data, error)) {
        return false;
    }
    if (type != REG_MULTI_SZ) {
        return report(ERROR_UNSUPPORTED_TYPE, error);
    }
    std::wstring all(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(all.data(), data.data(), all.size() * sizeof(wchar_t));
    value.clear();
    // Strings follow each other, each with its zero; an empty string ends the list.
    for (size_t start = 0; start < all.size();) {
        size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos) {
            end = all.size();
        }
        if (end == start) {
            break;
        }
        value.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool Win32Registry::writeMultiString(const std::wstring& key, const std::wstring& name,
                                     const std::vector<std::wstring>& value, DWORD* error) const {
    std::wstring all;
    for (const auto& text : value) {
        if (!text.empty()) {
            all += text;
            all += L'\0';
        }
    }
    all += L'\0';
    return set(key, name, REG_MULTI_SZ, all.data(), all.size() * sizeof(wchar_t), error);
}

bool Win32Registry::readBinary(const std::wstring& key, const std::wstring& name,
                               std::vector<uint8_t>& value, DWORD* error) const {
    DWORD type = REG_NONE;
    if (!query(key, name, type, value, error)) {
        return false;
    }
    if (type != REG_BINARY) {
        value.clear();
        return report(ERROR_UNSUPPORTED_TYPE, error);
    }
    return true;
}

bool Win32Registry::writeBinary(const std::wstring& key, const std::wstring& name,
                                const std::vector<uint8_t>& value, DWORD* error) const {
    return set(key, name, REG_BINARY, value.data(), value.size(), error);
}

bool Win32Registry::readRaw(const std::wstring& key, const std::wstring& name, DWORD& type,
                            std::vector<uint8_t>& data, DWORD* error) const {
    return query(key, name, type, data, error);
}

bool Win32Registry::deleteValue(const std::wstring& key, const std::wstring& name,
                                DWORD* error) const {
    return withKey(key, KEY_SET_VALUE, error,
                   [&](HKEY opened) { return RegDeleteValueW(opened, name.c_str()); });
}

bool Win32Registry::keyExists(const std::wstring& key, DWORD* error) const {
    return withKey(key, KEY_READ, error, [](HKEY) { return LSTATUS{ERROR_SUCCESS}; });
}

bool Win32Registry::createKey(const std::wstring& key, DWORD* error) const {
    UniqueHKey created;
    return report(RegCreateKeyExW(m_root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_WRITE | m_accessFlags, nullptr, created.put(), nullptr),
                  error);
}

// Deleting through a handle opened in the wanted view: RegDeleteKeyW itself always works in
// the process's default view.
bool Win32Registry::deleteKey(const std::wstring& key, DWORD* error) const {
    return withKey(key, DELETE, error, [](HKEY opened) { return RegDeleteKeyW(opened, L""); });
}

bool Win32Registry::deleteKeyTree(const std::wstring& key, DWORD* error) const {
    constexpr REGSAM access = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE;
    return withKey(key, access, error, [](HKEY opened) {
        const LSTATUS status = RegDeleteTreeW(opened, nullptr);
        return status == ERROR_SUCCESS ? RegDeleteKeyW(opened, L"") : status;
    });
}

bool Win32Registry::listSubkeys(const std::wstring& key, std::vector<std::wstring>& names,
                                DWORD* error) const {
    names.clear();
    return withKey(key, KEY_ENUMERATE_SUB_KEYS, error, [&](HKEY opened) {
        wchar_t name[256];  // key names have at most 255 characters
        for (DWORD index = 0;; ++index) {
            DWORD length = 256;
            const LSTATUS status =
                RegEnumKeyExW(opened, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) {
                return LSTATUS{ERROR_SUCCESS};
            }
            if (status != ERROR_SUCCESS) {
                return status;
            }
            names.emplace_back(name, length);
        }
    });
}

bool Win32Registry::listValues(const std::wstring& key, std::vector<std::wstring>& names,
                               DWORD* error) const {
    names.clear();
    return withKey(key, KEY_QUERY_VALUE, error, [&](HKEY opened) {
        std::vector<wchar_t> name(16384);  // value names have at most 16383 characters
        for (DWORD index = 0;; ++index) {
            auto length = static_cast<DWORD>(name.size());
            const LSTATUS status = RegEnumValueW(opened, index, name.data(), &length, nullptr,
                                                 nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) {
                return LSTATUS{ERROR_SUCCESS};
            }
            if (status != ERROR_SUCCESS) {
                return status;
            }
            names.emplace_back(name.data(), length);
        }
    });
}

bool Win32Registry::valueExists(const std::string& key, const std::string& name,
                                DWORD* error) const {
    return valueExists(wide(key), wide(name), error);
}

bool Win32Registry::readString(const std::string& key, const std::string& name, std::wstring& value,
                               DWORD* error) const {
    return readString(wide(key), wide(name), value, error);
}

bool Win32Registry::writeString(const std::string& key, const std::string& name,
                                const std::wstring& value, DWORD* error) const {
    return writeString(wide(key), wide(name), value, error);
}

bool Win32Registry::readDword(const std::string& key, const std::string& name, DWORD& value,
                              DWORD* error) const {
    return readDword(wide(key), wide(name), value, error);
}

bool Win32Registry::writeDword(const std::string& key, const std::string& name, DWORD value,
                               DWORD* error) const {
    return writeDword(wide(key), wide(name), value, error);
}

bool Win32Registry::readQword(const std::string& key, const std::string& name, uint64_t& value,
                              DWORD* error) const {
    return readQword(wide(key), wide(name), value, error);
}

bool Win32Registry::writeQword(const std::string& key, const std::string& name, uint64_t value,
                               DWORD* error) const {
    return writeQword(wide(key), wide(name), value, error);
}

bool Win32Registry::readMultiString(const std::string& key, const std::string& name,
                                    std::vector<std::wstring>& value, DWORD* error) const {
    return readMultiString(wide(key), wide(name), value, error);
}

bool Win32Registry::writeMultiString(const std::string& key, const std::string& name,
                                     const std::vector<std::wstring>& value, DWORD* error) const {
    return writeMultiString(wide(key), wide(name), value, error);
}

bool Win32Registry::readBinary(const std::string& key, const std::string& name,
                               std::vector<uint8_t>& value, DWORD* error) const {
    return readBinary(wide(key), wide(name), value, error);
}

bool Win32Registry::writeBinary(const std::string& key, const std::string& name,
                                const std::vector<uint8_t>& value, DWORD* error) const {
    return writeBinary(wide(key), wide(name), value, error);
}

bool Win32Registry::readRaw(const std::string& key, const std::string& name, DWORD& type,
                            std::vector<uint8_t>& data, DWORD* error) const {
    return readRaw(wide(key), wide(name), type, data, error);
}

bool Win32Registry::deleteValue(const std::string& key, const std::string& name,
                                DWORD* error) const {
    return deleteValue(wide(key), wide(name), error);
}

bool Win32Registry::keyExists(const std::string& key, DWORD* error) const {
    return keyExists(wide(key), error);
}

bool Win32Registry::createKey(const std::string& key, DWORD* error) const {
    return createKey(wide(key), error);
}

bool Win32Registry::deleteKey(const std::string& key, DWORD* error) const {
    return deleteKey(wide(key), error);
}

bool Win32Registry::deleteKeyTree(const std::string& key, DWORD* error) const {
    return deleteKeyTree(wide(key), error);
}

bool Win32Registry::listSubkeys(const std::string& key, std::vector<std::wstring>& names,
                                DWORD* error) const {
    return listSubkeys(wide(key), names, error);
}

bool Win32Registry::listValues(const std::string& key, std::vector<std::wstring>& names,
                               DWORD* error) const {
    return listValues(wide(key), names, error);
}

}  // namespace tarn
