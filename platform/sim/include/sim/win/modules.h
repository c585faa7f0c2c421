// Simulated Windows: modules. The host's program and shared libraries are modules whose handle
// is their load address (GetModuleHandleW(NULL), GetModuleHandleExW from an address,
// GetModuleFileNameW of either). Only the system libraries that the machine simulates can be
// loaded by name: "shell32.dll" with SHGetFolderPathW. A library given by its path (a host
// shared object stored as a file of the simulated drives) loads from that file. Any other name
// fails with ERROR_MOD_NOT_FOUND, as a missing DLL does: the search path is not simulated.
#pragma once

#include "sim/win/base.h"

typedef INT_PTR (*FARPROC)();

HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004
// With FROM_ADDRESS, `moduleName` is an address inside the module wanted.
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module);
