// Simulated Windows: loading system libraries at run time. Only the libraries that the machine
// simulates can be loaded: "shell32.dll" with SHGetFolderPathW. Any other name fails with
// ERROR_MOD_NOT_FOUND, as a missing DLL does.
#pragma once

#include "sim/win/base.h"

typedef INT_PTR (*FARPROC)();

HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
