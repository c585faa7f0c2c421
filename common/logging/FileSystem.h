// The few file operations of the log files: one appending file handle, and path operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/WinHandles.h"

namespace TarnPyxLogging::FileSystem {

// A log file open for appending. Other processes may append to, rename and delete it while it
// is open: every write goes to the end of the file as it is then.
class File {
public:
    bool open(const std::wstring& path);
    void close() { m_handle.reset(); }
    bool isOpen() const { return m_handle.valid(); }
    // nullopt when the size cannot be read.
    std::optional<uint64_t> size() const;
    bool write(std::string_view data);
    bool flush();

private:
    tarn::UniqueHandle m_handle;
};

class Path {
public:
    static bool exists(const std::wstring& path);
    static bool rename(const std::wstring& from, const std::wstring& to);
    static bool remove(const std::wstring& path);
    // Copies the file's content over `to` and then empties it (for a file that cannot be
    // renamed while others append to it). False, with the file untouched, when the copy failed.
    static bool copyAndEmpty(const std::wstring& from, const std::wstring& to);
    // Makes the directory and its missing parents, each with the security descriptor `sddl`
    // when one is given; `created` tells whether any directory had to be made.
    static bool createDirectories(const std::wstring& path, const wchar_t* sddl, bool& created);
};

}  // namespace TarnPyxLogging::FileSystem
