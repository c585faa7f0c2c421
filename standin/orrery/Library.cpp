// The exported functions: argument checks, handles and objects, conversions at the boundary.
// No exception leaves the library: each entry point turns one into PYX_ORRERY_E_FAILED.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "common/logging/Log.h"
#include "standin/orrery/Dispatcher.h"
#include "standin/orrery/JsonText.h"
#include "standin/orrery/PyxOrrery.h"
#include "standin/orrery/Store.h"
#include "standin/orrery/Text.h"

using tarn::orrery::DocumentPtr;
using tarn::orrery::Json;
using tarn::orrery::KeyPath;
using tarn::orrery::Mutation;

struct PyxOrreryHandle_ {
    std::shared_ptr<tarn::orrery::Store> store;
    std::wstring client;
    bool readOnly = false;
    // The management side sets the constraints, so they do not bind it.
    bool management = false;
};

// An immutable view of one value: it keeps the whole document alive, so it never copies.
struct PyxOrreryObject_ {
    DocumentPtr document;
    const Json* value = nullptr;
};

namespace {

using Handle = std::shared_ptr<PyxOrreryHandle_>;

struct Handles {
    std::mutex mutex;
    std::map<const PyxOrreryHandle_*, Handle> live;
};

Handles& handles() {
    static Handles instance;
    return instance;
}

Handle findHandle(PyxOrreryHandle handle) {
    auto& table = handles();
    std::lock_guard lock(table.mutex);
    const auto it = table.live.find(handle);
    return it == table.live.end() ? nullptr : it->second;
}

void openLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        TarnPyxLogging::logger().open(static_cast<const char*>(nullptr), "Orrery", "PyxOrrery",
                                      TarnPyxLogging::LevelInfo, 0);
    });
}

void setError(int* err, int code) {
    if (err != nullptr) {
        *err = code;
    }
}

// Runs an entry point's body; an exception becomes PYX_ORRERY_E_FAILED and `fallback`.
template <typename Result, typename Body>
Result guarded(int* err, Result fallback, Body body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Unexpected failure: " << e.what();
    } catch (...) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Unexpected failure";
    }
    setError(err, PYX_ORRERY_E_FAILED);
    return fallback;
}

template <typename Body>
int guardedCode(Body body) noexcept {
    int code = PYX_ORRERY_E_FAILED;
    guarded(&code, 0, [&] {
        code = body();
        return 0;
    });
    return code;
}

template <typename Char>
Char* copyText(std::basic_string_view<Char> text) {
    auto* copy = static_cast<Char*>(std::malloc((text.size() + 1) * sizeof(Char)));
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(copy, text.data(), text.size() * sizeof(Char));
    copy[text.size()] = Char(0);
    return copy;
}

PyxOrreryObject makeObject(DocumentPtr document, const Json* value) {
    auto object = std::make_unique<PyxOrreryObject_>();
    object->document = std::move(document);
    object->value = value;
    return object.release();  // the caller frees it with PyxOrrery_DeleteObject
}

// Reads a value below `root` and converts it; the fallback on any error.
template <typename T, typename Convert>
T readBelow(const Json& root, const wchar_t* key, T fallback, int* err, Convert convert) {
    KeyPath path;
    if (const int code = tarn::orrery::parseKey(key, path); code != PYX_ORRERY_OK) {
        setError(err, code);
        return fallback;
    }
    const Json* value = tarn::orrery::findValue(root, path.segments);
    if (value == nullptr) {
        setError(err, PYX_ORRERY_E_NOT_FOUND);
        return fallback;
    }
    T result = fallback;
    const int code = convert(*value, result);
    setError(err, code);
    return code == PYX_ORRERY_OK ? result : fallback;
}

