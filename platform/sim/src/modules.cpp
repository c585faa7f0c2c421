// System libraries of the simulated machine, loadable at run time by name.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

#include "internal.h"
#include "sim/win/modules.h"

using sim::detail::fail;

namespace {

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002L);  // the folder does not exist

// CSIDL numbers of the folders the machine knows, as environment expansions.
const std::map<int, const wchar_t*>& shellFolders() {
    static const std::map<int, const wchar_t*> table = {
        {0x02, L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs"},
        {0x05, L"%USERPROFILE%\\Documents"},
        {0x06, L"%USERPROFILE%\\Favorites"},
        {0x07, L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {0x0b, L"%APPDATA%\\Microsoft\\Windows\\Start Menu"},
        {0x0d, L"%USERPROFILE%\\Music"},
        {0x0e, L"%USERPROFILE%\\Videos"},
        {0x10, L"%USERPROFILE%\\Desktop"},
        {0x16, L"%ProgramData%\\Microsoft\\Windows\\Start Menu"},
        {0x17, L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
        {0x18, L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {0x19, L"C:\\Users\\Public\\Desktop"},
        {0x1a, L"%APPDATA%"},
        {0x1c, L"%LOCALAPPDATA%"},
        {0x20, L"%LOCALAPPDATA%\\Microsoft\\Windows\\INetCache"},
        {0x23, L"%ProgramData%"},
        {0x26, L"%ProgramFiles%"},
        {0x27, L"%USERPROFILE%\\Pictures"},
        {0x2a, L"%ProgramFiles(x86)%"},
    };
    return table;
}

HRESULT WINAPI simSHGetFolderPathW(void*, int folder, HANDLE token, DWORD, LPWSTR path) {
    SIM_API("SHGetFolderPathW");
    if (simFault_) {
        return static_cast<HRESULT>(*simFault_);
    }
    const auto& table = shellFolders();
    auto it = table.find(folder & 0xFF);  // without CSIDL_FLAG_CREATE and friends
    if (path == nullptr || token != nullptr || it == table.end()) {
        return E_INVALIDARG;  // other users' folders are not simulated
    }
    wchar_t expanded[MAX_PATH];
    const DWORD needed = ExpandEnvironmentStringsW(it->second, expanded, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH || std::wcschr(expanded, L'%') != nullptr) {
        return kNotFound;
    }
    std::wmemcpy(path, expanded, needed);
    return S_OK;
}

struct Library {
    const wchar_t* name;
    std::map<std::string, FARPROC> exports;
};

// Module handles are the address of their entry in this table.
std::map<std::wstring, Library>& libraries() {
    static auto* table = new std::map<std::wstring, Library>{
        {L"SHELL32.DLL",
         {L"shell32.dll",
          {{"SHGetFolderPathW",
            reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&simSHGetFolderPathW))}}}},
    };
    return *table;
}

std::wstring baseName(LPCWSTR fileName) {
    std::wstring name(fileName);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    for (auto& c : name) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    if (name.find(L'.') == std::wstring::npos) {
        name += L".DLL";
    }
    return name;
}

Library* libraryOf(HMODULE module) {
    for (auto& [key, library] : libraries()) {
        if (reinterpret_cast<HMODULE>(&library) == module) {
            return &library;
        }
    }
    return nullptr;
}

// Libraries loaded from a file of the simulated drives (host shared objects), by their
// dlopen handle, with their reference counts.
struct FileModules {
    std::mutex mutex;
    std::map<HMODULE, int> references;
};

FileModules& fileModules() {
    static auto* modules = new FileModules;
    return *modules;
}

bool isPath(LPCWSTR fileName) {
    return std::wcschr(fileName, L'\\') != nullptr || std::wcschr(fileName, L'/') != nullptr;
}

// A library given by its path: only the file there, as Windows loads a full path. The search
// path is not simulated, so a bare name of a library that is not a system one is not found.
HMODULE loadFile(LPCWSTR fileName) {
    const std::string host = sim::hostPath(fileName);
    struct stat status {};
    if (::stat(host.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return fail(ERROR_MOD_NOT_FOUND, static_cast<HMODULE>(nullptr));
    }
    void* handle = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return fail(ERROR_BAD_EXE_FORMAT, static_cast<HMODULE>(nullptr));
    }
    auto& modules = fileModules();
    const std::lock_guard lock(modules.mutex);
    ++modules.references[static_cast<HMODULE>(handle)];
    return static_cast<HMODULE>(handle);
}

bool isFileModule(HMODULE module) {
    auto& modules = fileModules();
    const std::lock_guard lock(modules.mutex);
    return modules.references.count(module) != 0;
}

}  // namespace

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE, DWORD) {
    SIM_API("LoadLibraryExW");
    if (simFault_) {
        return fail(*simFault_, static_cast<HMODULE>(nullptr));
    }
    if (fileName == nullptr || *fileName == L'\0') {
        return fail(ERROR_INVALID_PARAMETER, static_cast<HMODULE>(nullptr));
    }
    auto& table = libraries();
    auto it = table.find(baseName(fileName));
    if (it == table.end()) {
        return isPath(fileName) ? loadFile(fileName)
                                : fail(ERROR_MOD_NOT_FOUND, static_cast<HMODULE>(nullptr));
    }
    return reinterpret_cast<HMODULE>(&it->second);
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    return LoadLibraryExW(fileName, nullptr, 0);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    SIM_API("GetProcAddress");
    if (simFault_) {
        return fail(*simFault_, static_cast<FARPROC>(nullptr));
    }
    if (module != nullptr && isFileModule(module)) {
        void* address = procName == nullptr ? nullptr : ::dlsym(module, procName);
        return address != nullptr ? reinterpret_cast<FARPROC>(address)
                                  : fail(ERROR_PROC_NOT_FOUND, static_cast<FARPROC>(nullptr));
    }
    Library* library = libraryOf(module);
    if (library == nullptr) {
        return fail(ERROR_INVALID_HANDLE, static_cast<FARPROC>(nullptr));
    }
    auto it = library->exports.find(procName == nullptr ? "" : procName);
    if (it == library->exports.end()) {
        return fail(ERROR_PROC_NOT_FOUND, static_cast<FARPROC>(nullptr));
    }
    return it->second;
}

BOOL FreeLibrary(HMODULE module) {
    SIM_API("FreeLibrary");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    bool fileModule = false;
    {
        auto& modules = fileModules();
        const std::lock_guard lock(modules.mutex);
        if (auto it = modules.references.find(module); it != modules.references.end()) {
            fileModule = true;
            if (--it->second == 0) {
                modules.references.erase(it);
            }
        }
    }
    if (fileModule) {
        // Outside the lock: unloading runs the library's destructors, which may free libraries.
        ::dlclose(module);
        return TRUE;
    }
    return libraryOf(module) != nullptr ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}
