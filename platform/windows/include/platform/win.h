// The Windows API as the system uses it, for the real Windows target.
#pragma once

#include <sddl.h>
#include <shellapi.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#define TARN_EXPORT __declspec(dllexport)
#define TARN_IMPORT __declspec(dllimport)
