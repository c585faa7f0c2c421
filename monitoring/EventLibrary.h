// The event library's calls in one table: the stand-in library's today, the maker's library
// loaded from its registered path later (see AlertLibrary.h).
#pragma once

#include "platform/win.h"
#include "standin/events/TarnEventsApi.h"

struct EventLibrary {
    TarnEventHandle(WINAPI* createNS)(const wchar_t* namespaceName, const wchar_t* eventName,
                                      int kind, int reserved, int* err);
    int(WINAPI* addEventAll)(TarnEventHandle event, int reserved);
    const wchar_t*(WINAPI* errorAsString)(int code);
    void(WINAPI* free)(TarnEventHandle event);
};

// The calls of the library that the system is linked with.
const EventLibrary& linkedEventLibrary();
