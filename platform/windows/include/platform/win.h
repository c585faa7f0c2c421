// The Windows API as the system uses it, for the real Windows target.
#pragma once

// Order matters: winsock2.h before windows.h (which would pull in the old winsock.h), and the
// headers that build on windows.h after it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <ole2.h>
#include <oleauto.h>
#include <netfw.h>
#include <wtsapi32.h>
#include <userenv.h>
// clang-format on

#define TARN_EXPORT __declspec(dllexport)
#define TARN_IMPORT __declspec(dllimport)
