#include "standin/spool/Spool.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/logging/FileSystem.h"
#include "platform/win.h"
#include "standin/DataFolder.h"

namespace tarn::spool {

namespace {

constexpr size_t kMaxNamespaceLength = 200;
constexpr DWORD kMutexWaitMs = 10000;
constexpr uint64_t kFlushIntervalMs = 1000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What a process keeps per spool: the named mutex that every writer of the spool shares, and
// when the process last flushed it (guarded by that mutex).
struct SpoolState {
    UniqueHandle mutex;
    uint64_t lastFlush = 0;
};

// The mutex's name: a hash of the path, which may be longer than a mutex name can be.
std::wstring mutexName(const std::wstring& path, const wchar_t* scope) {
    uint64_t hash = 1469598103934665603ull;
    for (const wchar_t c : str::toLower(path)) {
        hash = (hash ^ static_cast<uint64_t>(c)) * 1099511628211ull;
    }
    wchar_t text[64];
    std::swprintf(text, 64, L"%lsTarnSpool_%016llx", scope, static_cast<unsigned long long>(hash));
    return text;
}

SpoolState* stateOf(const std::wstring& path) {
    static std::mutex mutex;
    static std::map<std::wstring, SpoolState> states;
    std::lock_guard lock(mutex);
    SpoolState& state = states[path];
    if (!state.mutex) {
        // An account that may not make global objects still serialises its own session.
        for (const wchar_t* scope : {L"Global\\", L"Local\\"}) {
            state.mutex.reset(CreateMutexW(nullptr, FALSE, mutexName(path, scope).c_str()));
            if (state.mutex) {
                break;
            }
        }
    }
    return state.mutex ? &state : nullptr;
}

UniqueHandle openForAppend(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        const size_t separator = path.find_last_of(L'\\');
        bool created = false;
        if ((error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) &&
            separator != std::wstring::npos &&
            TarnPyxLogging::FileSystem::Path::createDirectories(path.substr(0, separator), nullptr,
                                                                created)) {
            file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
    }
    return file;
}

bool writeAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD written = 0;
        if (!WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
            written == 0) {
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

// Holds a spool's named mutex while it lives.
class SpoolLock {
public:
    explicit SpoolLock(HANDLE mutex) : m_mutex(mutex) {
        const DWORD waited = WaitForSingleObject(mutex, kMutexWaitMs);
        // An abandoned mutex is ours: its owner died between whole lines.
        m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~SpoolLock() {
        if (m_held) {
            ReleaseMutex(m_mutex);
        }
    }
    SpoolLock(const SpoolLock&) = delete;
    SpoolLock& operator=(const SpoolLock&) = delete;
    bool held() const { return m_held; }

private:
    HANDLE m_mutex;
    bool m_held = false;
};

std::string utcNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

}  // namespace

std::wstring spoolFolder() {
    return standin::dataFolder(L"TARN_SPOOL_ROOT", L"Spool");
}

std::wstring spoolPath(const std::wstring& nameSpace) {
    return spoolFolder() + L"\\" + nameSpace + L".jsonl";
}

bool isValidNamespace(std::wstring_view nameSpace) {
    if (nameSpace.empty() || nameSpace.size() > kMaxNamespaceLength || nameSpace == L"." ||
        nameSpace == L"..") {
        return false;
    }
    for (const wchar_t c : nameSpace) {
        if (static_cast<uint32_t>(c) < 0x20 ||
            std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) {
            return false;
        }
    }
    try {
        str::toUtf8(nameSpace);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

Result prepare(const std::wstring& nameSpace) {
    if (!isValidNamespace(nameSpace)) {
        return Result::InvalidNamespace;
    }
    return openForAppend(spoolPath(nameSpace)) ? Result::Ok : Result::Io;
}

std::string formatLine(const std::wstring& nameSpace, std::string_view source,
                       std::string_view type, const nlohmann::json& payload,
                       const std::string& time) {
    nlohmann::ordered_json line;
    line["time"] = time;
    line["namespace"] = str::toUtf8(nameSpace);
    line["source"] = std::string(source);
    line["type"] = std::string(type);
    line["payload"] = payload;
    return line.dump();
}

Result append(const std::wstring& nameSpace, std::string_view source, std::string_view type,
              const nlohmann::json& payload) {
    if (!isValidNamespace(nameSpace)) {
        return Result::InvalidNamespace;
    }
    const std::string line = formatLine(nameSpace, source, type, payload, utcNow()) + "\n";
    const std::wstring path = spoolPath(nameSpace);
    SpoolState* state = stateOf(path);
    if (state == nullptr) {
        return Result::Io;
    }
    const SpoolLock lock(state->mutex.get());
    if (!lock.held()) {
        return Result::Io;
    }
    const UniqueHandle file = openForAppend(path);
    if (!file || !writeAll(file.get(), line)) {
        return Result::Io;
    }
    const uint64_t now = GetTickCount64();
    if (now - state->lastFlush >= kFlushIntervalMs) {
        FlushFileBuffers(file.get());
        state->lastFlush = now;
    }
    return Result::Ok;
}

std::optional<std::vector<std::string>> Reader::readNew() {
    const UniqueHandle file(CreateFileW(m_path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return std::vector<std::string>{};
        }
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        return std::nullopt;
    }
    if (static_cast<uint64_t>(size.QuadPart) < m_offset) {
        m_offset = 0;  // a new spool under the old name
        m_partial.clear();
    }
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(m_offset);
    if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) {
        return std::nullopt;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        m_partial.append(buffer, got);
        m_offset += got;
    }
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = m_partial.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(m_partial.substr(start, end - start));
    }
    m_partial.erase(0, start);
    return lines;
}

}  // namespace tarn::spool