// Reads a value of the handle's store.
template <typename T, typename Convert>
T readValue(PyxOrreryHandle handle, const wchar_t* key, T fallback, int* err, Convert convert) {
    return guarded(err, fallback, [&] {
        const Handle owner = findHandle(handle);
        if (!owner) {
            setError(err, PYX_ORRERY_E_INVALID_HANDLE);
            return fallback;
        }
        const DocumentPtr document = owner->store->snapshot();
        return readBelow(document->values, key, fallback, err, convert);
    });
}

// Reads a value below a store object.
template <typename T, typename Convert>
T readMember(PyxOrreryObject object, const wchar_t* key, T fallback, int* err, Convert convert) {
    return guarded(err, fallback, [&] {
        if (object == nullptr) {
            setError(err, PYX_ORRERY_E_INVALID_HANDLE);
            return fallback;
        }
        return readBelow(*object->value, key, fallback, err, convert);
    });
}

int toBool(const Json& value, int& out) {
    if (!value.is_boolean()) {
        return PYX_ORRERY_E_WRONG_TYPE;
    }
    out = value.get<bool>() ? 1 : 0;
    return PYX_ORRERY_OK;
}

template <typename Int>
int toInteger(const Json& value, Int& out) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<Int>::max())) {
            return PYX_ORRERY_E_OUT_OF_RANGE;
        }
        out = static_cast<Int>(number);
        return PYX_ORRERY_OK;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<int64_t>();
        if (number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max()) {
            return PYX_ORRERY_E_OUT_OF_RANGE;
        }
        out = static_cast<Int>(number);
        return PYX_ORRERY_OK;
    }
    return PYX_ORRERY_E_WRONG_TYPE;
}

int toText(const Json& value, std::optional<std::wstring>& out) {
    if (!value.is_string()) {
        return PYX_ORRERY_E_WRONG_TYPE;
    }
    out = tarn::orrery::fromUtf8Strict(value.get_ref<const std::string&>());
    return out ? PYX_ORRERY_OK : PYX_ORRERY_E_INVALID_TEXT;
}

// The string result of a getter: the value, else a copy of the default (null stays null).
wchar_t* stringResult(const std::optional<std::wstring>& value, const wchar_t* fallback) {
    if (value) {
        return copyText(std::wstring_view(*value));
    }
    return fallback == nullptr ? nullptr : copyText(std::wstring_view(fallback));
}

// Applies one change through a handle that may write.
int change(PyxOrreryHandle handle, const wchar_t* key, Mutation mutation) {
    return guardedCode([&] {
        const Handle owner = findHandle(handle);
        if (!owner) {
            return static_cast<int>(PYX_ORRERY_E_INVALID_HANDLE);
        }
        if (owner->readOnly) {
            return static_cast<int>(PYX_ORRERY_E_READ_ONLY);
        }
        if (mutation.kind != Mutation::Kind::ReplaceValues) {
            KeyPath path;
            if (const int code = tarn::orrery::parseKey(key, path); code != PYX_ORRERY_OK) {
                return code;
            }
            mutation.path = std::move(path.segments);
            mutation.key = std::move(path.text);
        }
        mutation.overrideConstraints = owner->management;
        return owner->store->apply(mutation);
    });
}

Mutation setTo(Json value) {
    Mutation mutation;
    mutation.value = std::move(value);
    return mutation;
}

// Parses a JSON text from a caller: valid UTF-8 first, then JSON as the store takes it.
int parseJsonText(const char* text, Json& out, size_t& depth) {
    if (text == nullptr) {
        return PYX_ORRERY_E_INVALID_ARGUMENT;
    }
    const std::string_view view(text);
    if (!tarn::orrery::fromUtf8Strict(view)) {
        return PYX_ORRERY_E_INVALID_TEXT;
    }
    tarn::orrery::ParsedJson parsed = tarn::orrery::parseJson(view);
    if (parsed.error != PYX_ORRERY_OK) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Refused JSON text: " << parsed.reason;
        return parsed.error;
    }
    out = std::move(parsed.value);
    depth = parsed.depth;
    return PYX_ORRERY_OK;
}

