// The settings store library (Orrery): values under dotted keys, typed or as JSON objects and
// arrays, with change callbacks, shared by every process of the machine.
//
// Strings are UTF-16 (wchar_t) unless named UTF-8. Every string and object that a function
// returns belongs to the caller, who releases it with PyxOrrery_FreeString or
// PyxOrrery_DeleteObject. "err" arguments are optional (may be null) and receive 0 on success.
#pragma once

#include <cstdint>

#include "platform/win.h"

#if defined(PYX_ORRERY_BUILDING)
#define PYX_ORRERY_API extern "C" TARN_EXPORT
#else
#define PYX_ORRERY_API extern "C" TARN_IMPORT
#endif

typedef struct PyxOrreryHandle_* PyxOrreryHandle;
typedef struct PyxOrreryObject_* PyxOrreryObject;

// Error codes.
enum PyxOrreryError : int {
    PYX_ORRERY_OK = 0,
    PYX_ORRERY_E_FAILED = 1,             // unspecified failure
    PYX_ORRERY_E_INVALID_ARGUMENT = 2,   // null pointer or bad argument
    PYX_ORRERY_E_INVALID_HANDLE = 3,     // null or closed handle, or a null object
    PYX_ORRERY_E_INVALID_KEY = 4,        // empty, over-long or malformed dotted key
    PYX_ORRERY_E_WRONG_TYPE = 5,         // the value has another type than asked for
    PYX_ORRERY_E_INVALID_JSON = 6,       // a JSON text that does not parse
    PYX_ORRERY_E_INVALID_TEXT = 7,       // text that is not valid UTF-8 or UTF-16
    PYX_ORRERY_E_READ_ONLY = 8,          // the key (or one above it) is constrained read-only
    PYX_ORRERY_E_IO = 9,                 // the store file could not be read or written
    PYX_ORRERY_E_NOT_FOUND = 10,         // no value under the key
    PYX_ORRERY_E_STORE_RESET = 11,       // the store file was damaged, moved aside, and reset
    PYX_ORRERY_E_LOCK_TIMEOUT = 12,      // another process held the store too long (reserved)
    PYX_ORRERY_E_OUT_OF_RANGE = 13,      // array index or number out of range
    PYX_ORRERY_E_NOT_INITIALIZED = 14,   // the library could not be initialised
    PYX_ORRERY_E_TOO_DEEP = 15,          // objects and arrays nested deeper than the store allows
    PYX_ORRERY_E_DUPLICATE_MEMBER = 16,  // a JSON object names the same member twice
};

// Flags of PyxOrrery_OpenHandleEx.
enum PyxOrreryOpenFlags : int {
    PYX_ORRERY_OPEN_READ_ONLY = 0x1,   // writes through the handle fail with PYX_ORRERY_E_READ_ONLY
    PYX_ORRERY_OPEN_MANAGEMENT = 0x2,  // the management side: its writes pass read-only constraints
};

// Constraint bits of a key.
enum PyxOrreryConstraint : uint32_t {
    PYX_ORRERY_CONSTRAINT_READ_ONLY = 0x1,
};

// Change callback: the full key that changed, two values without meaning, and the context
// given to PyxOrrery_Subscribe. Runs on the library's callback thread, one call at a time.
typedef void(WINAPI* PyxOrreryCallback)(const wchar_t* key, const void* reserved1,
                                        const void* reserved2, void* context);

// Handles. The store of a namespace lives in <root>\<namespace>.json; the root is the
// environment variable TARN_ORRERY_ROOT, else the registry string "DataPath" under
// HKLM\SOFTWARE\Tarn\PYX\Orrery, else %ProgramData%\Tarn\Orrery. All users share a
// namespace's store (the SID is accepted and not used). A damaged store file is moved aside:
// the handle is then valid and `err` is PYX_ORRERY_E_STORE_RESET.
PYX_ORRERY_API PyxOrreryHandle WINAPI PyxOrrery_OpenHandle(const wchar_t* namespaceName,
                                                           const wchar_t* userSid,
                                                           const wchar_t* clientName, int* err);
// `reserved` must be 0; `flags` is a combination of PyxOrreryOpenFlags. Null on failure.
PYX_ORRERY_API PyxOrreryHandle WINAPI PyxOrrery_OpenHandleEx(const wchar_t* namespaceName,
                                                             const wchar_t* userSid,
                                                             const wchar_t* clientName,
                                                             int reserved, int flags);
// Drops the handle's subscriptions; waits for a running callback of this handle unless it is
// called from that callback.
PYX_ORRERY_API void WINAPI PyxOrrery_CloseHandle(PyxOrreryHandle handle);

// Typed values. A missing key gives the default and error 10; a value of another type gives
// the default and error 5.
PYX_ORRERY_API int WINAPI PyxOrrery_GetBool(PyxOrreryHandle handle, const wchar_t* key,
                                            int defaultValue, int* err);
PYX_ORRERY_API wchar_t* WINAPI PyxOrrery_GetString(PyxOrreryHandle handle, const wchar_t* key,
                                                   const wchar_t* defaultValue, int* err);
