// The alert library: alerts of a product namespace for the central management. Each alert is
// a type and a JSON object; the library appends it, with the namespace and the time, as one
// line to the namespace's spool (standin/spool/Spool.h), from which the product's transport
// takes it.
//
// Strings are UTF-16 (wchar_t) unless named otherwise. Every call may come from any thread of
// any process at the same time.
#pragma once

#include "platform/win.h"

#if defined(TARN_ALERT_API_BUILDING)
#define TARN_ALERT_API extern "C" TARN_EXPORT
#else
#define TARN_ALERT_API extern "C" TARN_IMPORT
#endif

enum TarnAlertApiError : int {
    TARN_ALERT_OK = 0,
    TARN_ALERT_E_FAILED = 1,             // unexpected failure
    TARN_ALERT_E_INVALID_ARGUMENT = 2,   // a null or empty argument
    TARN_ALERT_E_INVALID_NAMESPACE = 3,  // not a usable namespace name
    TARN_ALERT_E_NOT_INITIALIZED = 4,    // the namespace was not initialised in this process
    TARN_ALERT_E_INVALID_JSON = 5,       // the payload is not one JSON object in UTF-8
    TARN_ALERT_E_SPOOL = 6,              // the spool cannot be written
};

// Prepares the library for a namespace: checks the name and that its spool can be written.
// 0 when the library is ready for the namespace.
TARN_ALERT_API int WINAPI TarnAlertApi_DelayLoadInitialize(const wchar_t* namespaceName);

// Sends one alert: `alertType` is 8-bit text (such as "firewall.tarn_rule_triggered.block"),
// `payloadUtf8` a JSON object in UTF-8. 0 when the alert is in the spool.
TARN_ALERT_API int WINAPI TarnAlertApi_SendAlertNS(const wchar_t* namespaceName,
                                                   const char* alertType, const char* payloadUtf8);

// Static text of an error code, for logs; never null and not released.
TARN_ALERT_API const wchar_t* WINAPI TarnAlertApi_ErrorAsString(int code);