PyxOrreryHandle openHandle(const wchar_t* namespaceName, int flags, const wchar_t* client,
                           int* err) {
    openLog();
    if (!tarn::orrery::isValidNamespace(namespaceName)) {
        setError(err, PYX_ORRERY_E_INVALID_ARGUMENT);
        return nullptr;
    }
    int code = PYX_ORRERY_E_FAILED;
    auto store = tarn::orrery::Store::open(tarn::orrery::storeFolder(), namespaceName, code);
    setError(err, code);
    if (!store) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Cannot open the store of " << namespaceName << ": "
                                             << PyxOrrery_ErrorAsString(code);
        return nullptr;
    }
    auto handle = std::make_shared<PyxOrreryHandle_>();
    handle->store = std::move(store);
    handle->client = client == nullptr ? L"" : client;
    handle->readOnly = (flags & PYX_ORRERY_OPEN_READ_ONLY) != 0;
    handle->management = (flags & PYX_ORRERY_OPEN_MANAGEMENT) != 0;
    auto& table = handles();
    std::lock_guard lock(table.mutex);
    table.live.emplace(handle.get(), handle);
    return handle.get();
}

}  // namespace

PYX_ORRERY_API PyxOrreryHandle WINAPI PyxOrrery_OpenHandle(const wchar_t* namespaceName,
                                                           const wchar_t*, const wchar_t* client,
                                                           int* err) {
    return guarded(err, PyxOrreryHandle(nullptr),
                   [&] { return openHandle(namespaceName, 0, client, err); });
}

PYX_ORRERY_API PyxOrreryHandle WINAPI PyxOrrery_OpenHandleEx(const wchar_t* namespaceName,
                                                             const wchar_t*, const wchar_t* client,
                                                             int reserved, int flags) {
    if (reserved != 0 || (flags & ~(PYX_ORRERY_OPEN_READ_ONLY | PYX_ORRERY_OPEN_MANAGEMENT)) != 0) {
        return nullptr;
    }
    return guarded(nullptr, PyxOrreryHandle(nullptr),
                   [&] { return openHandle(namespaceName, flags, client, nullptr); });
}

PYX_ORRERY_API void WINAPI PyxOrrery_CloseHandle(PyxOrreryHandle handle) {
    guarded(nullptr, 0, [&] {
        Handle owner;
        {
            auto& table = handles();
            std::lock_guard lock(table.mutex);
            const auto it = table.live.find(handle);
            if (it == table.live.end()) {
                return 0;
            }
            owner = std::move(it->second);
            table.live.erase(it);
        }
        tarn::orrery::Dispatcher::instance().dropOwner(owner.get());
        return 0;
    });
}

PYX_ORRERY_API int WINAPI PyxOrrery_GetBool(PyxOrreryHandle handle, const wchar_t* key,
                                            int defaultValue, int* err) {
    return readValue(handle, key, defaultValue, err, toBool);
}

PYX_ORRERY_API wchar_t* WINAPI PyxOrrery_GetString(PyxOrreryHandle handle, const wchar_t* key,
                                                   const wchar_t* defaultValue, int* err) {
    return guarded(err, static_cast<wchar_t*>(nullptr), [&] {
        return stringResult(readValue(handle, key, std::optional<std::wstring>(), err, toText),
                            defaultValue);
    });
}

PYX_ORRERY_API int32_t WINAPI PyxOrrery_GetInt32(PyxOrreryHandle handle, const wchar_t* key,
                                                 int32_t defaultValue, int* err) {
    return readValue(handle, key, defaultValue, err, toInteger<int32_t>);
}

PYX_ORRERY_API int64_t WINAPI PyxOrrery_GetInt64(PyxOrreryHandle handle, const wchar_t* key,
                                                 int64_t defaultValue, int* err) {
    return readValue(handle, key, defaultValue, err, toInteger<int64_t>);
}

