// Modules of the simulated machine: the host's own (the program and its shared libraries, each
// known by its load address), the system libraries the machine simulates, loadable by name,
// and host libraries stored as files of the simulated drives, loadable by path.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <optional>
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
    int loads = 0;  // guarded by modulesMutex()
};

std::mutex& modulesMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

// Module handles are the address of their entry in this table.
std::map<std::wstring, Library>& libraries() {
    static auto* table = new std::map<std::wstring, Library>{
        {L"SHELL32.DLL",
         {L"C:\\Windows\\system32\\shell32.dll",
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

// Libraries loaded from a file of the simulated drives (host shared objects). Their module
// handle is where their image starts, as for the host's other modules; each keeps its dlopen
// handle and reference count.
struct FileModule {
    void* handle;
    int references;
};

struct FileModules {
    std::mutex mutex;
    std::map<HMODULE, FileModule> byModule;
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
    link_map* map = nullptr;
    Dl_info info{};
    if (handle == nullptr || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        ::dladdr(map->l_ld, &info) == 0 || info.dli_fbase == nullptr) {
        if (handle != nullptr) {
            ::dlclose(handle);
        }
        return fail(ERROR_BAD_EXE_FORMAT, static_cast<HMODULE>(nullptr));
    }
    const auto module = static_cast<HMODULE>(info.dli_fbase);
    auto& modules = fileModules();
    const std::lock_guard lock(modules.mutex);
    auto& entry = modules.byModule.try_emplace(module, FileModule{handle, 0}).first->second;
    ++entry.references;
    return module;
}

// The dlopen handle of a library loaded from a file, or null.
void* fileModuleHandle(HMODULE module) {
    auto& modules = fileModules();
    const std::lock_guard lock(modules.mutex);
    const auto it = modules.byModule.find(module);
    return it == modules.byModule.end() ? nullptr : it->second.handle;
}

Library* libraryOf(HMODULE module) {
    for (auto& [key, library] : libraries()) {
        if (reinterpret_cast<HMODULE>(&library) == module) {
            return &library;
        }
    }
    return nullptr;
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
    std::lock_guard lock(modulesMutex());
    ++it->second.loads;
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
    if (void* handle = module != nullptr ? fileModuleHandle(module) : nullptr) {
        void* address = procName == nullptr ? nullptr : ::dlsym(handle, procName);
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
    void* handle = nullptr;
    {
        auto& modules = fileModules();
        const std::lock_guard lock(modules.mutex);
        if (auto it = modules.byModule.find(module); it != modules.byModule.end()) {
            handle = it->second.handle;
            if (--it->second.references == 0) {
                modules.byModule.erase(it);
            }
        }
    }
    if (handle != nullptr) {
        // Outside the lock: unloading runs the library's destructors, which may free libraries.
        ::dlclose(handle);
        return TRUE;
    }
    Library* library = libraryOf(module);
    if (library == nullptr) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    std::lock_guard lock(modulesMutex());
    library->loads = std::max(library->loads - 1, 0);
    return TRUE;
}

namespace {

struct Names {
    std::mutex mutex;
    std::map<const void*, std::wstring> byModule;  // paths set by tests; null: the program
};

Names& names() {
    static auto* state = [] {
        auto* n = new Names;
        sim::onReset([n] {
            std::lock_guard lock(n->mutex);
            n->byModule.clear();
        });
        return n;
    }();
    return *state;
}

int findProgram(dl_phdr_info* info, size_t, void* data) {
    // The first object is the program itself; its module handle is where its image starts.
    ElfW(Addr) lowest = ~ElfW(Addr){0};
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            lowest = std::min(lowest, info->dlpi_phdr[i].p_vaddr);
        }
    }
    *static_cast<ElfW(Addr)*>(data) = info->dlpi_addr + (lowest & ~ElfW(Addr){0xFFF});
    return 1;
}

HMODULE programModule() {
    static const HMODULE module = [] {
        ElfW(Addr) base = 0;
        dl_iterate_phdr(&findProgram, &base);
        return reinterpret_cast<HMODULE>(base);
    }();
    return module;
}

// The host module whose image starts at `address`, or that holds it.
std::optional<Dl_info> hostModule(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
        return std::nullopt;
    }
    return info;
}

std::wstring hostPathText(const std::string& path) {
    return sim::detail::fromUtf8(path).value_or(L"");
}

std::optional<std::wstring> moduleFileName(HMODULE module) {
    if (module == nullptr) {
        module = programModule();
    }
    {
        auto& state = names();
        std::lock_guard lock(state.mutex);
        if (auto it = state.byModule.find(module); it != state.byModule.end()) {
            return it->second;
        }
    }
    if (const Library* library = libraryOf(module)) {
        return library->name;
    }
    if (module == programModule()) {
        char buffer[4096];
        const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return length > 0 ? hostPathText(std::string(buffer, static_cast<size_t>(length)))
                          : std::wstring();
    }
    const auto info = hostModule(module);
    if (!info || info->dli_fbase != module || info->dli_fname == nullptr) {
        return std::nullopt;  // not the start of a module
    }
    return hostPathText(info->dli_fname);
}

}  // namespace

namespace sim {

void setModuleFileName(std::wstring_view path) {
    setModuleFileName(nullptr, path);
}

void setModuleFileName(const void* module, std::wstring_view path) {
    auto& state = names();
    std::lock_guard lock(state.mutex);
    state.byModule[module == nullptr ? programModule() : module] = path;
}

}  // namespace sim

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    SIM_API("GetModuleFileNameW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    const auto path = moduleFileName(module);
    if (!path) {
        return fail(ERROR_MOD_NOT_FOUND, static_cast<DWORD>(0));
    }
    if (size == 0) {
        return fail(ERROR_INSUFFICIENT_BUFFER, static_cast<DWORD>(0));
    }
    // As on Windows: a short buffer gets the truncated, terminated path and the full size.
    if (path->size() >= size) {
        std::wmemcpy(fileName, path->data(), size - 1);
        fileName[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::wmemcpy(fileName, path->c_str(), path->size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path->size());
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    SIM_API("GetModuleHandleW");
    if (simFault_) {
        return fail(*simFault_, static_cast<HMODULE>(nullptr));
    }
    if (moduleName == nullptr) {
        return programModule();
    }
    // Of the named modules, only the simulated system libraries, while loaded.
    auto& table = libraries();
    auto it = table.find(baseName(moduleName));
    std::lock_guard lock(modulesMutex());
    if (it == table.end() || it->second.loads == 0) {
        return fail(ERROR_MOD_NOT_FOUND, static_cast<HMODULE>(nullptr));
    }
    return reinterpret_cast<HMODULE>(&it->second);
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module) {
    SIM_API("GetModuleHandleExW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    constexpr DWORD kKnown = GET_MODULE_HANDLE_EX_FLAG_PIN |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    const bool pinAndUnchanged = (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0 &&
                                 (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0;
    if (module == nullptr || (flags & ~kKnown) != 0 || pinAndUnchanged) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    *module = nullptr;
    if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
        *module = GetModuleHandleW(moduleName);
        return *module != nullptr ? TRUE : FALSE;
    }
    const auto info = hostModule(moduleName);
    if (!info) {
        return fail(ERROR_MOD_NOT_FOUND, FALSE);
    }
    *module = static_cast<HMODULE>(info->dli_fbase);
    return TRUE;
}
