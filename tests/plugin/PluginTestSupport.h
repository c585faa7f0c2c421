// The product installed on the simulated machine for the plug-in's tests: the maker's
// libraries in their install folder, found through the product's registry keys; and the host
// program run in this process on a machine file.
#pragma once

#include <future>
#include <optional>
#include <sstream>
#include <string>

namespace tarn::test {

inline constexpr const wchar_t* kMakerFolder = L"C:\\Program Files\\Tarn\\PYX";
inline constexpr const wchar_t* kPluginLog =
    L"C:\\ProgramData\\Tarn\\Log\\Firewall\\FirewallPlugin.log";

struct MakerLibraries {
    bool orrery = true;
    bool alert = true;
    bool events = true;
};

// Removes the install folder and the product's namespace keys.
void uninstallMakerLibraries();
// Registers the install folder for the namespace and puts only the chosen libraries into it.
void installMakerLibraries(const std::wstring& nameSpace, MakerLibraries which = {});
// Puts a host file at a Windows path of the machine.
void placeFile(const std::string& hostFile, const std::wstring& windowsPath);
// The plug-in's main log as it stands.
std::string pluginLog();

// `carrier --namespace NS --plugin <the plug-in> --machine FILE` run in this process: the host
// loads the machine from the file (saved from the machine as it is, when there is none yet),
// keeps the file up to date while the plug-in runs and saves it when it ends.
class HostRun {
public:
    HostRun(const std::wstring& nameSpace, std::string machineFile);
    // Stops a host that still runs.
    ~HostRun();
    HostRun(const HostRun&) = delete;
    HostRun& operator=(const HostRun&) = delete;

    // Ctrl-C, once the host has started the plug-in's main entry; the exit code, or nothing
    // when the host did not end within 10 s.
    std::optional<int> stop();
    // True when the host ended without being stopped.
    bool ended();
    // What the host wrote to its standard error; complete once it ended.
    std::string errors() const { return m_err.str(); }

private:
    std::string m_machineFile;
    std::ostringstream m_err;
    std::future<int> m_run;
    std::optional<int> m_exitCode;
};

}  // namespace tarn::test
