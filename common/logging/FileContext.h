// One log file of one component: where it lives, how big it may grow, the rotation that keeps
// two old files, and the named mutex that serialises writers of every process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/WinHandles.h"
#include "common/logging/FileSystem.h"

namespace TarnPyxLogging {

struct Configuration {
    int32_t level = 4;
    uint64_t maxSizeBytes = 50 * 1024;
    bool debugOutput = false;
};

class FileContextBase {
public:
    FileContextBase(std::wstring ns, std::wstring component, std::wstring logName,
                    int32_t defaultLevel, uint32_t flags);
    virtual ~FileContextBase();
    FileContextBase(const FileContextBase&) = delete;
    FileContextBase& operator=(const FileContextBase&) = delete;

    // The level, size limit and debugger-output switch as configured now; keeps the limit.
    virtual Configuration readConfiguration() = 0;
    // Works out where the file lives and makes its directory. True when the location was
    // (re)established: the first time, after it moved, or when its directory had to be made.
    virtual bool establishLocation() = 0;

    // Writes one line while holding the cross-process mutex (at most 500 ms of waiting),
    // rotating first when the file is full. False when the line was dropped.
    virtual bool write(std::string_view line);
    // Writes whole lines in order, holding the cross-process mutex once: each file gets the
    // lines that one write per line would have put into it, in one write, and rotates where
    // that would have rotated. False when the lines, or some of them, were dropped.
    virtual bool writeLines(const std::vector<std::string>& lines);
    virtual void flush();

    // The full path without extension; empty before the location is established.
    const std::wstring& path() const { return m_path; }
    // "<path>.log", or with a number: "<path>.1.log".
    std::wstring fileName(int number = 0) const;

protected:
    // Closes the file and moves the context to `path`; a given `mutex` replaces the old one.
    void relocate(const std::wstring& path, tarn::UniqueHandle mutex);
    void setMaxSize(uint64_t bytes) { m_maxSize = bytes; }

    // How long a write waits for the cross-process mutex before the line is dropped.
    uint32_t m_mutexWaitMs = 500;
    const std::wstring m_namespace;
    const std::wstring m_component;
    const std::wstring m_logName;
    const int32_t m_defaultLevel;
    const uint32_t m_flags;

private:
    bool prepareFile();
    void rotate();
    void moveLogFile(const std::wstring& from, const std::wstring& to);
    void deleteLogFile(const std::wstring& file);

    std::wstring m_path;
    uint64_t m_maxSize = 50 * 1024;
    tarn::UniqueHandle m_mutex;
    FileSystem::File m_file;
};

// The Windows file context: configuration from the registry, location by the account that
// runs the process.
class FileContext : public FileContextBase {
public:
    using FileContextBase::FileContextBase;

    Configuration readConfiguration() override;
    bool establishLocation() override;

protected:
    enum class Account { System, User, LowIntegrity };

    virtual Account account();
    // The folder below which "\Tarn\..." is made.
    virtual std::wstring rootPath();
    // HKLM key (32-bit view) of the configuration values.
    virtual std::wstring configurationKey() const;

private:
    DWORD setting(const wchar_t* name, DWORD fallback) const;
    tarn::UniqueHandle createMutex(const std::wstring& path, Account who) const;

    bool m_accountKnown = false;
    Account m_account = Account::System;
};

}  // namespace TarnPyxLogging
