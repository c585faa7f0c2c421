// Paths of the Windows special folders, read from the registry or, failing that, from the
// shell (SHGetFolderPathW, loaded from shell32.dll when first needed).
#pragma once

#include <string>

namespace tarn {

// Folder ids; the numbers are part of the interface (5 and 6 are the program-files folders).
enum class SpecialFolder : int {
    CommonAppData = 0,
    CommonDesktop = 1,
    CommonStartMenu = 2,
    CommonPrograms = 3,
    CommonStartup = 4,
    ProgramFiles = 5,     // the native one: "C:\Program Files" on 64-bit Windows
    ProgramFilesX86 = 6,  // the 32-bit one
    AppData = 7,
    LocalAppData = 8,
    Desktop = 9,
    Personal = 10,
    MyPictures = 11,
    MyMusic = 12,
    MyVideo = 13,
    Favorites = 14,
    StartMenu = 15,
    Programs = 16,
    Startup = 17,
    Cache = 18,
};

// The folder's path as Windows records it (no trailing backslash added); empty when unknown.
// Per-user folders are the calling account's.
std::wstring specialFolderPath(SpecialFolder folder);
// A per-user folder of another account, by SID: that user's registry with "%USERPROFILE%" read
// from the profile list; empty for machine folders or when the user has no profile.
std::wstring specialFolderPath(SpecialFolder folder, const std::wstring& userSid);

// ExpandEnvironmentStringsW of the text; the text itself when expansion fails.
std::wstring expandEnvironmentStrings(const std::wstring& text);

}  // namespace tarn
