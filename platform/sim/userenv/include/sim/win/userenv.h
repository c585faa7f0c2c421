// Simulated Windows: user profiles and environment blocks (userenv.h, profinfo.h) as the system
// uses them for the users of other sessions.
#pragma once

#include "sim/win/base.h"

#define PI_NOUI 0x00000001

typedef struct _PROFILEINFOW {
    DWORD dwSize;
    DWORD dwFlags;
    LPWSTR lpUserName;
    LPWSTR lpProfilePath;
    LPWSTR lpDefaultPath;
    LPWSTR lpServerName;
    LPWSTR lpPolicyPath;
    HANDLE hProfile;
} PROFILEINFOW, *LPPROFILEINFOW;

// Loads the token's user's profile (its registry hive below HKEY_USERS) and hands back a
// handle for UnloadUserProfile. dwSize must be sizeof(PROFILEINFOW) and lpUserName set; the
// caller must be the system account. Loads of one profile are counted.
BOOL LoadUserProfileW(HANDLE token, LPPROFILEINFOW profileInfo);
BOOL UnloadUserProfile(HANDLE token, HANDLE profile);

// The environment of the token's user (null token: the system's), a block of UTF-16
// "name=value" strings sorted by name and ended by an empty one, freed with
// DestroyEnvironmentBlock. Inheriting the caller's environment is not simulated.
BOOL CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit);
BOOL DestroyEnvironmentBlock(LPVOID environment);
