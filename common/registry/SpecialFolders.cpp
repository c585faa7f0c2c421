#include "common/registry/SpecialFolders.h"

#include <iterator>

#include "common/WinHandles.h"
#include "common/registry/Win32Registry.h"
#include "platform/win.h"

namespace tarn {

namespace {

enum class Scope { Machine, ProgramFiles, User };

struct FolderInfo {
    const wchar_t* valueName;
    int csidl;  // the shell's number for the folder
    Scope scope;
};

// Indexed by SpecialFolder.
constexpr FolderInfo kFolders[] = {
    {L"Common AppData", 0x23, Scope::Machine},
    {L"Common Desktop", 0x19, Scope::Machine},
    {L"Common Start Menu", 0x16, Scope::Machine},
    {L"Common Programs", 0x17, Scope::Machine},
    {L"Common Startup", 0x18, Scope::Machine},
    {L"ProgramFilesDir", 0x26, Scope::ProgramFiles},
    {L"ProgramFilesDir (x86)", 0x2a, Scope::ProgramFiles},
    {L"AppData", 0x1a, Scope::User},
    {L"Local AppData", 0x1c, Scope::User},
    {L"Desktop", 0x10, Scope::User},
    {L"Personal", 0x05, Scope::User},
    {L"My Pictures", 0x27, Scope::User},
    {L"My Music", 0x0d, Scope::User},
    {L"My Video", 0x0e, Scope::User},
    {L"Favorites", 0x06, Scope::User},
    {L"Start Menu", 0x0b, Scope::User},
    {L"Programs", 0x02, Scope::User},
    {L"Startup", 0x07, Scope::User},
    {L"Cache", 0x20, Scope::User},
};

const wchar_t* const kExplorer = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
const wchar_t* const kCurrentVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t* const kProfileList =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

const FolderInfo* infoOf(SpecialFolder folder) {
    const auto index = static_cast<size_t>(folder);
    return index < std::size(kFolders) ? &kFolders[index] : nullptr;
}

// "User Shell Folders" (with variables), then "Shell Folders" (expanded by Windows).
std::wstring fromShellFolders(const Win32Registry& registry, const std::wstring& prefix,
                              const FolderInfo& info) {
    std::wstring value;
    if (registry.readString(prefix + kExplorer + L"User Shell Folders", info.valueName, value) &&
        !value.empty()) {
        return expandEnvironmentStrings(value);
    }
    if (registry.readString(prefix + kExplorer + L"Shell Folders", info.valueName, value)) {
        return value;
    }
    return {};
}

std::wstring fromShell(int csidl) {
    using GetFolderPath =
        HRESULT(WINAPI*)(void* window, int folder, HANDLE token, DWORD flags, LPWSTR path);
    const UniqueModule shell(LoadLibraryExW(L"shell32.dll", nullptr, 0));
    if (!shell) {
        return {};
    }
    const auto function = reinterpret_cast<GetFolderPath>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell.get(), "SHGetFolderPathW")));
    wchar_t path[MAX_PATH] = {};
    if (function == nullptr || FAILED(function(nullptr, csidl, nullptr, 0, path))) {
        return {};
    }
    return path;
}

}  // namespace

std::wstring expandEnvironmentStrings(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) {
        return text;
    }
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) {
        return text;
    }
    expanded.resize(written - 1);
    return expanded;
}

std::wstring specialFolderPath(SpecialFolder folder) {
    const FolderInfo* info = infoOf(folder);
    if (info == nullptr) {
        return {};
    }
    std::wstring path;
    switch (info->scope) {
        case Scope::Machine:
            path = fromShellFolders(Win32Registry(HKEY_LOCAL_MACHINE), L"", *info);
            break;
        case Scope::ProgramFiles:
            Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY)
                .readString(kCurrentVersion, info->valueName, path);
            break;
        case Scope::User:
            path = fromShellFolders(Win32Registry(HKEY_CURRENT_USER), L"", *info);
            break;
    }
    return path.empty() ? fromShell(info->csidl) : path;
}

std::wstring specialFolderPath(SpecialFolder folder, const std::wstring& userSid) {
    const FolderInfo* info = infoOf(folder);
    std::wstring profile;
    if (info == nullptr || info->scope != Scope::User ||
        !Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY)
             .readString(kProfileList + userSid, L"ProfileImagePath", profile)) {
        return {};
    }
    const Win32Registry users(HKEY_USERS);
    std::wstring value;
    if (users.readString(userSid + L"\\" + kExplorer + L"User Shell Folders", info->valueName,
                         value) &&
        !value.empty()) {
        // %USERPROFILE% is that user's, not ours.
        constexpr std::wstring_view variable = L"%USERPROFILE%";
        if (value.size() >= variable.size() &&
            _wcsnicmp(value.c_str(), variable.data(), variable.size()) == 0) {
            value = expandEnvironmentStrings(profile) + value.substr(variable.size());
        }
        return expandEnvironmentStrings(value);
    }
    users.readString(userSid + L"\\" + kExplorer + L"Shell Folders", info->valueName, value);
    return value;
}

}  // namespace tarn
