// The terminal-services sessions of the simulated machine: who is logged on in which session,
// the session list and information in memory blocks freed with WTSFreeMemory, and user tokens.
#include <cstring>
#include <map>
#include <mutex>

#include "sim/sessions_control.h"
#include "sim/win/sessions.h"
#include "user_token.h"

using sim::detail::fail;
using sim::sessions::detail::UserToken;

namespace {

std::atomic<size_t> g_liveTokens{0};

struct SessionTable {
    std::mutex mutex;
    std::map<uint32_t, sim::sessions::Session> sessions;
    std::map<std::wstring, size_t> users;  // name -> number, for the SID
    // Blocks given out by the WTS functions, by address.
    std::map<const void*, std::unique_ptr<uint64_t[]>> blocks;
    uint64_t badFrees = 0;

    SessionTable() { reset(); }

    void reset() {
        sessions.clear();
        blocks.clear();
        badFrees = 0;
        sessions[0] = {0, L"Services", WTSDisconnected, L""};
        sessions[1] = {1, L"Console", WTSConnected, L""};
        sessions[65536] = {65536, L"RDP-Tcp", WTSListen, L""};
    }

    std::wstring sidOf(const std::wstring& user) {
        const size_t number = users.emplace(user, users.size()).first->second;
        return L"S-1-5-21-3623811015-3361044348-30300820-" + std::to_wstring(1001 + number);
    }

    // A zeroed block of `bytes`, kept until WTSFreeMemory.
    uint8_t* allocate(size_t bytes) {
        auto block = std::make_unique<uint64_t[]>((bytes + 7) / 8 + 1);
        auto* address = reinterpret_cast<uint8_t*>(block.get());
        blocks.emplace(address, std::move(block));
        return address;
    }
};

SessionTable& table() {
    static auto* instance = [] {
        auto* t = new SessionTable;  // outlives static destructors
        sim::onReset([t] {
            std::lock_guard lock(t->mutex);
            t->reset();
        });
        return t;
    }();
    return *instance;
}

constexpr const wchar_t* kDomain = L"TARNTEST";

// A block holding one wide string, with its size in bytes (terminating zero included).
LPWSTR stringBlock(SessionTable& t, const std::wstring& text, DWORD& bytes) {
    bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    auto* block = reinterpret_cast<LPWSTR>(t.allocate(bytes));
    std::wmemcpy(block, text.c_str(), text.size() + 1);
    return block;
}

LPWSTR dwordBlock(SessionTable& t, DWORD value, DWORD& bytes) {
    bytes = sizeof(DWORD);
    uint8_t* block = t.allocate(bytes);
    std::memcpy(block, &value, sizeof value);
    return reinterpret_cast<LPWSTR>(block);
}

}  // namespace

namespace sim::sessions::detail {

UserToken::UserToken(std::wstring userName, std::wstring userSid, uint32_t sessionId)
    : user(std::move(userName)), sid(std::move(userSid)), session(sessionId) {
    ++g_liveTokens;
}

UserToken::~UserToken() {
    --g_liveTokens;
}

size_t UserToken::live() {
    return g_liveTokens.load();
}

std::shared_ptr<UserToken> userToken(HANDLE handle) {
    return sim::detail::lookupAs<UserToken>(handle);
}

std::wstring profileFolder(const std::wstring& user) {
    return L"C:\\Users\\" + user;
}

}  // namespace sim::sessions::detail

namespace sim::sessions {

void logOn(uint32_t id, std::wstring_view user, int32_t state, std::wstring_view winStation) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    Session& session = t.sessions[id];
    session.id = id;
    if (!winStation.empty()) {
        session.winStation = winStation;
    } else if (session.winStation.empty()) {
        session.winStation = L"RDP-Tcp#" + std::to_wstring(id);
    }
    session.user = user;
    session.state = state;
    t.sidOf(session.user);
}

void setState(uint32_t id, int32_t state) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    if (auto it = t.sessions.find(id); it != t.sessions.end()) {
        it->second.state = state;
    }
}

void logOff(uint32_t id) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.sessions.find(id);
    if (it == t.sessions.end()) {
        return;
    }
    if (id == 1) {
        it->second.user.clear();
        it->second.state = WTSConnected;
    } else {
        t.sessions.erase(it);
    }
}

std::vector<Session> sessions() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    std::vector<Session> out;
    for (const auto& [id, session] : t.sessions) {
        out.push_back(session);
    }
    return out;
}

