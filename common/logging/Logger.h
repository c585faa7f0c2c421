// The process-wide logger: one rotating text log file per component, shared by processes.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

namespace TarnPyxLogging {

enum Level : int32_t {
    LevelFatal = 1,
    LevelError = 2,
    LevelWarning = 3,
    LevelInfo = 4,
    LevelDebug = 5,
    LevelVerbose = 6,
};

enum Flags : uint32_t {
    FlagUnnamedMutex = 0x1,  // no cross-process serialisation
    FlagDebugBanners = 0x2,  // start and end banners at the debug level
    FlagFixedVerbose = 0x4,  // level 6, no debugger output, registry not consulted
    FlagUtcTimes = 0x10,
    FlagShortDirectoryAcl = 0x20,
};

// Receives every line that passes its logger's level check, with the trimmed tag and the
// message: a hook for tests and diagnostics. Set it to an empty function to remove it.
using LineObserver =
    std::function<void(int32_t level, std::string_view tag, std::string_view message)>;

class Logger {
public:
    virtual ~Logger() = default;

    // Opens the log file of `component`/`logName`; `ns` may be null. A second open while a
    // file is open does nothing.
    virtual void open(const char* ns, const char* component, const char* logName,
                      int32_t defaultLevel, uint32_t flags) = 0;
    virtual void open(const wchar_t* ns, const wchar_t* component, const wchar_t* logName,
                      int32_t defaultLevel, uint32_t flags) = 0;
    virtual void close() = 0;
    virtual void flush() = 0;
    virtual void vlogf(int32_t level, const char* function, const wchar_t* format,
                       va_list args) = 0;
    virtual void vlogf(int32_t level, const char* function, const char* format, va_list args) = 0;
    virtual bool isEnabled(int32_t level) = 0;
    virtual bool isDisabled(int32_t level) = 0;
    virtual const char* levelText(int32_t level) const = 0;
    virtual int32_t bannerLevel(uint32_t flags) const = 0;
    // Lines without a function name: banners and the too-large-message line.
    virtual void logfNoFunction(int32_t level, const char* format, ...) = 0;
    virtual void logfNoFunction(int32_t level, const wchar_t* format, ...) = 0;

    void logf(int32_t level, const char* function, const char* format, ...);
    void logf(int32_t level, const char* function, const wchar_t* format, ...);

    // The configured level; 0 before the first open, so nothing is written.
    int32_t level() const {
        const int32_t pinned = m_pinnedLevel.load(std::memory_order_relaxed);
        return pinned >= 0 ? pinned : m_level.load(std::memory_order_relaxed);
    }
    void setLevel(int32_t level) { m_level.store(level, std::memory_order_relaxed); }
    // Holds the level at `level` whatever the configuration says, until unpinned with -1: for
    // tests that capture lines of a logger that the code under test opens.
    void pinLevel(int32_t level) { m_pinnedLevel.store(level, std::memory_order_relaxed); }

    // This logger's observer, called for every line that passes the level check, whether or
    // not a file is open.
    void setLineObserver(LineObserver observer);

protected:
    bool hasObserver() const { return m_hasObserver.load(std::memory_order_acquire); }
    void observe(int32_t level, std::string_view tag, std::string_view message);

    std::atomic<int32_t> m_level{0};

private:
    std::atomic<int32_t> m_pinnedLevel{-1};
    std::mutex m_observerMutex;
    LineObserver m_observer;
    std::atomic<bool> m_hasObserver{false};
};

// The process-wide logger of the system's main log.
Logger& logger();

// The observer of the main log.
void setLineObserver(LineObserver observer);

}  // namespace TarnPyxLogging
