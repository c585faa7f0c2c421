// The system's one way to the settings store: typed reads with defaults, writes that log their
// failures, objects and arrays as JSON. Nothing here throws to its callers.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/Str.h"
#include "common/logging/Log.h"
#include "settings_store/JsonWide.h"
#include "settings_store/OrreryResources.h"
#include "standin/orrery/PyxOrrery.h"

class Orrery {
public:
    // --- Reads: the default on any failure; `err` (optional) gets the library's code. ----
    static bool getBool(PyxOrreryHandle handle, const std::wstring& key, bool defaultValue,
                        int* err = nullptr);
    static int32_t getInt32(PyxOrreryHandle handle, const std::wstring& key, int32_t defaultValue,
                            int* err = nullptr);
    static int64_t getInt64(PyxOrreryHandle handle, const std::wstring& key, int64_t defaultValue,
                            int* err = nullptr);
    static std::wstring getString(PyxOrreryHandle handle, const std::wstring& key);
    // Members of a store object; `err` as above (10 when the member is absent).
    static std::wstring getObjectString(PyxOrreryObject object, const std::wstring& key,
                                        int* err = nullptr);
    static bool getObjectBool(PyxOrreryObject object, const std::wstring& key, bool defaultValue,
                              int* err = nullptr);
    static int64_t getObjectInt64(PyxOrreryObject object, const std::wstring& key,
                                  int64_t defaultValue, int* err = nullptr);
    static bool isKeyConstrained(PyxOrreryHandle handle, const std::wstring& key);

    // The whole object or array under a key, converted to T.
    template <typename T>
    static T getObjectFromOrrery(PyxOrreryHandle handle, const std::wstring& key,
                                 const T& defaultValue, int* err = nullptr);
    // A store object the caller holds, converted to T; `key` only names it in the log.
    template <typename T>
    static T getOrreryObjectAsObject(PyxOrreryObject object, const std::wstring& key,
                                     const T& defaultValue, int* err = nullptr);
    // One member of a store object, converted to T; the default when the member is absent
    // (`err` then gets PYX_ORRERY_E_NOT_FOUND).
    template <typename T>
    static T getSubObjFromOrreryObject(PyxOrreryObject object, const std::wstring& subKey,
                                       const T& defaultValue, int* err = nullptr);

    // --- Writes: logged at the debug level first; failures are logged, not retried. ------
    static bool setBool(PyxOrreryHandle handle, const std::wstring& key, bool value);
    static void setString(PyxOrreryHandle handle, const std::wstring& key,
                          const std::wstring& value);
    static void setInt32(PyxOrreryHandle handle, const std::wstring& key, int32_t value);
    static void setStringArray(PyxOrreryHandle handle, const std::wstring& key,
                               const std::vector<std::wstring>& values);
    static void deleteValue(PyxOrreryHandle handle, const std::wstring& key);

private:
    static void setError(int* err, int code) {
        if (err != nullptr) {
            *err = code;
        }
    }
    static std::string takeUtf8(char* text);
};

template <typename T>
T Orrery::getObjectFromOrrery(PyxOrreryHandle handle, const std::wstring& key,
                              const T& defaultValue, int* err) {
    int e = 1;
    const tarn::UniqueOrreryObject object(PyxOrrery_GetObject(handle, key.c_str(), &e));
    setError(err, e);
    if (!object || e != 0) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Failed to read '" << key << "'. Error:" << PyxOrrery_ErrorAsString(e);
        return defaultValue;
    }
    return getOrreryObjectAsObject<T>(object.get(), key, defaultValue, err);
}

template <typename T>
T Orrery::getOrreryObjectAsObject(PyxOrreryObject object, const std::wstring& key,
                                  const T& defaultValue, int* err) {
    setError(err, 1);
    try {
        const std::string text = takeUtf8(PyxOrrery_ObjectToStringUtf8(object));
        T value = nlohmann::json::parse(text).get<T>();
        setError(err, 0);
        return value;
    } catch (const std::exception& e) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Failed to parse '" << key << "'. Error : " << e.what();
        return defaultValue;
    }
}

template <typename T>
T Orrery::getSubObjFromOrreryObject(PyxOrreryObject object, const std::wstring& subKey,
                                    const T& defaultValue, int* err) {
    setError(err, 1);
    try {
        const std::string member = tarn::str::toUtf8(subKey);
        const nlohmann::json whole =
            getOrreryObjectAsObject<nlohmann::json>(object, subKey, nlohmann::json());
        if (whole.is_object() && !whole.contains(member)) {
            setError(err, PYX_ORRERY_E_NOT_FOUND);
            return defaultValue;
        }
        // at() of a value that is no object throws, and lands in the log below.
        T value = whole.at(member).get<T>();
        setError(err, 0);
        return value;
    } catch (const std::exception& e) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Getting failed ': " << subKey << " ' Error: " << e.what();
        return defaultValue;
    }
}
