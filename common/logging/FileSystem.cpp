#include "common/logging/FileSystem.h"

#include "platform/win.h"

namespace TarnPyxLogging::FileSystem {

bool File::open(const std::wstring& path) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: Windows appends each write atomically at the
    // end, which keeps lines of several processes whole.
    m_handle.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return isOpen();
}

std::optional<uint64_t> File::size() const {
    LARGE_INTEGER size{};
    if (!isOpen() || !GetFileSizeEx(m_handle.get(), &size)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

bool File::write(std::string_view data) {
    while (!data.empty()) {
        DWORD written = 0;
        if (!WriteFile(m_handle.get(), data.data(), static_cast<DWORD>(data.size()), &written,
                       nullptr) ||
            written == 0) {
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

bool File::flush() {
    return isOpen() && FlushFileBuffers(m_handle.get());
}

bool Path::exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Path::rename(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Path::remove(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

bool Path::copyAndEmpty(const std::wstring& from, const std::wstring& to) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const tarn::UniqueHandle source(CreateFileW(from.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                kShareAll, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    const tarn::UniqueHandle target(
        source ? CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
               : INVALID_HANDLE_VALUE);
    if (!target) {
        return false;
    }
    char buffer[65536];
    for (DWORD got = 0;;) {
        if (!ReadFile(source.get(), buffer, sizeof buffer, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            break;
        }
        DWORD written = 0;
        if (!WriteFile(target.get(), buffer, got, &written, nullptr) || written != got) {
            return false;
        }
    }
    LARGE_INTEGER start{};
    return SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN) && SetEndOfFile(source.get());
}

bool Path::createDirectories(const std::wstring& path, const wchar_t* sddl, bool& created) {
    if (path.empty() || exists(path)) {
        return !path.empty();
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 &&
        !createDirectories(path.substr(0, slash), sddl, created)) {
        return false;
    }
    tarn::UniqueLocalMemory descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (sddl != nullptr) {
        PSECURITY_DESCRIPTOR converted = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &converted,
                                                                 nullptr)) {
            descriptor.reset(converted);
            attributes.lpSecurityDescriptor = converted;
        }
    }
    if (CreateDirectoryW(path.c_str(), &attributes)) {
        created = true;
        return true;
    }
    // Another process may have made it in the meantime.
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace TarnPyxLogging::FileSystem
