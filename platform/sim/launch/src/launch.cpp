// Launches in other users' sessions on the simulated machine: CreateProcessAsUserW checks its
// arguments as Windows does and records the launch instead of running the program.
#include <filesystem>
#include <mutex>

#include "../../sessions/src/user_token.h"
#include "sim/launch_control.h"
#include "sim/win/launch.h"

using sim::detail::fail;

namespace {

std::atomic<size_t> g_liveObjects{0};

// The process and thread of a recorded launch: signalled, as of a program that has ended.
class LaunchedObject : public sim::detail::KernelObject {
public:
    LaunchedObject() { ++g_liveObjects; }
    ~LaunchedObject() override { --g_liveObjects; }
    LaunchedObject(const LaunchedObject&) = delete;
    LaunchedObject& operator=(const LaunchedObject&) = delete;

    bool waitable() const override { return true; }
    bool signalled(DWORD) const override { return true; }
};

struct Record {
    std::mutex mutex;
    std::vector<sim::launch::Launch> launches;
    DWORD nextId = 6000;
};

Record& record() {
    static auto* instance = [] {
        auto* r = new Record;  // outlives static destructors
        sim::onReset([r] {
            std::lock_guard lock(r->mutex);
            r->launches.clear();
        });
        return r;
    }();
    return *instance;
}

// The program of a command line without an application name: its first (quoted) word.
std::wstring firstWord(const std::wstring& commandLine) {
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t end = commandLine.find(L'"', 1);
        return commandLine.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(L" \t"));
}

// ERROR_SUCCESS when the program is a file (with or without ".exe" added, as the machine's
// CreateProcessW takes it).
DWORD checkProgram(const std::wstring& program) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path = sim::hostPath(program);
    for (const fs::path& candidate : {path, fs::path(path.string() + ".exe")}) {
        const auto status = fs::status(candidate, error);
        if (fs::is_directory(status)) {
            return ERROR_ACCESS_DENIED;
        }
        if (fs::exists(status)) {
            return ERROR_SUCCESS;
        }
    }
    return fs::is_directory(path.parent_path(), error) ? ERROR_FILE_NOT_FOUND
                                                       : ERROR_PATH_NOT_FOUND;
}

std::vector<std::wstring> environmentStrings(const wchar_t* block) {
    std::vector<std::wstring> strings;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += strings.back().size() + 1) {
        strings.emplace_back(entry);
    }
    return strings;
}

}  // namespace

namespace sim::launch {

std::vector<Launch> launches() {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    return r.launches;
}

void setLaunches(std::vector<Launch> launches) {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    r.launches = std::move(launches);
}

size_t openHandles() {
    return g_liveObjects.load();
}

}  // namespace sim::launch

BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                          LPSECURITY_ATTRIBUTES /*processAttributes*/,
                          LPSECURITY_ATTRIBUTES /*threadAttributes*/, BOOL inheritHandles,
                          DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                          LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation) {
    SIM_API("CreateProcessAsUserW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    // Needs the privileges to assign a primary token and raise quotas, which only the system
    // account holds.
    if (sim::detail::currentAccountSid() != L"S-1-5-18") {
        return fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
    }
    const auto user = sim::sessions::detail::userToken(token);
    if (!user) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    // Null records would be an access violation on Windows; a short start-up record is refused
    // here although Windows may take it (the stricter answer).
    if (startupInfo == nullptr || processInformation == nullptr ||
        startupInfo->cb < sizeof(STARTUPINFOW) ||
        (applicationName == nullptr && commandLine == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if ((creationFlags & DETACHED_PROCESS) && (creationFlags & CREATE_NEW_CONSOLE)) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // A UTF-16 block without CREATE_UNICODE_ENVIRONMENT would be read as ANSI text; Windows
    // then starts the program with a broken environment or fails. Refused here.
    if (environment != nullptr && !(creationFlags & CREATE_UNICODE_ENVIRONMENT)) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    sim::launch::Launch launch;
    launch.commandLine = commandLine != nullptr ? commandLine : L"";
    launch.program = applicationName != nullptr ? applicationName : firstWord(launch.commandLine);
    if (const DWORD error = checkProgram(launch.program); error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    launch.session = user->session;
    launch.user = user->user;
    launch.creationFlags = creationFlags;
    launch.inheritHandles = inheritHandles != FALSE;
    launch.hasEnvironment = environment != nullptr;
    if (environment != nullptr) {
        launch.environment = environmentStrings(static_cast<const wchar_t*>(environment));
    }
    launch.currentDirectory = currentDirectory != nullptr ? currentDirectory : L"";
    launch.desktop = startupInfo->lpDesktop != nullptr ? startupInfo->lpDesktop : L"";
    {
        auto& r = record();
        std::lock_guard lock(r.mutex);
        launch.processId = r.nextId += 4;
        processInformation->dwProcessId = launch.processId;
        processInformation->dwThreadId = r.nextId += 4;
        r.launches.push_back(launch);
    }
    processInformation->hProcess = sim::detail::insertHandle(std::make_shared<LaunchedObject>());
    processInformation->hThread = sim::detail::insertHandle(std::make_shared<LaunchedObject>());
    return TRUE;
}
