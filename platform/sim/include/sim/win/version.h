// Simulated Windows: the version of the operating system, as the version check sees it.
// The machine is a Windows 10 workstation unless a test says otherwise (sim/version_control.h).
#pragma once

#include "sim/win/base.h"

typedef ULONGLONG DWORDLONG;

#define ERROR_BAD_ARGUMENTS 160L
#define ERROR_OLD_WIN_VERSION 1150L

typedef struct _OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXW, *POSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

// Members of OSVERSIONINFOEXW that a check compares (the type mask).
#define VER_MINORVERSION 0x0000001
#define VER_MAJORVERSION 0x0000002
#define VER_BUILDNUMBER 0x0000004
#define VER_PLATFORMID 0x0000008
#define VER_SERVICEPACKMINOR 0x0000010
#define VER_SERVICEPACKMAJOR 0x0000020
#define VER_SUITENAME 0x0000040
#define VER_PRODUCT_TYPE 0x0000080

// Comparisons; VER_AND and VER_OR only for the suite mask.
#define VER_EQUAL 1
#define VER_GREATER 2
#define VER_GREATER_EQUAL 3
#define VER_LESS 4
#define VER_LESS_EQUAL 5
#define VER_AND 6
#define VER_OR 7

#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003

#define VER_PLATFORM_WIN32_NT 2

#define VER_SUITE_ENTERPRISE 0x00000002
#define VER_SUITE_SINGLEUSERTS 0x00000100

// Three bits of comparison per member, in the order of the type mask's bits.
ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition);
// TRUE when the machine meets every requirement; FALSE with ERROR_OLD_WIN_VERSION when it
// does not, with another error when the arguments are wrong.
BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW versionInfo, DWORD typeMask, DWORDLONG conditionMask);
