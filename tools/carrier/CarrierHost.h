// The host side of a Carrier plug-in: loads the library by its path, creates the plug-in's
// context through CarrierPluginCreateContext, hands the namespace name over through the host
// interface, runs the main entry on a thread of its own, stops and destroys the plug-in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "common/WinHandles.h"
#include "plugin/CarrierPlugin.h"

namespace tarn::carrier {

class CarrierHost {
public:
    explicit CarrierHost(std::wstring namespaceName);
    // Stops a running main entry, waits for it and destroys the plug-in.
    ~CarrierHost();
    CarrierHost(const CarrierHost&) = delete;
    CarrierHost& operator=(const CarrierHost&) = delete;

    // Loads the library and creates the plug-in; false with the reason.
    bool load(const std::wstring& libraryPath, std::string& error);
    // The initialise entry's status (0: initialised).
    uint32_t initialize();
    // Runs the main entry on its thread.
    void startMain();
    // The stop entry; any thread, any time after load.
    void stop();
    // Waits up to `timeoutMs` (INFINITE: no limit) for the main entry; true when it ended.
    bool waitForMain(DWORD timeoutMs);
    // The main entry's status; valid after waitForMain returned true.
    uint32_t mainResult() const { return m_mainResult; }
    // The destroy entry; the library stays loaded until the host is gone.
    void destroy();
    // Leaves the library loaded when the host goes. A process that ends next gains nothing
    // from unloading it, and the plug-in's process-wide objects stay where a leak checker
    // looks for their owners.
    void keepLibraryLoaded() { static_cast<void>(m_library.release()); }

    // Strings handed to plug-ins and not yet released (all hosts of the process).
    static size_t stringsHandedOut();

private:
    static const wchar_t* WINAPI getNamespaceName(void* hostContext);
    static void WINAPI releaseString(const wchar_t* text);

    struct LibraryTraits {
        static HMODULE invalid() { return nullptr; }
        static bool valid(HMODULE module) { return module != nullptr; }
        static void close(HMODULE module) { FreeLibrary(module); }
    };

    std::wstring m_namespaceName;
    UniqueResource<HMODULE, LibraryTraits> m_library;
    CarrierPluginContext m_table{};
    CarrierHostInterface m_interface{};
    std::thread m_mainThread;
    UniqueHandle m_mainEnded;
    uint32_t m_mainResult = 0;
};

}  // namespace tarn::carrier
