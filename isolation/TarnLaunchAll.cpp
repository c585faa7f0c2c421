#include "isolation/TarnLaunchAll.h"

#include <algorithm>

#include "common/Str.h"
#include "common/logging/Log.h"
#include "common/registry/Win32Registry.h"
#include "rules/ComErrors.h"

namespace {

struct WtsMemoryTraits {
    static void* invalid() { return nullptr; }
    static bool valid(void* memory) { return memory != nullptr; }
    static void close(void* memory) { ::WTSFreeMemory(memory); }
};
using UniqueWtsMemory = tarn::UniqueResource<void*, WtsMemoryTraits>;

struct EnvironmentBlockTraits {
    static void* invalid() { return nullptr; }
    static bool valid(void* block) { return block != nullptr; }
    static void close(void* block) { ::DestroyEnvironmentBlock(block); }
};
using UniqueEnvironmentBlock = tarn::UniqueResource<void*, EnvironmentBlockTraits>;

// A user's profile, loaded while this lives.
class LoadedProfile {
public:
    LoadedProfile(HANDLE token, const std::wstring& userName) : m_token(token) {
        std::wstring name = userName;
        PROFILEINFOW profile{};
        profile.dwSize = sizeof profile;
        profile.lpUserName = name.data();
        if (LoadUserProfileW(token, &profile)) {
            m_profile = profile.hProfile;
        } else {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "LoadUserProfileW failed: " << tarn::describeError(GetLastError());
        }
    }
    ~LoadedProfile() {
        if (m_profile != nullptr && !UnloadUserProfile(m_token, m_profile)) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "UnloadUserProfile failed: " << tarn::describeError(GetLastError());
        }
    }
    LoadedProfile(const LoadedProfile&) = delete;
    LoadedProfile& operator=(const LoadedProfile&) = delete;

private:
    HANDLE m_token;
    HANDLE m_profile = nullptr;
};

// The user name of a session; empty when there is none or it cannot be read.
std::wstring sessionUserName(DWORD sessionId) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName, &buffer,
                                     &bytes)) {
        TARN_LOG(TarnPyxLogging::LevelError) << "WTSQuerySessionInformationW(" << sessionId
                                             << ") failed: " << tarn::describeError(GetLastError());
        return L"";
    }
    const UniqueWtsMemory owned(buffer);
    return buffer != nullptr ? std::wstring(buffer) : std::wstring();
}

UniqueEnvironmentBlock userEnvironment(HANDLE token) {
    UniqueEnvironmentBlock block;
    if (!CreateEnvironmentBlock(block.put(), token, FALSE)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "CreateEnvironmentBlock failed: " << tarn::describeError(GetLastError());
        block.release();  // nothing was made
    }
    return block;
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::wstring base64Encode(const std::string& bytes) {
    std::wstring out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t count = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < count ? static_cast<uint8_t>(bytes[i + k]) : 0u);
        }
        for (size_t k = 0; k < 4; ++k) {
            out += k <= count ? static_cast<wchar_t>(kBase64Alphabet[group >> (18 - 6 * k) & 63])
                              : L'=';
        }
    }
    return out;
}

tarn::UniqueHandle TarnLaunchAll::LaunchForUser(const std::wstring& program,
                                                const std::wstring& arguments, DWORD sessionId) {
    const std::wstring userName = sessionUserName(sessionId);
    if (userName.empty()) {
        return {};
    }
    tarn::UniqueHandle token;
    if (!WTSQueryUserToken(sessionId, token.put())) {
        TARN_LOG(TarnPyxLogging::LevelError) << "WTSQueryUserToken(" << sessionId
                                             << ") failed: " << tarn::describeError(GetLastError());
        token.release();  // nothing was handed out
        return {};
    }
    // Released in the reverse order: the profile, the environment block, the token.
    UniqueEnvironmentBlock environment;
    const LoadedProfile profile(token.get(), userName);
    environment = userEnvironment(token.get());
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessAsUserW(token.get(), program.c_str(), commandLine.data(), nullptr, nullptr,
                              FALSE, CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS,
                              environment.get(), nullptr, &startup, &process)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "CreateProcessAsUserW(" << program << ", session " << sessionId
            << ") failed: " << tarn::describeError(GetLastError());
        return {};
    }
    CloseHandle(process.hThread);
    return tarn::UniqueHandle(process.hProcess);
}

std::vector<tarn::UniqueHandle> TarnLaunchAll::launchForAllUsers(const std::wstring& program,
                                                                 const std::wstring& arguments) {
    std::vector<DWORD> sessions;
    {
        PWTS_SESSION_INFOW list = nullptr;
        DWORD count = 0;
        if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "WTSEnumerateSessionsW failed: " << tarn::describeError(GetLastError());
            return {};
        }
        const UniqueWtsMemory owned(list);
        for (DWORD i = 0; i < count; ++i) {
            // Session 0 holds only services; the others take part while a user is logged on.
            if (list[i].SessionId != 0 &&
                (list[i].State == WTSActive || list[i].State == WTSDisconnected)) {
                sessions.push_back(list[i].SessionId);
            }
        }
    }
    std::vector<tarn::UniqueHandle> processes;
    for (const DWORD session : sessions) {
        if (auto process = LaunchForUser(program, arguments, session)) {
            processes.push_back(std::move(process));
        }
    }
    return processes;
}

std::pair<std::wstring, std::wstring> TarnLaunchAll::getUiOpenCommand(
    const std::wstring& namespaceName, const std::wstring& application,
    const std::wstring& parameters) {
    const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    std::wstring program;
    if (!registry.readString(L"SOFTWARE\\Tarn\\NS\\" + namespaceName + L"\\Corvane", L"OpenCommand",
                             program)) {
        return {};
    }
    std::wstring arguments;
    if (!application.empty()) {
        arguments = L"--run_dotnet_app " + application;
        if (!parameters.empty()) {
            arguments += L" --dotnet_app_params " + base64Encode(tarn::str::toUtf8(parameters));
        }
    }
    return {program, arguments};
}
