// Owners of what the settings store library hands out: handles, objects and strings.
#pragma once

#include "common/WinHandles.h"
#include "standin/orrery/PyxOrrery.h"

namespace tarn {

struct OrreryHandleTraits {
    static PyxOrreryHandle invalid() { return nullptr; }
    static bool valid(PyxOrreryHandle handle) { return handle != nullptr; }
    static void close(PyxOrreryHandle handle) { PyxOrrery_CloseHandle(handle); }
};
using UniqueOrreryHandle = UniqueResource<PyxOrreryHandle, OrreryHandleTraits>;

struct OrreryObjectTraits {
    static PyxOrreryObject invalid() { return nullptr; }
    static bool valid(PyxOrreryObject object) { return object != nullptr; }
    static void close(PyxOrreryObject object) { PyxOrrery_DeleteObject(object); }
};
using UniqueOrreryObject = UniqueResource<PyxOrreryObject, OrreryObjectTraits>;

struct OrreryStringTraits {
    static void* invalid() { return nullptr; }
    static bool valid(void* text) { return text != nullptr; }
    static void close(void* text) { PyxOrrery_FreeString(text); }
};
using UniqueOrreryString = UniqueResource<void*, OrreryStringTraits>;

}  // namespace tarn
