// The files of one namespace in the store's folder:
//   <ns>.json   the document, only ever replaced whole (temporary file, flush, atomic rename);
//   <ns>.lock   never replaced: a byte-range lock serialises writers of all processes, and its
//               first eight bytes carry the generation of the last write, so that a reader
//               can tell cheaply whether the document changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "common/WinHandles.h"

namespace tarn::orrery {

// What a stat of the document tells: enough to notice a replacement that no hint announced.
struct FileStamp {
    bool exists = false;
    uint64_t writeTime = 0;
    uint64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

class StoreFile {
public:
    StoreFile(std::wstring folder, std::wstring name);

    // Creates the folder when needed and opens the lock file. The library's error code.
    int open();

    const std::wstring& folder() const { return m_folder; }
    const std::wstring& documentPath() const { return m_documentPath; }

    // Holds the cross-process write lock while it lives.
    class Lock {
    public:
        Lock() = default;
        ~Lock() { release(); }
        Lock(Lock&& other) noexcept : m_file(std::exchange(other.m_file, nullptr)) {}
        Lock& operator=(Lock&& other) noexcept {
            if (this != &other) {
                release();
                m_file = std::exchange(other.m_file, nullptr);
            }
            return *this;
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        friend class StoreFile;
        explicit Lock(HANDLE file) : m_file(file) {}
        void release();
        HANDLE m_file = nullptr;
    };
    // Waits for the lock as long as another writer holds it.
    int lock(Lock& lock);

    // The generation hint; nullopt when it cannot be read (a reader then re-reads the file).
    std::optional<uint64_t> readHint() const;
    void writeHint(uint64_t generation) const;

    FileStamp stamp() const;
    // The whole document file; nullopt content when there is none. The library's error code.
    int read(std::optional<std::string>& content) const;
    // Writes the document durably: a crash leaves either the old or the new file.
    int replace(const std::string& content) const;
    // Moves a damaged document aside (kept for inspection); its new path, or empty.
    std::wstring moveAside() const;

private:
    std::wstring m_folder;
    std::wstring m_documentPath;
    std::wstring m_lockPath;
    UniqueHandle m_lockFile;
};

// Creates a folder and every missing folder above it.
bool createFolders(const std::wstring& path);

}  // namespace tarn::orrery