std::wstring userSid(std::wstring_view user) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.sidOf(std::wstring(user));
}

std::wstring userDomain() {
    return kDomain;
}

size_t openHandles() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.blocks.size() + UserToken::live();
}

uint64_t badFrees() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.badFrees;
}

}  // namespace sim::sessions

BOOL WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                           PWTS_SESSION_INFOW* sessionInfo, DWORD* count) {
    SIM_API("WTSEnumerateSessionsW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (server != WTS_CURRENT_SERVER_HANDLE) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (reserved != 0 || version != 1 || sessionInfo == nullptr || count == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    auto& t = table();
    std::lock_guard lock(t.mutex);
    // One block: the records, then their names.
    size_t bytes = t.sessions.size() * sizeof(WTS_SESSION_INFOW);
    for (const auto& [id, session] : t.sessions) {
        bytes += (session.winStation.size() + 1) * sizeof(wchar_t);
    }
    uint8_t* block = t.allocate(bytes);
    auto* records = reinterpret_cast<WTS_SESSION_INFOW*>(block);
    auto* names = reinterpret_cast<wchar_t*>(records + t.sessions.size());
    for (const auto& [id, session] : t.sessions) {
        records->SessionId = id;
        records->State = static_cast<WTS_CONNECTSTATE_CLASS>(session.state);
        records->pWinStationName = names;
        std::wmemcpy(names, session.winStation.c_str(), session.winStation.size() + 1);
        names += session.winStation.size() + 1;
        ++records;
    }
    *sessionInfo = reinterpret_cast<PWTS_SESSION_INFOW>(block);
    *count = static_cast<DWORD>(t.sessions.size());
    return TRUE;
}

BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                 LPWSTR* buffer, DWORD* bytesReturned) {
    SIM_API("WTSQuerySessionInformationW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (server != WTS_CURRENT_SERVER_HANDLE) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (buffer == nullptr || bytesReturned == nullptr || infoClass < WTSInitialProgram ||
        infoClass > WTSIsRemoteSession) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    auto& t = table();
    std::lock_guard lock(t.mutex);
    // WTS_CURRENT_SESSION is not simulated: it names no session here.
    auto it = t.sessions.find(sessionId);
    if (it == t.sessions.end()) {
        return fail(ERROR_CTX_WINSTATION_NOT_FOUND, FALSE);
    }
    const sim::sessions::Session& session = it->second;
    DWORD bytes = 0;
    switch (infoClass) {
        case WTSSessionId:
            *buffer = dwordBlock(t, session.id, bytes);
            break;
        case WTSConnectState:
            *buffer = dwordBlock(t, static_cast<DWORD>(session.state), bytes);
            break;
        case WTSUserName:
            *buffer = stringBlock(t, session.user, bytes);
            break;
        case WTSWinStationName:
            *buffer = stringBlock(t, session.winStation, bytes);
            break;
        case WTSDomainName:
            *buffer = stringBlock(t, session.user.empty() ? L"" : kDomain, bytes);
            break;
        default:
            return fail(ERROR_NOT_SUPPORTED, FALSE);
    }
    *bytesReturned = bytes;
    return TRUE;
}

void WTSFreeMemory(PVOID memory) {
    SIM_API("WTSFreeMemory");
    if (memory == nullptr) {
        return;
    }
    auto& t = table();
    std::lock_guard lock(t.mutex);
    if (t.blocks.erase(memory) == 0) {
        ++t.badFrees;  // Windows would corrupt its heap: counted instead
    }
}

BOOL WTSQueryUserToken(ULONG sessionId, PHANDLE token) {
    SIM_API("WTSQueryUserToken");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (sim::detail::currentAccountSid() != L"S-1-5-18") {
        return fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
    }
    if (token == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    auto& t = table();
    std::unique_lock lock(t.mutex);
    auto it = t.sessions.find(sessionId);
    if (it == t.sessions.end()) {
        return fail(ERROR_CTX_WINSTATION_NOT_FOUND, FALSE);
    }
    if (it->second.user.empty()) {
        return fail(ERROR_NO_TOKEN, FALSE);
    }
    auto object = std::make_shared<UserToken>(it->second.user, t.sidOf(it->second.user), sessionId);
    lock.unlock();
    *token = sim::detail::insertHandle(std::move(object));
    return TRUE;
}
