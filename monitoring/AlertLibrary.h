// The alert library's calls in one table. Today they are the stand-in library's, linked into
// the system like the settings store library; loading the maker's library from its registered
// path fills the same table with GetProcAddress, and nothing else changes.
#pragma once

#include "platform/win.h"

struct AlertLibrary {
    int(WINAPI* delayLoadInitialize)(const wchar_t* namespaceName);
    int(WINAPI* sendAlertNS)(const wchar_t* namespaceName, const char* alertType,
                             const char* payloadUtf8);
    const wchar_t*(WINAPI* errorAsString)(int code);
};

// The calls of the library that the system is linked with.
const AlertLibrary& linkedAlertLibrary();
