// Simulated Windows: starting a program as another user (CreateProcessAsUserW), in the session
// of that user's token.
#pragma once

#include "sim/win/base.h"
#include "sim/win/processes.h"

// The token must be a user's primary token (WTSQueryUserToken) and the caller the system
// account. The program must exist. The launch is recorded (sim/launch_control.h) instead of
// run: the process handle is signalled at once, as for a process that has ended.
BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                          LPSECURITY_ATTRIBUTES processAttributes,
                          LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                          DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                          LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation);
