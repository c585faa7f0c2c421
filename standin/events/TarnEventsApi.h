// The event library: product events of a namespace (such as network isolation switched on).
// An event is created with its name and kind, added to the namespace's event stream (the
// spool of standin/spool/Spool.h, one JSON line) and freed.
//
// Strings are UTF-16 (wchar_t). Every call may come from any thread of any process; one event
// handle is used by one thread at a time.
#pragma once

#include "platform/win.h"

#if defined(TARN_EVENTS_API_BUILDING)
#define TARN_EVENTS_API extern "C" TARN_EXPORT
#else
#define TARN_EVENTS_API extern "C" TARN_IMPORT
#endif

typedef struct TarnEvent_* TarnEventHandle;

enum TarnEventError : int {
    TARN_EVENT_OK = 0,
    TARN_EVENT_E_FAILED = 1,             // unexpected failure
    TARN_EVENT_E_INVALID_ARGUMENT = 2,   // a null or empty argument, or a reserved one not 0
    TARN_EVENT_E_INVALID_NAMESPACE = 3,  // not a usable namespace name
    TARN_EVENT_E_INVALID_HANDLE = 4,     // null, freed or unknown event handle
    TARN_EVENT_E_SPOOL = 5,              // the spool cannot be written
};

// Creates an event of `kind` (a positive number). `reserved` must be 0. Null on failure;
// `err` (optional) receives the code.
TARN_EVENTS_API TarnEventHandle WINAPI TarnEvent_CreateNS(const wchar_t* namespaceName,
                                                          const wchar_t* eventName, int kind,
                                                          int reserved, int* err);
// Adds the event to the namespace's stream for every receiver. `reserved` must be 0.
TARN_EVENTS_API int WINAPI TarnEvent_AddEventAll(TarnEventHandle event, int reserved);
// Static text of an error code, for logs; never null and not released.
TARN_EVENTS_API const wchar_t* WINAPI TarnEvent_ErrorAsString(int code);
// Frees the event; null is ignored.
TARN_EVENTS_API void WINAPI TarnEvent_Free(TarnEventHandle event);
