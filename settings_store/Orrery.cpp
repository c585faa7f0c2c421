#include "settings_store/Orrery.h"

#include <stdexcept>

std::string Orrery::takeUtf8(char* text) {
    const tarn::UniqueOrreryString owned(text);
    if (text == nullptr) {
        throw std::runtime_error("The store returned no text");
    }
    return std::string(text);
}

bool Orrery::getBool(PyxOrreryHandle handle, const std::wstring& key, bool defaultValue, int* err) {
    setError(err, 1);
    return PyxOrrery_GetBool(handle, key.c_str(), defaultValue ? 1 : 0, err) == 1;
}

int32_t Orrery::getInt32(PyxOrreryHandle handle, const std::wstring& key, int32_t defaultValue,
                         int* err) {
    setError(err, 1);
    return PyxOrrery_GetInt32(handle, key.c_str(), defaultValue, err);
}

int64_t Orrery::getInt64(PyxOrreryHandle handle, const std::wstring& key, int64_t defaultValue,
                         int* err) {
    setError(err, 1);
    return PyxOrrery_GetInt64(handle, key.c_str(), defaultValue, err);
}

namespace {

std::wstring takeWide(wchar_t* text) {
    const tarn::UniqueOrreryString owned(text);
    return text == nullptr ? std::wstring() : std::wstring(text);
}

}  // namespace

std::wstring Orrery::getString(PyxOrreryHandle handle, const std::wstring& key) {
    return takeWide(PyxOrrery_GetString(handle, key.c_str(), L"", nullptr));
}

std::wstring Orrery::getObjectString(PyxOrreryObject object, const std::wstring& key, int* err) {
    setError(err, 1);
    return takeWide(PyxOrrery_ObjectGetString(object, key.c_str(), L"", err));
}

bool Orrery::getObjectBool(PyxOrreryObject object, const std::wstring& key, bool defaultValue,
                           int* err) {
    setError(err, 1);
    return PyxOrrery_ObjectGetBool(object, key.c_str(), defaultValue ? 1 : 0, err) == 1;
}

int64_t Orrery::getObjectInt64(PyxOrreryObject object, const std::wstring& key,
                               int64_t defaultValue, int* err) {
    setError(err, 1);
    return PyxOrrery_ObjectGetInt64(object, key.c_str(), defaultValue, err);
}

bool Orrery::isKeyConstrained(PyxOrreryHandle handle, const std::wstring& key) {
    int err = 1;
    const uint32_t constraints = PyxOrrery_GetConstraints(handle, key.c_str(), &err);
    return err == 0 && (constraints & PYX_ORRERY_CONSTRAINT_READ_ONLY) != 0;
}

bool Orrery::setBool(PyxOrreryHandle handle, const std::wstring& key, bool value) {
    TARN_LOG(TarnPyxLogging::LevelDebug) << key << "->" << (value ? "true" : "false");
    const int code = PyxOrrery_SetBool(handle, key.c_str(), value ? 1 : 0);
    if (code != 0) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Failed to write " << key << ":" << PyxOrrery_ErrorAsString(code);
        return false;
    }
    return true;
}

void Orrery::setString(PyxOrreryHandle handle, const std::wstring& key, const std::wstring& value) {
    TARN_LOG(TarnPyxLogging::LevelDebug) << key << " -> " << value;
    const int code = PyxOrrery_SetString(handle, key.c_str(), value.c_str());
    if (code != 0) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Failed to write " << key << ": " << PyxOrrery_ErrorAsString(code);
    }
}

void Orrery::setInt32(PyxOrreryHandle handle, const std::wstring& key, int32_t value) {
    TARN_LOG(TarnPyxLogging::LevelDebug) << key << " -> " << value;
    const int code = PyxOrrery_SetInt32(handle, key.c_str(), value);
    if (code != 0) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Failed to write " << key << ": " << PyxOrrery_ErrorAsString(code);
    }
}

void Orrery::setStringArray(PyxOrreryHandle handle, const std::wstring& key,
                            const std::vector<std::wstring>& values) {
    int code = 0;
    std::string reason;
    try {
        code = PyxOrrery_SetObjectFromStringUtf8(handle, key.c_str(),
                                                 nlohmann::json(values).dump().c_str());
        if (code != 0) {
            reason = tarn::str::toUtf8(PyxOrrery_ErrorAsString(code));
        }
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (!reason.empty()) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to write: " << key << ", error: " << reason;
    }
}

void Orrery::deleteValue(PyxOrreryHandle handle, const std::wstring& key) {
    TARN_LOG(TarnPyxLogging::LevelDebug) << "Delete: " << key;
    const int code = PyxOrrery_DeleteValue(handle, key.c_str());
    if (code != 0) {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Failed to delete " << key << ": " << PyxOrrery_ErrorAsString(code);
    }
}