PYX_ORRERY_API int WINAPI PyxOrrery_SetBool(PyxOrreryHandle handle, const wchar_t* key, int value) {
    return change(handle, key, setTo(Json(value != 0)));
}

PYX_ORRERY_API int WINAPI PyxOrrery_SetString(PyxOrreryHandle handle, const wchar_t* key,
                                              const wchar_t* value) {
    if (value == nullptr) {
        return PYX_ORRERY_E_INVALID_ARGUMENT;
    }
    auto text = tarn::orrery::toUtf8Strict(value);
    if (!text) {
        return PYX_ORRERY_E_INVALID_TEXT;
    }
    return change(handle, key, setTo(Json(std::move(*text))));
}

PYX_ORRERY_API int WINAPI PyxOrrery_SetInt32(PyxOrreryHandle handle, const wchar_t* key,
                                             int32_t value) {
    return change(handle, key, setTo(Json(value)));
}

PYX_ORRERY_API int WINAPI PyxOrrery_SetInt64(PyxOrreryHandle handle, const wchar_t* key,
                                             int64_t value) {
    return change(handle, key, setTo(Json(value)));
}

PYX_ORRERY_API int WINAPI PyxOrrery_SetObjectFromStringUtf8(PyxOrreryHandle handle,
                                                            const wchar_t* key,
                                                            const char* jsonUtf8) {
    return guardedCode([&] {
        Json value;
        size_t depth = 0;
        if (const int code = parseJsonText(jsonUtf8, value, depth); code != PYX_ORRERY_OK) {
            return code;
        }
        Mutation mutation = setTo(std::move(value));
        mutation.depth = depth;
        return change(handle, key, std::move(mutation));
    });
}

PYX_ORRERY_API int WINAPI PyxOrrery_DeleteValue(PyxOrreryHandle handle, const wchar_t* key) {
    Mutation mutation;
    mutation.kind = Mutation::Kind::Erase;
    return change(handle, key, std::move(mutation));
}

PYX_ORRERY_API PyxOrreryObject WINAPI PyxOrrery_GetObject(PyxOrreryHandle handle,
                                                          const wchar_t* key, int* err) {
    return guarded(err, PyxOrreryObject(nullptr), [&]() -> PyxOrreryObject {
        const Handle owner = findHandle(handle);
        if (!owner) {
            setError(err, PYX_ORRERY_E_INVALID_HANDLE);
            return nullptr;
        }
        DocumentPtr document = owner->store->snapshot();
        const Json* value = readBelow<const Json*>(document->values, key, nullptr, err,
                                                   [](const Json& json, const Json*& out) {
                                                       out = &json;
                                                       return static_cast<int>(PYX_ORRERY_OK);
                                                   });
        return value == nullptr ? nullptr : makeObject(std::move(document), value);
    });
}

PYX_ORRERY_API PyxOrreryObject WINAPI PyxOrrery_ObjectGetObject(PyxOrreryObject object,
                                                                const wchar_t* key, int* err) {
    const Json* value =
        readMember<const Json*>(object, key, nullptr, err, [](const Json& json, const Json*& out) {
            out = &json;
            return static_cast<int>(PYX_ORRERY_OK);
        });
    return value == nullptr ? nullptr : guarded(err, PyxOrreryObject(nullptr), [&] {
        return makeObject(object->document, value);
    });
}

PYX_ORRERY_API wchar_t* WINAPI PyxOrrery_ObjectGetString(PyxOrreryObject object, const wchar_t* key,
                                                         const wchar_t* defaultValue, int* err) {
    return guarded(err, static_cast<wchar_t*>(nullptr), [&] {
        return stringResult(readMember(object, key, std::optional<std::wstring>(), err, toText),
                            defaultValue);
    });
}

PYX_ORRERY_API int WINAPI PyxOrrery_ObjectGetBool(PyxOrreryObject object, const wchar_t* key,
                                                  int defaultValue, int* err) {
    return readMember(object, key, defaultValue, err, toBool);
}

