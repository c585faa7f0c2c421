// Windows share modes and pending deletes of the simulated machine's files, across processes.
//
// The host has no share modes, so each file that is open somewhere has a record: a small file
// under <simulation root>/open-files named after the file's device and inode (so it follows
// renames, as Windows' share modes follow the file and not its name). Every open handle keeps
// the record open and holds shared byte-range locks on it that say what the handle may do
// (read, write, delete) and what it denies to others. Open-file-description locks belong to
// the descriptor, so they work between handles of one process and vanish with a process that
// dies. An exclusive lock on the record's first byte makes each check and change atomic.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <utility>

#include "sim/win/base.h"

namespace sim::detail {

// What a handle does to a file, as far as sharing is concerned.
enum ShareAccess : unsigned { ShareRead = 1, ShareWrite = 2, ShareDelete = 4, ShareAll = 7 };

// The sharing classes of a desired access mask, and of a share mode (FILE_SHARE_*).
unsigned shareAccessOf(DWORD desiredAccess);
unsigned shareModeOf(DWORD shareMode);

// One open handle's place in a file's record; leaving it may complete a pending delete.
class ShareEntry {
public:
    ShareEntry() = default;
    ~ShareEntry() { leave(); }
    ShareEntry(ShareEntry&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_identity(other.m_identity) {}
    ShareEntry& operator=(ShareEntry&& other) noexcept {
        if (this != &other) {
            leave();
            m_fd = std::exchange(other.m_fd, -1);
            m_identity = other.m_identity;
        }
        return *this;
    }
    ShareEntry(const ShareEntry&) = delete;
    ShareEntry& operator=(const ShareEntry&) = delete;

private:
    friend class ShareRecord;
    void leave();

    int m_fd = -1;
    struct stat m_identity {};
};

// A file's record, locked for this process while the object lives.
class ShareRecord {
public:
    // Locks the record of the file that `identity` describes (from stat or fstat). Completes a
    // delete left pending by a process that died. nullopt when the record cannot be made.
    static std::optional<ShareRecord> lock(const struct stat& identity);
    ~ShareRecord() { release(); }
    ShareRecord(ShareRecord&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_identity(other.m_identity) {}
    ShareRecord& operator=(ShareRecord&& other) noexcept {
        if (this != &other) {
            release();
            m_fd = std::exchange(other.m_fd, -1);
            m_identity = other.m_identity;
        }
        return *this;
    }
    ShareRecord(const ShareRecord&) = delete;
    ShareRecord& operator=(const ShareRecord&) = delete;

    // Whether a handle with this access and share mode may open the file now:
    // ERROR_SUCCESS, ERROR_SHARING_VIOLATION, or ERROR_ACCESS_DENIED while a delete is pending.
    DWORD admits(unsigned access, unsigned share) const;
    // Whether any handle has the file open (also one without data access).
    bool isOpen() const;
    bool deletePending() const;
    // The file at `hostPath` goes when its last handle closes; until then it cannot be opened.
    void markDeletePending(const std::string& hostPath);
    // Registers a handle (after admits() said yes); the record stays locked until destroyed.
    ShareEntry join(unsigned access, unsigned share);

private:
    friend class ShareEntry;
    ShareRecord(int fd, const struct stat& identity) : m_fd(fd), m_identity(identity) {}
    // Unlocks; a record that no handle holds any more goes, with the file of a pending delete.
    void release();
    void completePendingDelete();

    int m_fd;
    struct stat m_identity;
};

// Whether two stat results describe the same file.
bool sameFile(const struct stat& a, const struct stat& b);

}  // namespace sim::detail
