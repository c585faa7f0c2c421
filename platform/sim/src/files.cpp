// Files and directories of the simulated machine, kept on the host's file system.
// Windows paths compare without regard to case; the host's do not, so the simulation is
// case-sensitive: the system's code must spell each path one way. Share modes and pending
// deletes are Windows' own (sharing.h), across the machine's processes.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <utility>
#include <vector>

#include "files_internal.h"
#include "internal.h"
#include "sharing.h"
#include "sim/win/files.h"
#include "sim/win/security.h"

using sim::detail::fail;
using sim::detail::KernelObject;
using sim::detail::ShareEntry;
using sim::detail::ShareRecord;

namespace sim::detail {

DWORD errorFromErrno(int error, const std::string& path) {
    switch (error) {
        case ENOENT: {
            // Windows tells a missing file from a missing folder on the way to it.
            const auto slash = path.rfind('/');
            struct stat info {};
            if (slash != std::string::npos && slash > 0 &&
                stat(path.substr(0, slash).c_str(), &info) != 0) {
                return ERROR_PATH_NOT_FOUND;
            }
            return ERROR_FILE_NOT_FOUND;
        }
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EAGAIN:
            return ERROR_LOCK_VIOLATION;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace sim::detail

namespace {

using sim::detail::errorFromErrno;

// The standard folders that every Windows machine has, made once per simulation root.
void ensureMachineFolders() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* folders[] = {"",
                                 "/C",
                                 "/C/Windows",
                                 "/C/Windows/System32",
                                 "/C/Windows/TEMP",
                                 "/C/ProgramData",
                                 "/C/Program Files",
                                 "/C/Program Files (x86)",
                                 "/C/Users"};
        for (const char* folder : folders) {
            mkdir((sim::root() + folder).c_str(), 0700);
        }
    });
}

}  // namespace

namespace sim::detail {

std::string filePath(LPCWSTR windowsPath) {
    ensureMachineFolders();
    return sim::hostPath(windowsPath);
}

bool hasInvalidNameCharacter(std::wstring_view path) {
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
        path.remove_prefix(4);  // the prefixes of raw and device paths
    }
    for (const wchar_t c : path) {
        if (c < 0x20 || std::wcschr(L"*?|<>\"", c) != nullptr) {
            return true;
        }
    }
    return false;
}

DWORD checkFileName(LPCWSTR name) {
    if (name == nullptr || *name == L'\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    return hasInvalidNameCharacter(name) ? ERROR_INVALID_NAME : ERROR_SUCCESS;
}

}  // namespace sim::detail