PYX_ORRERY_API int64_t WINAPI PyxOrrery_ObjectGetInt64(PyxOrreryObject object, const wchar_t* key,
                                                       int64_t defaultValue, int* err) {
    return readMember(object, key, defaultValue, err, toInteger<int64_t>);
}

PYX_ORRERY_API int WINAPI PyxOrrery_ObjectIsArray(PyxOrreryObject object) {
    return object != nullptr && object->value->is_array() ? 1 : 0;
}

PYX_ORRERY_API int WINAPI PyxOrrery_ArrayGetSize(PyxOrreryObject array) {
    if (array == nullptr || !array->value->is_array()) {
        return 0;
    }
    return static_cast<int>(std::min<size_t>(array->value->size(),
                                             static_cast<size_t>(std::numeric_limits<int>::max())));
}

PYX_ORRERY_API PyxOrreryObject WINAPI PyxOrrery_ArrayGetItem(PyxOrreryObject array, int index,
                                                             int* err) {
    return guarded(err, PyxOrreryObject(nullptr), [&]() -> PyxOrreryObject {
        if (array == nullptr) {
            setError(err, PYX_ORRERY_E_INVALID_HANDLE);
            return nullptr;
        }
        if (!array->value->is_array()) {
            setError(err, PYX_ORRERY_E_WRONG_TYPE);
            return nullptr;
        }
        if (index < 0 || static_cast<size_t>(index) >= array->value->size()) {
            setError(err, PYX_ORRERY_E_OUT_OF_RANGE);
            return nullptr;
        }
        setError(err, PYX_ORRERY_OK);
        return makeObject(array->document, &(*array->value)[static_cast<size_t>(index)]);
    });
}

PYX_ORRERY_API char* WINAPI PyxOrrery_ObjectToStringUtf8(PyxOrreryObject object) {
    return guarded(nullptr, static_cast<char*>(nullptr), [&]() -> char* {
        if (object == nullptr) {
            return nullptr;
        }
        return copyText(std::string_view(object->value->dump()));
    });
}

PYX_ORRERY_API void WINAPI PyxOrrery_DeleteObject(PyxOrreryObject object) {
    std::unique_ptr<PyxOrreryObject_> owned(object);
}

PYX_ORRERY_API void WINAPI PyxOrrery_FreeString(void* text) {
    std::free(text);
}

PYX_ORRERY_API const wchar_t* WINAPI PyxOrrery_ErrorAsString(int code) {
    switch (code) {
        case PYX_ORRERY_OK:
            return L"Success";
        case PYX_ORRERY_E_FAILED:
            return L"Operation failed";
        case PYX_ORRERY_E_INVALID_ARGUMENT:
            return L"Invalid argument";
        case PYX_ORRERY_E_INVALID_HANDLE:
            return L"Invalid or closed handle";
        case PYX_ORRERY_E_INVALID_KEY:
            return L"Invalid key";
        case PYX_ORRERY_E_WRONG_TYPE:
            return L"Value has a different type";
        case PYX_ORRERY_E_INVALID_JSON:
            return L"Invalid JSON";
        case PYX_ORRERY_E_INVALID_TEXT:
            return L"Invalid UTF-8 or UTF-16 text";
        case PYX_ORRERY_E_READ_ONLY:
            return L"Key is read-only";
        case PYX_ORRERY_E_IO:
            return L"Store file cannot be read or written";
        case PYX_ORRERY_E_NOT_FOUND:
            return L"Not found";
        case PYX_ORRERY_E_STORE_RESET:
            return L"Store file was damaged and has been reset";
        case PYX_ORRERY_E_LOCK_TIMEOUT:
            return L"Store is locked by another process";
        case PYX_ORRERY_E_OUT_OF_RANGE:
            return L"Out of range";
        case PYX_ORRERY_E_NOT_INITIALIZED:
            return L"Library not initialised";
        case PYX_ORRERY_E_TOO_DEEP:
            return L"Value is nested too deeply";
        case PYX_ORRERY_E_DUPLICATE_MEMBER:
            return L"JSON object has the same member twice";
        default:
            return L"Unknown error";
    }
}

