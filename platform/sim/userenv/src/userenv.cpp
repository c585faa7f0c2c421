// User profiles and environment blocks of the simulated machine: a profile load makes the
// user's hive exist and is counted until unloaded; an environment block holds the machine's
// variables and the user's own.
#include <algorithm>
#include <atomic>
#include <cwctype>
#include <map>
#include <mutex>
#include <vector>

#include "../../sessions/src/user_token.h"
#include "sim/registry_control.h"
#include "sim/sessions_control.h"
#include "sim/userenv_control.h"
#include "sim/win/userenv.h"

using sim::detail::fail;
using sim::sessions::detail::UserToken;

namespace {

std::atomic<size_t> g_liveProfileHandles{0};

// What LoadUserProfileW hands back (on Windows a key of the user's hive): one handle each.
class ProfileHandle : public sim::detail::KernelObject {
public:
    explicit ProfileHandle(std::wstring userSid) : sid(std::move(userSid)) {
        ++g_liveProfileHandles;
    }
    ~ProfileHandle() override { --g_liveProfileHandles; }
    ProfileHandle(const ProfileHandle&) = delete;
    ProfileHandle& operator=(const ProfileHandle&) = delete;

    const std::wstring sid;
};

struct Profiles {
    std::mutex mutex;
    std::map<std::wstring, size_t> loads;  // by SID
    // Environment blocks given out, by address.
    std::map<const void*, std::unique_ptr<wchar_t[]>> blocks;
    uint64_t badFrees = 0;

    void reset() {
        loads.clear();
        blocks.clear();
        badFrees = 0;
    }
};

Profiles& profiles() {
    static auto* instance = [] {
        auto* p = new Profiles;  // outlives static destructors
        sim::onReset([p] {
            std::lock_guard lock(p->mutex);
            p->reset();
        });
        return p;
    }();
    return *instance;
}

bool callerIsSystem() {
    return sim::detail::currentAccountSid() == L"S-1-5-18";
}

using Variables = std::map<std::wstring, std::wstring>;

// The machine's variables, with the system account's profile; a block is native 64-bit.
Variables systemVariables() {
    const auto variables = sim::detail::systemAccountEnvironment(false);
    return {variables.begin(), variables.end()};
}

Variables userVariables(const UserToken& token) {
    Variables variables = systemVariables();
    const std::wstring profile = sim::sessions::detail::profileFolder(token.user);
    variables[L"APPDATA"] = profile + L"\\AppData\\Roaming";
    variables[L"HOMEDRIVE"] = L"C:";
    variables[L"HOMEPATH"] = profile.substr(2);
    variables[L"LOCALAPPDATA"] = profile + L"\\AppData\\Local";
    variables[L"LOGONSERVER"] = L"\\\\TARNTEST-DC";
    variables[L"TEMP"] = profile + L"\\AppData\\Local\\Temp";
    variables[L"TMP"] = variables[L"TEMP"];
    variables[L"USERDOMAIN"] = sim::sessions::userDomain();
    variables[L"USERNAME"] = token.user;
    variables[L"USERPROFILE"] = profile;
    return variables;
}

// "name=value" strings sorted by name without regard to case, as Windows keeps a block.
std::unique_ptr<wchar_t[]> environmentBlock(const Variables& variables) {
    std::vector<std::wstring> entries;
    for (const auto& [name, value] : variables) {
        entries.push_back(name + L"=" + value);
    }
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
    });
    size_t length = 1;
    for (const auto& entry : entries) {
        length += entry.size() + 1;
    }
    auto block = std::make_unique<wchar_t[]>(length);  // zeroed: every entry ends, and the block
    wchar_t* out = block.get();
    for (const auto& entry : entries) {
        out = std::copy(entry.begin(), entry.end(), out) + 1;
    }
    return block;
}

}  // namespace

namespace sim::userenv {

size_t loadedProfiles(std::wstring_view userSid) {
    auto& p = profiles();
    std::lock_guard lock(p.mutex);
    auto it = p.loads.find(std::wstring(userSid));
    return it == p.loads.end() ? 0 : it->second;
}

size_t openHandles() {
    auto& p = profiles();
    std::lock_guard lock(p.mutex);
    return g_liveProfileHandles.load() + p.blocks.size();
}

uint64_t badFrees() {
    auto& p = profiles();
    std::lock_guard lock(p.mutex);
    return p.badFrees;
}

}  // namespace sim::userenv

BOOL LoadUserProfileW(HANDLE token, LPPROFILEINFOW profileInfo) {
    SIM_API("LoadUserProfileW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (!callerIsSystem()) {
        return fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);  // needs the backup and restore privileges
    }
    if (profileInfo == nullptr || profileInfo->dwSize != sizeof(PROFILEINFOW) ||
        profileInfo->lpUserName == nullptr || *profileInfo->lpUserName == L'\0') {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const auto user = sim::sessions::detail::userToken(token);
    if (!user) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    sim::registry::createKey(L"HKU\\" + user->sid);
    {
        auto& p = profiles();
        std::lock_guard lock(p.mutex);
        ++p.loads[user->sid];
    }
    profileInfo->hProfile = sim::detail::insertHandle(std::make_shared<ProfileHandle>(user->sid));
    return TRUE;
}

BOOL UnloadUserProfile(HANDLE token, HANDLE profile) {
    SIM_API("UnloadUserProfile");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    const auto user = sim::sessions::detail::userToken(token);
    const auto loaded = sim::detail::lookupAs<ProfileHandle>(profile);
    if (!user || !loaded) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (loaded->sid != user->sid) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    sim::detail::removeHandle(profile);
    auto& p = profiles();
    std::lock_guard lock(p.mutex);
    if (auto it = p.loads.find(user->sid); it != p.loads.end() && it->second > 0) {
        --it->second;
    }
    return TRUE;
}

BOOL CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit) {
    SIM_API("CreateEnvironmentBlock");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (environment == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (inherit) {
        return fail(ERROR_NOT_SUPPORTED, FALSE);
    }
    Variables variables;
    if (token == nullptr) {
        variables = systemVariables();
    } else if (const auto user = sim::sessions::detail::userToken(token)) {
        variables = userVariables(*user);
    } else {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    auto block = environmentBlock(variables);
    *environment = block.get();
    auto& p = profiles();
    std::lock_guard lock(p.mutex);
    p.blocks.emplace(block.get(), std::move(block));
    return TRUE;
}

BOOL DestroyEnvironmentBlock(LPVOID environment) {
    SIM_API("DestroyEnvironmentBlock");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto& p = profiles();
    std::lock_guard lock(p.mutex);
    if (environment == nullptr || p.blocks.erase(environment) == 0) {
        if (environment != nullptr) {
            ++p.badFrees;
        }
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    return TRUE;
}
