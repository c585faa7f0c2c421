#include "standin/orrery/StoreFile.h"

#include <chrono>

#include "common/logging/Log.h"
#include "platform/win.h"
#include "standin/orrery/PyxOrrery.h"

namespace tarn::orrery {

namespace {

// The lock lies far beyond the hint: Windows' byte-range locks are mandatory, and readers must
// be able to read the hint while a writer holds the lock.
constexpr DWORD kLockOffset = 0x40000000;
// Readers share everything: renaming and deleting the document, which a writer does to
// replace it, need every holder to share deleting.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// How long a reader or writer keeps trying while the document is busy: Windows never replaces
// a file that is open, so a writer waits for the readers that have it open right now (each
// holds it for one read), and a reader for someone who opened it without sharing.
constexpr std::chrono::milliseconds kBusyWait{1000};

OVERLAPPED at(DWORD offset) {
    OVERLAPPED position{};
    position.Offset = offset;
    return position;
}

bool isBusy(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Tries until `attempt` succeeds, fails for another reason than a busy file, or the time is up;
// GetLastError() then tells why.
template <typename Attempt>
bool retryWhileBusy(Attempt attempt) {
    const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
    for (;;) {
        if (attempt()) {
            return true;
        }
        const DWORD error = GetLastError();
        if (!isBusy(error) || std::chrono::steady_clock::now() >= deadline) {
            SetLastError(error);
            return false;
        }
        Sleep(1);
    }
}

bool writeAll(HANDLE file, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

bool createFolders(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    const size_t separator = path.find_last_of(L"\\/");
    if (separator != std::wstring::npos && separator > 0 && path[separator - 1] != L':') {
        createFolders(path.substr(0, separator));
    }
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

StoreFile::StoreFile(std::wstring folder, std::wstring name)
    : m_folder(std::move(folder)),
      m_documentPath(m_folder + L"\\" + name + L".json"),
      m_lockPath(m_folder + L"\\" + name + L".lock") {}

int StoreFile::open() {
    if (!createFolders(m_folder)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Cannot create the store folder " << m_folder << ", error " << GetLastError();
        return PYX_ORRERY_E_IO;
    }
    m_lockFile.reset(CreateFileW(m_lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_lockFile) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Cannot open " << m_lockPath << ", error " << GetLastError();
        return PYX_ORRERY_E_IO;
    }
    return PYX_ORRERY_OK;
}

void StoreFile::Lock::release() {
    if (m_file != nullptr) {
        OVERLAPPED position = at(kLockOffset);
        UnlockFileEx(m_file, 0, 1, 0, &position);
        m_file = nullptr;
    }
}

int StoreFile::lock(Lock& lock) {
    // A blocking lock: the system queues the waiters, so that a busy writer cannot starve the
    // others as polling would. A process that dies releases its lock.
    OVERLAPPED position = at(kLockOffset);
    if (!LockFileEx(m_lockFile.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &position)) {
        TARN_LOG(TarnPyxLogging::LevelError) << "LockFileEx failed, error " << GetLastError();
        return PYX_ORRERY_E_IO;
    }
    lock = Lock(m_lockFile.get());
    return PYX_ORRERY_OK;
}

std::optional<uint64_t> StoreFile::readHint() const {
    unsigned char bytes[8] = {};
    DWORD got = 0;
    OVERLAPPED position = at(0);
    if (!ReadFile(m_lockFile.get(), bytes, sizeof bytes, &got, &position)) {
        return std::nullopt;
    }
    if (got != sizeof bytes) {
        return got == 0 ? std::optional<uint64_t>(0) : std::nullopt;
    }
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void StoreFile::writeHint(uint64_t generation) const {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(generation >> (8 * i));
    }
    DWORD written = 0;
    OVERLAPPED position = at(0);
    // Only a hint: the stamp of the document still shows a change when this write is lost.
    WriteFile(m_lockFile.get(), bytes, sizeof bytes, &written, &position);
}

FileStamp StoreFile::stamp() const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(m_documentPath.c_str(), GetFileExInfoStandard, &data)) {
        return {};
    }
    return {true,
            (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                data.ftLastWriteTime.dwLowDateTime,
            (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
}

int StoreFile::read(std::optional<std::string>& content) const {
    content.reset();
    UniqueHandle file;
    if (!retryWhileBusy([&] {
            file.reset(CreateFileW(m_documentPath.c_str(), GENERIC_READ, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            return file.valid();
        })) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return PYX_ORRERY_OK;
        }
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Cannot open " << m_documentPath << ", error " << error;
        return PYX_ORRERY_E_IO;
    }
    std::string text;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
        text.reserve(static_cast<size_t>(size.QuadPart));
    }
    char buffer[65536];
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Cannot read " << m_documentPath << ", error " << GetLastError();
            return PYX_ORRERY_E_IO;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, got);
    }
    content = std::move(text);
    return PYX_ORRERY_OK;
}

int StoreFile::replace(const std::string& content) const {
    const std::wstring temporary = m_documentPath + L".new";
    {
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Cannot create " << temporary << ", error " << GetLastError();
            return PYX_ORRERY_E_IO;
        }
        if (!writeAll(file.get(), content) || !FlushFileBuffers(file.get())) {
            TARN_LOG(TarnPyxLogging::LevelError)
                << "Cannot write " << temporary << ", error " << GetLastError();
            file.reset();
            DeleteFileW(temporary.c_str());
            return PYX_ORRERY_E_IO;
        }
    }
    if (retryWhileBusy([&] {
            return MoveFileExW(temporary.c_str(), m_documentPath.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        })) {
        return PYX_ORRERY_OK;
    }
    TARN_LOG(TarnPyxLogging::LevelError)
        << "Cannot replace " << m_documentPath << ", error " << GetLastError();
    DeleteFileW(temporary.c_str());
    return PYX_ORRERY_E_IO;
}

std::wstring StoreFile::moveAside() const {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t stamp = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::wstring target = m_documentPath + L".damaged-" + std::to_wstring(stamp);
    if (!MoveFileExW(m_documentPath.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Cannot move " << m_documentPath << " aside, error " << GetLastError();
        return {};
    }
    return target;
}

}  // namespace tarn::orrery