namespace {

using sim::detail::checkFileName;
using sim::detail::filePath;
using sim::detail::hasInvalidNameCharacter;

class FileObject final : public KernelObject {
public:
    FileObject(int fd, std::string path, bool canRead, bool canWrite, ShareEntry sharing)
        : m_fd(fd),
          m_path(std::move(path)),
          m_canRead(canRead),
          m_canWrite(canWrite),
          m_sharing(std::move(sharing)) {}
    ~FileObject() override {
        if (m_lockFd >= 0) {
            close(m_lockFd);
        }
        close(m_fd);
    }
    int fd() const { return m_fd; }
    bool canRead() const { return m_canRead; }
    bool canWrite() const { return m_canWrite; }
    // Byte-range locks belong to the handle, as on Windows: open-file-description locks. A lock
    // kind that the handle's access does not allow on the host uses a second descriptor.
    int lockFd(bool exclusive) {
        if (exclusive ? m_canWrite : m_canRead) {
            return m_fd;
        }
        if (m_lockFd < 0) {
            m_lockFd = open(m_path.c_str(), O_RDWR | O_CLOEXEC);
        }
        return m_lockFd;
    }

private:
    int m_fd;
    int m_lockFd = -1;
    std::string m_path;
    bool m_canRead;
    bool m_canWrite;
    ShareEntry m_sharing;  // leaves the file's sharing record last, after the descriptor closed
};

class FindObject final : public KernelObject {
public:
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
};

FILETIME toFileTime(const timespec& time) {
    const auto value = static_cast<uint64_t>(time.tv_sec) * 10000000ull +
                       static_cast<uint64_t>(time.tv_nsec) / 100 + 116444736000000000ull;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

DWORD attributesOf(const struct stat& info) {
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

// Makes a rename or removal durable, as MOVEFILE_WRITE_THROUGH asks.
void syncParentFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

namespace {

// The record of the file at `path`, locked, once the path still names the file it describes.
DWORD lockRecordAt(const std::string& path, struct stat& info, std::optional<ShareRecord>& record) {
    for (;;) {
        if (lstat(path.c_str(), &info) != 0) {
            return errorFromErrno(errno, path);
        }
        record = ShareRecord::lock(info);
        if (!record) {
            return ERROR_GEN_FAILURE;
        }
        struct stat again {};
        if (lstat(path.c_str(), &again) == 0 && sim::detail::sameFile(info, again)) {
            return ERROR_SUCCESS;
        }
        record.reset();  // renamed or replaced meanwhile: look again
    }
}

int hostOpenFlags(bool read, bool write, bool appendOnly) {
    int flags = O_CLOEXEC;
    if ((write || appendOnly) && read) {
        flags |= O_RDWR;
    } else if (write || appendOnly) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (appendOnly) {
        flags |= O_APPEND;  // FILE_APPEND_DATA alone: every write goes to the end
    }
    return flags;
}

// What CreateFileW does, for the functions that open files themselves (CopyFileW).
// ERROR_SUCCESS with `file` set, or the error.
DWORD openFile(const std::string& path, DWORD desiredAccess, DWORD shareMode,
               DWORD creationDisposition, DWORD flagsAndAttributes,
               std::shared_ptr<FileObject>& file, bool& existed) {
    const bool read = (desiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
    const bool write = (desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) != 0;
    const bool appendOnly = !write && (desiredAccess & FILE_APPEND_DATA) != 0;
    int flags = hostOpenFlags(read, write, appendOnly);
    switch (creationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case OPEN_EXISTING:
            break;
        case TRUNCATE_EXISTING:
            if (!write) {
                return ERROR_INVALID_PARAMETER;
            }
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    const bool truncates =
        creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
    const unsigned access = sim::detail::shareAccessOf(desiredAccess);
    const unsigned share = sim::detail::shareModeOf(shareMode);
    for (;;) {
        struct stat info {};
        existed = stat(path.c_str(), &info) == 0;
        if (existed && S_ISDIR(info.st_mode) &&
            (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        const int fd = open(path.c_str(), flags, 0644);
        if (fd < 0) {
            const int error = errno;
            return error == EEXIST ? ERROR_FILE_EXISTS : errorFromErrno(error, path);
        }
        struct stat opened {};
        std::optional<ShareRecord> record;
        if (fstat(fd, &opened) == 0) {
            record = ShareRecord::lock(opened);
        }
        if (!record) {
            close(fd);
            return ERROR_GEN_FAILURE;
        }
        struct stat named {};
        if (stat(path.c_str(), &named) != 0 || !sim::detail::sameFile(named, opened)) {
            close(fd);  // replaced or removed before the record was locked: open again
            continue;
        }
        // Checked before anything changes: a refused open truncates nothing.
        if (const DWORD refused = record->admits(access, share); refused != ERROR_SUCCESS) {
            close(fd);
            return refused;
        }
        if (truncates && (write ? ftruncate(fd, 0) : truncate(path.c_str(), 0)) != 0) {
            const int error = errno;
            close(fd);
            return errorFromErrno(error, path);
        }
        file = std::make_shared<FileObject>(fd, path, read, write || appendOnly,
                                            record->join(access, share));
        return ERROR_SUCCESS;
    }
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    SIM_API("CreateFileW");
    if (simFault_) {
        return fail(*simFault_, INVALID_HANDLE_VALUE);
    }
    if (const DWORD error = checkFileName(fileName); error != ERROR_SUCCESS) {
        return fail(error, INVALID_HANDLE_VALUE);
    }
    std::shared_ptr<FileObject> file;
    bool existed = false;
    const DWORD error = openFile(filePath(fileName), desiredAccess, shareMode, creationDisposition,
                                 flagsAndAttributes, file, existed);
    if (error != ERROR_SUCCESS) {
        return fail(error, INVALID_HANDLE_VALUE);
    }
    const bool reportsExisting =
        existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    HANDLE handle = sim::detail::insertHandle(std::move(file));
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    SIM_API("ReadFile");
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FileObject>(file);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (!object->canRead()) {
        return fail(ERROR_ACCESS_DENIED, FALSE);
    }
    ssize_t done = 0;
    if (overlapped != nullptr) {
        const off_t offset = static_cast<off_t>(
            (static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset);
        done = pread(object->fd(), buffer, bytesToRead, offset);
    } else {
        done = read(object->fd(), buffer, bytesToRead);
    }
    if (done < 0) {
        return fail(errorFromErrno(errno), FALSE);
    }
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<DWORD>(done);
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    SIM_API("WriteFile");
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FileObject>(file);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (!object->canWrite()) {
        return fail(ERROR_ACCESS_DENIED, FALSE);
    }
    const auto* bytes = static_cast<const char*>(buffer);
    DWORD total = 0;
    while (total < bytesToWrite) {
        ssize_t done = 0;
        if (overlapped != nullptr) {
            const auto offset = static_cast<off_t>(
                ((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset) +
                total);
            done = pwrite(object->fd(), bytes + total, bytesToWrite - total, offset);
        } else {
            done = write(object->fd(), bytes + total, bytesToWrite - total);
        }
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (bytesWritten != nullptr) {
                *bytesWritten = total;
            }
            return fail(errorFromErrno(errno), FALSE);
        }
        total += static_cast<DWORD>(done);
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = total;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    SIM_API("FlushFileBuffers");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FileObject>(file);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return fsync(object->fd()) == 0 ? TRUE : fail(errorFromErrno(errno), FALSE);
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    SIM_API("GetFileSizeEx");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FileObject>(file);
    struct stat info {};
    if (!object || fstat(object->fd(), &info) != 0) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    size->QuadPart = info.st_size;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPointer,
                      DWORD moveMethod) {
    SIM_API("SetFilePointerEx");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FileObject>(file);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    const int whence = moveMethod == FILE_BEGIN     ? SEEK_SET
                       : moveMethod == FILE_CURRENT ? SEEK_CUR
                                                    : SEEK_END;
    const off_t position = lseek(object->fd(), static_cast<off_t>(distance.QuadPart), whence);
    if (position < 0) {
        return fail(ERROR_NEGATIVE_SEEK, FALSE);
    }
    if (newPointer != nullptr) {
        newPointer->QuadPart = position;
    }
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
    SIM_API("SetEndOfFile");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FileObject>(file);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    const off_t position = lseek(object->fd(), 0, SEEK_CUR);
    return ftruncate(object->fd(), position) == 0 ? TRUE : fail(errorFromErrno(errno), FALSE);
}

namespace {

BOOL changeLock(HANDLE file, short type, bool wait, DWORD bytesLow, DWORD bytesHigh,
                LPOVERLAPPED overlapped) {
    auto object = sim::detail::lookupAs<FileObject>(file);
    if (!object || overlapped == nullptr) {
        return fail(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE, FALSE);
    }
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) |
                                      overlapped->Offset);
    const uint64_t length = (static_cast<uint64_t>(bytesHigh) << 32) | bytesLow;
    // A range reaching past the host's largest offset means "to the end", which POSIX spells 0.
    lock.l_len = length >= static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(lock.l_start)
                     ? 0
                     : static_cast<off_t>(length);
    const int fd = object->lockFd(type == F_WRLCK || type == F_UNLCK);
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
            return TRUE;
        }
        if (errno != EINTR) {
            break;
        }
    }
    if (type == F_UNLCK) {
        return fail(ERROR_NOT_LOCKED, FALSE);
    }
    return fail(errno == EAGAIN || errno == EACCES ? ERROR_LOCK_VIOLATION : errorFromErrno(errno),
                FALSE);
}

}  // namespace

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD, DWORD bytesLow, DWORD bytesHigh,
                LPOVERLAPPED overlapped) {
    SIM_API("LockFileEx");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    const short type = (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0 ? F_WRLCK : F_RDLCK;
    return changeLock(file, type, (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0, bytesLow, bytesHigh,
                      overlapped);
}

BOOL UnlockFileEx(HANDLE file, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
    SIM_API("UnlockFileEx");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    return changeLock(file, F_UNLCK, false, bytesLow, bytesHigh, overlapped);
}

namespace {

// The records of a rename's source and, when it exists, its target, locked in the order of
// their files, so that two renames cannot wait for each other.
DWORD lockRenameRecords(const std::string& from, const std::string& to, struct stat& source,
                        std::optional<ShareRecord>& sourceRecord, bool& targetExists,
                        std::optional<ShareRecord>& targetRecord) {
    for (;;) {
        sourceRecord.reset();
        targetRecord.reset();
        struct stat target {};
        if (lstat(from.c_str(), &source) != 0) {
            return errorFromErrno(errno, from);
        }
        targetExists = lstat(to.c_str(), &target) == 0;
        const bool separate = targetExists && !sim::detail::sameFile(source, target);
        const bool targetFirst = separate && std::make_pair(target.st_dev, target.st_ino) <
                                                 std::make_pair(source.st_dev, source.st_ino);
        if (targetFirst) {
            targetRecord = ShareRecord::lock(target);
        }
        sourceRecord = ShareRecord::lock(source);
        if (separate && !targetFirst) {
            targetRecord = ShareRecord::lock(target);
        }
        if (!sourceRecord || (separate && !targetRecord)) {
            return ERROR_GEN_FAILURE;
        }
        struct stat sourceNow {};
        struct stat targetNow {};
        const bool targetNowExists = lstat(to.c_str(), &targetNow) == 0;
        if (lstat(from.c_str(), &sourceNow) == 0 && sim::detail::sameFile(source, sourceNow) &&
            targetNowExists == targetExists &&
            (!targetExists || sim::detail::sameFile(target, targetNow))) {
            return ERROR_SUCCESS;
        }
    }
}

}  // namespace

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    SIM_API("MoveFileExW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    for (LPCWSTR name : {existing, newName}) {
        if (const DWORD error = checkFileName(name); error != ERROR_SUCCESS) {
            return fail(error, FALSE);
        }
    }
    const std::string from = filePath(existing);
    const std::string to = filePath(newName);
    struct stat source {};
    std::optional<ShareRecord> sourceRecord;
    std::optional<ShareRecord> targetRecord;
    bool targetExists = false;
    if (const DWORD error =
            lockRenameRecords(from, to, source, sourceRecord, targetExists, targetRecord);
        error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    // Renaming opens the source for DELETE: every holder must share delete.
    if (const DWORD refused = sourceRecord->admits(sim::detail::ShareDelete, sim::detail::ShareAll);
        refused != ERROR_SUCCESS) {
        return fail(refused, FALSE);
    }
    const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    // Windows never replaces a file that is open, whatever the holders share.
    if (replace && targetRecord && targetRecord->isOpen()) {
        return fail(ERROR_ACCESS_DENIED, FALSE);
    }
    const int result =
        renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), replace ? 0 : RENAME_NOREPLACE);
    if (result != 0) {
        const int error = errno;
        if (error == EXDEV) {
            return fail(ERROR_NOT_SAME_DEVICE, FALSE);
        }
        if (error == EISDIR || error == ENOTEMPTY || error == ENOTDIR) {
            return fail(ERROR_ACCESS_DENIED, FALSE);
        }
        return fail(errorFromErrno(error, to), FALSE);
    }
    if ((flags & MOVEFILE_WRITE_THROUGH) != 0) {
        syncParentFolder(to);
    }
    return TRUE;
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName) {
    return MoveFileExW(existing, newName, 0);
}

namespace {

// DeleteFileW and RemoveDirectoryW: the name goes when the last handle closes (the stricter
// behaviour, of Windows before 10 version 1903 and of wine; later versions free it at once).
BOOL removeEntry(LPCWSTR name, bool directory) {
    if (const DWORD error = checkFileName(name); error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    const std::string path = filePath(name);
    struct stat info {};
    std::optional<ShareRecord> record;
    if (const DWORD error = lockRecordAt(path, info, record); error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    if (S_ISDIR(info.st_mode) != directory) {
        return fail(directory ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED, FALSE);
    }
    if (const DWORD refused = record->admits(sim::detail::ShareDelete, sim::detail::ShareAll);
        refused != ERROR_SUCCESS) {
        return fail(refused, FALSE);
    }
    if (directory) {
        DIR* folder = opendir(path.c_str());
        int entries = 0;
        while (folder != nullptr && readdir(folder) != nullptr) {
            ++entries;
        }
        if (folder != nullptr) {
            closedir(folder);
        }
        if (entries > 2) {
            return fail(ERROR_DIR_NOT_EMPTY, FALSE);
        }
    }
    if (record->isOpen()) {
        record->markDeletePending(path);
        return TRUE;
    }
    const int result = directory ? rmdir(path.c_str()) : unlink(path.c_str());
    return result == 0 ? TRUE : fail(errorFromErrno(errno, path), FALSE);
}

}  // namespace

BOOL DeleteFileW(LPCWSTR fileName) {
    SIM_API("DeleteFileW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    return removeEntry(fileName, false);
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) {
    SIM_API("CopyFileW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    for (LPCWSTR name : {existing, newName}) {
        if (const DWORD error = checkFileName(name); error != ERROR_SUCCESS) {
            return fail(error, FALSE);
        }
    }
    // As Windows: nobody may have the source open for writing, nor the target at all.
    std::shared_ptr<FileObject> in;
    std::shared_ptr<FileObject> out;
    bool existed = false;
    DWORD error =
        openFile(filePath(existing), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, in, existed);
    if (error == ERROR_SUCCESS) {
        error = openFile(filePath(newName), GENERIC_WRITE, 0,
                         failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0, out, existed);
    }
    if (error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    char buffer[65536];
    ssize_t got = 0;
    bool ok = true;
    while ((got = read(in->fd(), buffer, sizeof buffer)) > 0) {
        ok = ok && write(out->fd(), buffer, static_cast<size_t>(got)) == got;
    }
    return ok && got == 0 ? TRUE : fail(ERROR_WRITE_FAULT, FALSE);
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES attributes) {
    SIM_API("CreateDirectoryW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (const DWORD error = checkFileName(pathName); error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    if (!sim::detail::securityValid(attributes)) {
        return fail(ERROR_INVALID_SECURITY_DESCR, FALSE);
    }
    const std::string path = filePath(pathName);
    if (mkdir(path.c_str(), 0755) == 0) {
        sim::detail::rememberSecurity("dir:" + path, attributes);
        return TRUE;
    }
    const int error = errno;
    return fail(error == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(error, path), FALSE);
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
    SIM_API("RemoveDirectoryW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    return removeEntry(pathName, true);
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    SIM_API("GetFileAttributesW");
    if (simFault_) {
        return fail(*simFault_, INVALID_FILE_ATTRIBUTES);
    }
    if (const DWORD error = checkFileName(fileName); error != ERROR_SUCCESS) {
        return fail(error, INVALID_FILE_ATTRIBUTES);
    }
    const std::string path = filePath(fileName);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return fail(errorFromErrno(errno, path), INVALID_FILE_ATTRIBUTES);
    }
    return attributesOf(info);
}

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    SIM_API("GetFileAttributesExW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (level != GetFileExInfoStandard || information == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (const DWORD error = checkFileName(fileName); error != ERROR_SUCCESS) {
        return fail(error, FALSE);
    }
    const std::string path = filePath(fileName);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return fail(errorFromErrno(errno, path), FALSE);
    }
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
    data->dwFileAttributes = attributesOf(info);
    data->ftCreationTime = toFileTime(info.st_ctim);
    data->ftLastAccessTime = toFileTime(info.st_atim);
    data->ftLastWriteTime = toFileTime(info.st_mtim);
    const auto size = static_cast<uint64_t>(info.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    SIM_API("GetTempPathW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    ensureMachineFolders();
    static const std::wstring temp = L"C:\\Windows\\TEMP\\";
    if (size < temp.size() + 1) {
        return static_cast<DWORD>(temp.size() + 1);
    }
    std::wmemcpy(buffer, temp.c_str(), temp.size() + 1);
    return static_cast<DWORD>(temp.size());
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    SIM_API("FindFirstFileW");
    if (simFault_) {
        return fail(*simFault_, INVALID_HANDLE_VALUE);
    }
    if (pattern != nullptr) {
        const std::wstring_view text(pattern);
        const auto folderEnd = text.find_last_of(L"\\/");
        if (hasInvalidNameCharacter(text.substr(0, folderEnd == text.npos ? 0 : folderEnd)) ||
            text.find(L'|') != text.npos) {
            return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
        }
    }
    const std::string path = filePath(pattern);
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string mask = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return fail(errorFromErrno(errno, folder + "/x"), INVALID_HANDLE_VALUE);
    }
    auto find = std::make_shared<FindObject>();
    while (const dirent* entry = readdir(dir)) {
        if (fnmatch(mask.c_str(), entry->d_name, 0) != 0) {
            continue;
        }
        WIN32_FIND_DATAW found{};
        struct stat info {};
        if (stat((folder + "/" + entry->d_name).c_str(), &info) == 0) {
            found.dwFileAttributes = attributesOf(info);
            found.ftLastWriteTime = toFileTime(info.st_mtim);
            found.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(info.st_size) >> 32);
            found.nFileSizeLow = static_cast<DWORD>(info.st_size);
        }
        const std::wstring name = sim::detail::fromUtf8(entry->d_name).value_or(L"?");
        std::wcsncpy(found.cFileName, name.c_str(), MAX_PATH - 1);
        find->entries.push_back(found);
    }
    closedir(dir);
    if (find->entries.empty()) {
        return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    *data = find->entries[find->next++];
    return sim::detail::insertHandle(find);
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    SIM_API("FindNextFileW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<FindObject>(find);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (object->next >= object->entries.size()) {
        return fail(ERROR_NO_MORE_FILES, FALSE);
    }
    *data = object->entries[object->next++];
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    return sim::detail::removeHandle(find) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}
