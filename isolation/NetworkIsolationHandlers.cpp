#include "isolation/NetworkIsolationHandlers.h"

#include <vector>

#include "common/logging/Log.h"
#include "common/registry/Win32Registry.h"
#include "isolation/TarnLaunchAll.h"
#include "rules/ComErrors.h"

namespace {

std::wstring handlersKey(const std::wstring& namespaceName, const wchar_t* list) {
    return L"SOFTWARE\\Tarn\\NS\\" + namespaceName + L"\\NetworkIsolation\\Handlers\\" + list;
}

// The program is a file, not a folder.
bool isExistingFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

void NetworkIsolationHandlers::executeNetworkIsolationHandlers(const std::wstring& keyPath,
                                                               const Launcher& launcher) {
    const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE);
    std::vector<std::wstring> names;
    if (!registry.listValues(keyPath, names)) {
        TARN_LOG(TarnPyxLogging::LevelDebug) << "Did not find handlers in: " << keyPath;
        return;
    }
    for (const auto& name : names) {
        std::wstring program;
        DWORD error = 0;
        if (!registry.readString(keyPath, name, program, &error)) {
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "Error reading handler " << name << ": " << error;
            continue;
        }
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Executing '" << name << "': " << program;
        launcher(program);
    }
}

void NetworkIsolationHandlers::runHandlers(const std::wstring& namespaceName) {
    executeNetworkIsolationHandlers(
        handlersKey(namespaceName, L"User"),
        [this](const std::wstring& program) { launchAppForAllLoggedInUsers(program); });
    executeNetworkIsolationHandlers(
        handlersKey(namespaceName, L"Ui"),
        [this, &namespaceName](const std::wstring& app) { launchUI(namespaceName, app); });
    executeNetworkIsolationHandlers(handlersKey(namespaceName, L"System"),
                                    [this](const std::wstring& program) { launchSystem(program); });
}

void NetworkIsolationHandlers::launchAppForAllLoggedInUsers(const std::wstring& program) {
    // The processes run on by themselves: their handles are closed without waiting.
    if (TarnLaunchAll::launchForAllUsers(program, L"").empty()) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to start: " << program;
    }
}

void NetworkIsolationHandlers::launchUI(const std::wstring& namespaceName,
                                        const std::wstring& application) {
    const auto [program, arguments] =
        TarnLaunchAll::getUiOpenCommand(namespaceName, application, L"");
    if (program.empty() || !isExistingFile(program)) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to launch " << application;
        return;
    }
    // Done also when no session received a process: there may be nobody logged on.
    TarnLaunchAll::launchForAllUsers(program, arguments);
}

void NetworkIsolationHandlers::launchSystem(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "CreateProcessW failed: " << tarn::describeError(GetLastError());
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to start: " << program;
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