PYX_ORRERY_API int WINAPI PyxOrrery_Subscribe(PyxOrreryHandle handle, const wchar_t* key,
                                              PyxOrreryCallback callback, void* context) {
    return guardedCode([&] {
        const Handle owner = findHandle(handle);
        if (!owner) {
            return static_cast<int>(PYX_ORRERY_E_INVALID_HANDLE);
        }
        if (callback == nullptr) {
            return static_cast<int>(PYX_ORRERY_E_INVALID_ARGUMENT);
        }
        KeyPath path;
        if (const int code = tarn::orrery::parseKey(key, path); code != PYX_ORRERY_OK) {
            return code;
        }
        tarn::orrery::Dispatcher::instance().subscribe(owner.get(), owner->store,
                                                       std::move(path.text), callback, context);
        return static_cast<int>(PYX_ORRERY_OK);
    });
}

PYX_ORRERY_API uint32_t WINAPI PyxOrrery_GetConstraints(PyxOrreryHandle handle, const wchar_t* key,
                                                        int* err) {
    return guarded(err, uint32_t{0}, [&]() -> uint32_t {
        const Handle owner = findHandle(handle);
        if (!owner) {
            setError(err, PYX_ORRERY_E_INVALID_HANDLE);
            return 0;
        }
        KeyPath path;
        if (const int code = tarn::orrery::parseKey(key, path); code != PYX_ORRERY_OK) {
            setError(err, code);
            return 0;
        }
        setError(err, PYX_ORRERY_OK);
        return tarn::orrery::constraintsOf(*owner->store->snapshot(), path.text);
    });
}

PYX_ORRERY_API int WINAPI PyxOrrery_SetConstraints(PyxOrreryHandle handle, const wchar_t* key,
                                                   uint32_t constraints) {
    Mutation mutation;
    mutation.kind = Mutation::Kind::SetConstraints;
    mutation.constraints = constraints;
    return change(handle, key, std::move(mutation));
}

PYX_ORRERY_API char* WINAPI PyxOrrery_ExportUtf8(PyxOrreryHandle handle, int* err) {
    return guarded(err, static_cast<char*>(nullptr), [&]() -> char* {
        const Handle owner = findHandle(handle);
        if (!owner) {
            setError(err, PYX_ORRERY_E_INVALID_HANDLE);
            return nullptr;
        }
        setError(err, PYX_ORRERY_OK);
        return copyText(std::string_view(owner->store->snapshot()->values.dump()));
    });
}

PYX_ORRERY_API int WINAPI PyxOrrery_ImportUtf8(PyxOrreryHandle handle, const char* jsonUtf8) {
    return guardedCode([&] {
        Json values;
        size_t depth = 0;
        if (const int code = parseJsonText(jsonUtf8, values, depth); code != PYX_ORRERY_OK) {
            return code;
        }
        if (!values.is_object()) {
            return static_cast<int>(PYX_ORRERY_E_WRONG_TYPE);
        }
        Mutation mutation;
        mutation.kind = Mutation::Kind::ReplaceValues;
        mutation.value = std::move(values);
        return change(handle, nullptr, std::move(mutation));
    });
}

PYX_ORRERY_API int WINAPI PyxOrrery_DelayLoadInitialize(const wchar_t* namespaceName) {
    return guardedCode([&] {
        openLog();
        if (!tarn::orrery::isValidNamespace(namespaceName)) {
            return static_cast<int>(PYX_ORRERY_E_INVALID_ARGUMENT);
        }
        int code = PYX_ORRERY_E_FAILED;
        const auto store =
            tarn::orrery::Store::open(tarn::orrery::storeFolder(), namespaceName, code);
        return store ? static_cast<int>(PYX_ORRERY_OK) : code;
    });
}
