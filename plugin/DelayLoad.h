// Loading of the maker's libraries (settings store, alerts, events) on first use. Each is
// loaded by its full path: the folder that the product's registry keys give for the namespace
// ("InstallPath" of HKLM\SOFTWARE\Tarn\NS\<namespace>\PYX, 32-bit view) and the library's
// file name; never from the search path, where a planted copy could be picked up. A library
// that is missing or lacks an entry is logged with the reason and reported as a failure.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/win.h"

namespace tarn {

struct MakerLibrary {
    const wchar_t* fileName;
    // Called once with the namespace name after loading; 0 means ready.
    const char* initializeEntry;
};

inline constexpr MakerLibrary kOrreryLibrary{L"tarn_pyx_orrery_32.dll",
                                             "PyxOrrery_DelayLoadInitialize"};
inline constexpr MakerLibrary kAlertLibrary{L"tarn_alert_api_32.dll",
                                            "TarnAlertApi_DelayLoadInitialize"};
inline constexpr MakerLibrary kEventLibrary{L"tarn_events_api_32.dll", nullptr};

inline constexpr const wchar_t* kMakerLibrariesValue = L"InstallPath";
std::wstring makerLibrariesKey(const std::wstring& namespaceName);

class DelayLoader {
public:
    DelayLoader() = default;
    virtual ~DelayLoader();
    DelayLoader(const DelayLoader&) = delete;
    DelayLoader& operator=(const DelayLoader&) = delete;

    // Loads `library` for the namespace (once) and runs its initialise entry; false, logged,
    // when the folder is not registered, the file does not load, an entry is missing or the
    // library refuses the namespace.
    bool load(const MakerLibrary& library, const std::wstring& namespaceName);
    // The address of `entry` in a library that load() loaded; null, logged, when it lacks it.
    FARPROC entry(const MakerLibrary& library, const char* entry);

    // The module of a loaded library by its file name, or null.
    HMODULE module(const std::wstring& fileName);

    // The full path of the library for the namespace; empty when the folder is not registered.
    virtual std::wstring libraryPath(const MakerLibrary& library,
                                     const std::wstring& namespaceName);

private:
    std::mutex m_mutex;
    std::map<std::wstring, HMODULE> m_modules;  // by file name
};

// The process's loader, through which the plug-in's calls of the libraries go. Its modules
// are the ones that delay-imported calls of the libraries reach.
DelayLoader& delayLoader();

}  // namespace tarn
