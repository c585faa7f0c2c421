// Simulated Windows: terminal-services sessions (wtsapi32.h) as the system uses them: the
// sessions of the local server, their users, and the token of a session's user.
#pragma once

#include "sim/win/base.h"

#define WTS_CURRENT_SERVER_HANDLE (static_cast<HANDLE>(nullptr))
#define WTS_CURRENT_SESSION (static_cast<DWORD>(-1))

#ifndef ERROR_CTX_WINSTATION_NOT_FOUND
#define ERROR_CTX_WINSTATION_NOT_FOUND 7022L
#endif

typedef enum _WTS_CONNECTSTATE_CLASS {
    WTSActive,
    WTSConnected,
    WTSConnectQuery,
    WTSShadow,
    WTSDisconnected,
    WTSIdle,
    WTSListen,
    WTSReset,
    WTSDown,
    WTSInit
} WTS_CONNECTSTATE_CLASS;

typedef struct _WTS_SESSION_INFOW {
    DWORD SessionId;
    LPWSTR pWinStationName;
    WTS_CONNECTSTATE_CLASS State;
} WTS_SESSION_INFOW, *PWTS_SESSION_INFOW;

typedef enum _WTS_INFO_CLASS {
    WTSInitialProgram,
    WTSApplicationName,
    WTSWorkingDirectory,
    WTSOEMId,
    WTSSessionId,
    WTSUserName,
    WTSWinStationName,
    WTSDomainName,
    WTSConnectState,
    WTSClientBuildNumber,
    WTSClientName,
    WTSClientDirectory,
    WTSClientProductId,
    WTSClientHardwareId,
    WTSClientAddress,
    WTSClientDisplay,
    WTSClientProtocolType,
    WTSIdleTime,
    WTSLogonTime,
    WTSIncomingBytes,
    WTSOutgoingBytes,
    WTSIncomingFrames,
    WTSOutgoingFrames,
    WTSClientInfo,
    WTSSessionInfo,
    WTSSessionInfoEx,
    WTSConfigInfo,
    WTSValidationInfo,
    WTSSessionAddressV4,
    WTSIsRemoteSession
} WTS_INFO_CLASS;

// The local server only (WTS_CURRENT_SERVER_HANDLE); reserved 0 and version 1. The list is one
// block, freed with WTSFreeMemory.
BOOL WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                           PWTS_SESSION_INFOW* sessionInfo, DWORD* count);
// Answers WTSSessionId, WTSUserName, WTSWinStationName, WTSDomainName and WTSConnectState;
// freed with WTSFreeMemory. A session without a user has the empty user name.
BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                 LPWSTR* buffer, DWORD* bytesReturned);
void WTSFreeMemory(PVOID memory);
// The primary token of the session's user, for a caller in the system account.
BOOL WTSQueryUserToken(ULONG sessionId, PHANDLE token);
