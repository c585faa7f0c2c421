#include "plugin/DelayLoad.h"

#include <algorithm>
#include <cwctype>

#include "common/logging/Log.h"
#include "common/registry/Win32Registry.h"
#include "platform/delayload.h"
#include "rules/ComErrors.h"

namespace tarn {

namespace {

bool isFullPath(const std::wstring& path) {
    const bool drive = path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool unc = path.rfind(L"\\\\", 0) == 0;
    return drive || unc;
}

}  // namespace

std::wstring makerLibrariesKey(const std::wstring& namespaceName) {
    return L"SOFTWARE\\Tarn\\NS\\" + namespaceName + L"\\PYX";
}

DelayLoader::~DelayLoader() {
    for (auto& [name, module] : m_modules) {
        FreeLibrary(module);
    }
}

std::wstring DelayLoader::libraryPath(const MakerLibrary& library,
                                      const std::wstring& namespaceName) {
    if (namespaceName.empty()) {
        return {};
    }
    std::wstring folder;
    const Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    if (!registry.readString(makerLibrariesKey(namespaceName), kMakerLibrariesValue, folder) ||
        folder.empty()) {
        return {};
    }
    if (folder.back() != L'\\' && folder.back() != L'/') {
        folder += L'\\';
    }
    return folder + library.fileName;
}

bool DelayLoader::load(const MakerLibrary& library, const std::wstring& namespaceName) {
    const std::lock_guard lock(m_mutex);
    if (m_modules.count(library.fileName) != 0) {
        return true;
    }
    const std::wstring path = libraryPath(library, namespaceName);
    if (path.empty()) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "No install folder of " << library.fileName << " for namespace \"" << namespaceName
            << "\" (" << makerLibrariesKey(namespaceName) << "\\" << kMakerLibrariesValue << ")";
        return false;
    }
    if (!isFullPath(path)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Not loading " << path << ": the install folder is not a full path";
        return false;
    }
    // The altered search path makes the library's own dependencies come from its folder too.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        const DWORD error = GetLastError();
        TARN_LOG(TarnPyxLogging::LevelError)
            << "LoadLibraryExW failed for " << path << ": " << describeError(error);
        return false;
    }
    if (library.initializeEntry != nullptr) {
        using Initialize = int(WINAPI*)(const wchar_t*);
        const auto initialize = reinterpret_cast<Initialize>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, library.initializeEntry)));
        if (initialize == nullptr) {
            const DWORD error = GetLastError();
            TARN_LOG(TarnPyxLogging::LevelError)
                << path << " has no entry " << library.initializeEntry << ": "
                << describeError(error);
            FreeLibrary(module);
            return false;
        }
        if (const int code = initialize(namespaceName.c_str()); code != 0) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << library.initializeEntry << " of " << path << " failed with " << code;
            FreeLibrary(module);
            return false;
        }
    }
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Loaded " << path;
    m_modules.emplace(library.fileName, module);
    return true;
}

FARPROC DelayLoader::entry(const MakerLibrary& library, const char* entry) {
    const std::lock_guard lock(m_mutex);
    const auto it = m_modules.find(library.fileName);
    if (it == m_modules.end()) {
        TARN_LOG(TarnPyxLogging::LevelError) << library.fileName << " is not loaded";
        return nullptr;
    }
    FARPROC address = GetProcAddress(it->second, entry);
    if (address == nullptr) {
        const DWORD error = GetLastError();
        TARN_LOG(TarnPyxLogging::LevelError)
            << library.fileName << " has no entry " << entry << ": " << describeError(error);
    }
    return address;
}

HMODULE DelayLoader::module(const std::wstring& fileName) {
    const std::lock_guard lock(m_mutex);
    // File names compare without regard to case, as Windows names them.
    const auto same = [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); };
    for (const auto& [name, module] : m_modules) {
        if (std::equal(name.begin(), name.end(), fileName.begin(), fileName.end(), same)) {
            return module;
        }
    }
    return nullptr;
}

namespace {

HMODULE resolveDelayImport(const char* dllName) {
    const std::string name = dllName != nullptr ? dllName : "";
    return delayLoader().module(std::wstring(name.begin(), name.end()));
}

}  // namespace

DelayLoader& delayLoader() {
    static DelayLoader loader;
    static const bool resolving = (platform::setDelayLoadResolver(&resolveDelayImport), true);
    (void)resolving;
    return loader;
}

}  // namespace tarn
