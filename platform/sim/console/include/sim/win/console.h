// Simulated Windows: console control handlers. Ctrl-C (SIGINT) and the end of the console's
// session (SIGTERM, as when the console is closed or the process is asked to end) reach the
// handlers as CTRL_C_EVENT and CTRL_CLOSE_EVENT. As on Windows, each event runs on a new
// thread, the handlers are asked last-registered first until one returns TRUE, and when none
// does the process ends with STATUS_CONTROL_C_EXIT. After the handler of a close event returns,
// the process ends as well, whatever it returned.
#pragma once

#include "sim/win/base.h"

#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6

typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);

// Adds or removes a handler; a null handler with add TRUE makes the process ignore Ctrl-C
// (FALSE restores it). Removing a handler that is not registered fails with
// ERROR_INVALID_PARAMETER.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
