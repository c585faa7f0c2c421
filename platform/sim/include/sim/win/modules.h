// Simulated Windows: loading libraries at run time. The system libraries that the machine
// simulates load by name: "shell32.dll" with SHGetFolderPathW. A library given by its path
// (a host shared object stored as a file of the simulated drives) loads from that file.
// Any other name fails with ERROR_MOD_NOT_FOUND, as a missing DLL does: the search path is
// not simulated.
#pragma once

#include "sim/win/base.h"

typedef INT_PTR (*FARPROC)();

HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