PYX_ORRERY_API int32_t WINAPI PyxOrrery_GetInt32(PyxOrreryHandle handle, const wchar_t* key,
                                                 int32_t defaultValue, int* err);
PYX_ORRERY_API int64_t WINAPI PyxOrrery_GetInt64(PyxOrreryHandle handle, const wchar_t* key,
                                                 int64_t defaultValue, int* err);
PYX_ORRERY_API int WINAPI PyxOrrery_SetBool(PyxOrreryHandle handle, const wchar_t* key, int value);
PYX_ORRERY_API int WINAPI PyxOrrery_SetString(PyxOrreryHandle handle, const wchar_t* key,
                                              const wchar_t* value);
PYX_ORRERY_API int WINAPI PyxOrrery_SetInt32(PyxOrreryHandle handle, const wchar_t* key,
                                             int32_t value);
PYX_ORRERY_API int WINAPI PyxOrrery_SetInt64(PyxOrreryHandle handle, const wchar_t* key,
                                             int64_t value);
// Stores any JSON value (object, array or scalar) under the key. Member names must be able to
// be key segments (not empty, no '.', no control character: else PYX_ORRERY_E_INVALID_KEY),
// no object may name a member twice, and the key's segments and the value's levels of objects
// and arrays together may not exceed 100 (PYX_ORRERY_E_TOO_DEEP). The same holds for imports.
PYX_ORRERY_API int WINAPI PyxOrrery_SetObjectFromStringUtf8(PyxOrreryHandle handle,
                                                            const wchar_t* key,
                                                            const char* jsonUtf8);
PYX_ORRERY_API int WINAPI PyxOrrery_DeleteValue(PyxOrreryHandle handle, const wchar_t* key);

// Objects: immutable snapshots of the value under a key (any JSON value).
PYX_ORRERY_API PyxOrreryObject WINAPI PyxOrrery_GetObject(PyxOrreryHandle handle,
                                                          const wchar_t* key, int* err);
PYX_ORRERY_API PyxOrreryObject WINAPI PyxOrrery_ObjectGetObject(PyxOrreryObject object,
                                                                const wchar_t* key, int* err);
PYX_ORRERY_API wchar_t* WINAPI PyxOrrery_ObjectGetString(PyxOrreryObject object, const wchar_t* key,
                                                         const wchar_t* defaultValue, int* err);
PYX_ORRERY_API int WINAPI PyxOrrery_ObjectGetBool(PyxOrreryObject object, const wchar_t* key,
                                                  int defaultValue, int* err);
PYX_ORRERY_API int64_t WINAPI PyxOrrery_ObjectGetInt64(PyxOrreryObject object, const wchar_t* key,
                                                       int64_t defaultValue, int* err);
PYX_ORRERY_API int WINAPI PyxOrrery_ObjectIsArray(PyxOrreryObject object);
PYX_ORRERY_API int WINAPI PyxOrrery_ArrayGetSize(PyxOrreryObject array);
PYX_ORRERY_API PyxOrreryObject WINAPI PyxOrrery_ArrayGetItem(PyxOrreryObject array, int index,
                                                             int* err);
PYX_ORRERY_API char* WINAPI PyxOrrery_ObjectToStringUtf8(PyxOrreryObject object);
PYX_ORRERY_API void WINAPI PyxOrrery_DeleteObject(PyxOrreryObject object);
PYX_ORRERY_API void WINAPI PyxOrrery_FreeString(void* text);

// Static text of an error code; not released.
PYX_ORRERY_API const wchar_t* WINAPI PyxOrrery_ErrorAsString(int code);

// Calls `callback` for every change of `key` or of a key below it, by full key, in every
// process, including changes made through this handle.
PYX_ORRERY_API int WINAPI PyxOrrery_Subscribe(PyxOrreryHandle handle, const wchar_t* key,
                                              PyxOrreryCallback callback, void* context);

// Constraint bits of a key (those of the nearest constrained key at or above it).
PYX_ORRERY_API uint32_t WINAPI PyxOrrery_GetConstraints(PyxOrreryHandle handle, const wchar_t* key,
                                                        int* err);

// Management side (tools): constraints, and the whole document as JSON. Through a handle without
// PYX_ORRERY_OPEN_MANAGEMENT, neither may change a read-only key or lift its constraint.
PYX_ORRERY_API int WINAPI PyxOrrery_SetConstraints(PyxOrreryHandle handle, const wchar_t* key,
                                                   uint32_t constraints);
PYX_ORRERY_API char* WINAPI PyxOrrery_ExportUtf8(PyxOrreryHandle handle, int* err);
PYX_ORRERY_API int WINAPI PyxOrrery_ImportUtf8(PyxOrreryHandle handle, const char* jsonUtf8);

// Prepares the library for a namespace (checks that its store can be reached). 0 on success.
PYX_ORRERY_API int WINAPI PyxOrrery_DelayLoadInitialize(const wchar_t* namespaceName);
