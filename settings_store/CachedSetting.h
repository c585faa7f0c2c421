// The last good value of one store key, so that a store that fails for a moment does not flip
// a switch: "not found" clears the value, any other error keeps it.
#pragma once

#include <string>
#include <type_traits>

#include "common/logging/Log.h"
#include "settings_store/Orrery.h"

struct FWNetworkDefaultsSettings;

template <typename T>
class CachedSetting {
public:
    explicit CachedSetting(std::wstring key) : m_key(std::move(key)) {}

    // Keeps the handle (null takes it away; the value stays) and refreshes.
    void setHandle(PyxOrreryHandle handle) {
        m_handle = handle;
        refresh();
    }

    void refresh() {
        if (m_handle == nullptr) {
            return;
        }
        int err = 1;
        T read{};
        if constexpr (std::is_same_v<T, bool>) {
            read = Orrery::getBool(m_handle, m_key, true, &err);
        } else {
            read = Orrery::getObjectFromOrrery<T>(m_handle, m_key, T{}, &err);
        }
        if (err == PYX_ORRERY_OK) {
            m_value = read;
            m_hasValue = true;
        } else if (err == PYX_ORRERY_E_NOT_FOUND) {
            m_hasValue = false;
        }
    }

    // Keeps the value and writes it as JSON; a failed write is logged, the value stays.
    void storeValue(const T& value) {
        keepValue(value);
        writeValue(m_handle, value);
    }
    // The two halves of storeValue, for an owner that must not hold its lock while writing.
    void keepValue(const T& value) {
        m_value = value;
        m_hasValue = true;
    }
    void writeValue(PyxOrreryHandle handle, const T& value) const {
        const std::string text = nlohmann::json(value).dump();
        const int code = PyxOrrery_SetObjectFromStringUtf8(handle, m_key.c_str(), text.c_str());
        if (code != PYX_ORRERY_OK) {
            TARN_LOG_TAG(TarnPyxLogging::LevelWarning, storeValueTag())
                << "Error writing " << m_key << ": " << PyxOrrery_ErrorAsString(code);
        }
    }

    const T& value() const { return m_value; }
    bool hasValue() const { return m_hasValue; }
    const std::wstring& key() const { return m_key; }

private:
    // The tags read as the system's log readers know them.
    static constexpr const char* storeValueTag() {
        if constexpr (std::is_same_v<T, bool>) {
            return "CachedSetting<bool>::storeValue";
        } else if constexpr (std::is_same_v<T, FWNetworkDefaultsSettings>) {
            return "CachedSetting<struct FWNetworkDefaultsSettings>::storeValue";
        } else {
            return "CachedSetting::storeValue";
        }
    }

    PyxOrreryHandle m_handle = nullptr;
    T m_value{};
    bool m_hasValue = false;
    std::wstring m_key;
};
