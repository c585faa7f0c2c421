#include "sharing.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "sim/machine.h"
#include "sim/win/files.h"

namespace sim::detail {

namespace {

// Byte offsets in a record: the gate, "open", then what handles may do, then what they deny.
constexpr off_t kGate = 0;
constexpr off_t kOpen = 1;
constexpr off_t kMay = 2;   // + 0 read, 1 write, 2 delete
constexpr off_t kDeny = 5;  // + 0 read, 1 write, 2 delete
constexpr off_t kSlots = 8;

bool setLock(int fd, short type, off_t start, off_t length, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// Whether another descriptor than `fd` holds a lock on the byte.
bool heldByOthers(int fd, off_t slot) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = slot;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

std::string recordFolder() {
    return sim::root() + "/open-files";
}

std::string recordPath(const struct stat& identity) {
    char name[64];
    std::snprintf(name, sizeof name, "/%llx-%llx", static_cast<unsigned long long>(identity.st_dev),
                  static_cast<unsigned long long>(identity.st_ino));
    return recordFolder() + name;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t at = 0;
    ssize_t got = 0;
    while ((got = pread(fd, buffer, sizeof buffer, at)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
        at += got;
    }
    return text;
}

}  // namespace

unsigned shareAccessOf(DWORD desiredAccess) {
    unsigned access = 0;
    if ((desiredAccess &
         (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | FILE_READ_DATA | FILE_EXECUTE)) != 0) {
        access |= ShareRead;
    }
    if ((desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0) {
        access |= ShareWrite;
    }
    if ((desiredAccess & (DELETE | GENERIC_ALL)) != 0) {
        access |= ShareDelete;
    }
    return access;
}

unsigned shareModeOf(DWORD shareMode) {
    return ((shareMode & FILE_SHARE_READ) != 0 ? ShareRead : 0u) |
           ((shareMode & FILE_SHARE_WRITE) != 0 ? ShareWrite : 0u) |
           ((shareMode & FILE_SHARE_DELETE) != 0 ? ShareDelete : 0u);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<ShareRecord> ShareRecord::lock(const struct stat& identity) {
    const std::string path = recordPath(identity);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno != ENOENT) {
                return std::nullopt;
            }
            mkdir(sim::root().c_str(), 0700);
            mkdir(recordFolder().c_str(), 0700);
            continue;
        }
        struct stat mine {};
        struct stat named {};
        // The last handle of the file may have removed the record while this one waited.
        if (setLock(fd, F_WRLCK, kGate, 1, true) && fstat(fd, &mine) == 0 &&
            stat(path.c_str(), &named) == 0 && sameFile(mine, named)) {
            ShareRecord record(fd, identity);
            if (record.deletePending() && !record.isOpen()) {
                record.completePendingDelete();  // its last holder died
            }
            return record;
        }
        close(fd);
    }
    return std::nullopt;
}

void ShareRecord::release() {
    if (m_fd < 0) {
        return;
    }
    if (!isOpen()) {
        if (deletePending()) {
            completePendingDelete();
        }
        const std::string path = recordPath(m_identity);
        struct stat mine {};
        struct stat named {};
        if (fstat(m_fd, &mine) == 0 && stat(path.c_str(), &named) == 0 && sameFile(mine, named)) {
            unlink(path.c_str());
        }
    }
    close(std::exchange(m_fd, -1));  // releases the gate
}

DWORD ShareRecord::admits(unsigned access, unsigned share) const {
    if (deletePending()) {
        return ERROR_ACCESS_DENIED;
    }
    if (access == 0) {
        return ERROR_SUCCESS;  // without data access a handle takes no part in sharing
    }
    for (off_t kind = 0; kind < 3; ++kind) {
        const unsigned bit = 1u << kind;
        if (((access & bit) != 0 && heldByOthers(m_fd, kDeny + kind)) ||
            ((share & bit) == 0 && heldByOthers(m_fd, kMay + kind))) {
            return ERROR_SHARING_VIOLATION;
        }
    }
    return ERROR_SUCCESS;
}

bool ShareRecord::isOpen() const {
    return heldByOthers(m_fd, kOpen);
}

bool ShareRecord::deletePending() const {
    struct stat info {};
    return fstat(m_fd, &info) == 0 && info.st_size > 0;
}

void ShareRecord::markDeletePending(const std::string& hostPath) {
    if (pwrite(m_fd, hostPath.data(), hostPath.size(), 0) ==
        static_cast<ssize_t>(hostPath.size())) {
        ftruncate(m_fd, static_cast<off_t>(hostPath.size()));
    }
}

void ShareRecord::completePendingDelete() {
    const std::string path = readAll(m_fd);
    struct stat named {};
    if (lstat(path.c_str(), &named) == 0 && sameFile(named, m_identity)) {
        if (S_ISDIR(named.st_mode)) {
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
    ftruncate(m_fd, 0);
}

ShareEntry ShareRecord::join(unsigned access, unsigned share) {
    setLock(m_fd, F_RDLCK, kOpen, 1, false);
    if (access != 0) {
        for (off_t kind = 0; kind < 3; ++kind) {
            const unsigned bit = 1u << kind;
            if ((access & bit) != 0) {
                setLock(m_fd, F_RDLCK, kMay + kind, 1, false);
            }
            if ((share & bit) == 0) {
                setLock(m_fd, F_RDLCK, kDeny + kind, 1, false);
            }
        }
    }
    setLock(m_fd, F_UNLCK, kGate, 1, false);
    ShareEntry entry;
    entry.m_fd = std::exchange(m_fd, -1);
    entry.m_identity = m_identity;
    return entry;
}

void ShareEntry::leave() {
    if (m_fd < 0) {
        return;
    }
    setLock(m_fd, F_WRLCK, kGate, 1, true);
    setLock(m_fd, F_UNLCK, kOpen, kSlots - kOpen, false);
    // As a plain record again, it completes a pending delete and goes when nobody holds it.
    ShareRecord record(std::exchange(m_fd, -1), m_identity);
}

}  // namespace sim::detail
