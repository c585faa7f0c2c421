#include "common/logging/LoggerWin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "platform/win.h"

namespace TarnPyxLogging {

namespace {

constexpr size_t kSmallBuffer = 2048;
constexpr size_t kLargeBuffer = 65536;
constexpr uint64_t kReloadIntervalMs = 60000;
constexpr int kUnreadableOffset = 3599;  // prints as 59:59

int vformat(char* buffer, size_t size, const char* format, va_list args) {
    return _vsnprintf(buffer, size, format, args);
}

int vformat(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) {
    return _vsnwprintf(buffer, size, format, args);
}

// Formats into 2048 characters, else into 65536; false when the text fits neither.
template <class Char>
bool formatMessage(const Char* format, va_list args, std::basic_string<Char>& out) {
    for (const size_t size : {kSmallBuffer, kLargeBuffer}) {
        out.assign(size, Char());
        va_list copy;
        va_copy(copy, args);
        const int length = vformat(out.data(), size, format, copy);
        va_end(copy);
        if (length >= 0 && static_cast<size_t>(length) < size) {
            out.resize(static_cast<size_t>(length));
            return true;
        }
    }
    return false;
}

// Minutes east of UTC, as the start banner prints them.
int timeZoneOffsetMinutes() {
    TIME_ZONE_INFORMATION zone{};
    const DWORD id = GetTimeZoneInformation(&zone);
    if (id == TIME_ZONE_ID_INVALID) {
        return kUnreadableOffset;
    }
    return id == TIME_ZONE_ID_DAYLIGHT ? -(zone.Bias + zone.DaylightBias)
                                       : -(zone.Bias + zone.StandardBias);
}

std::wstring wideOrEmpty(const char* text) {
    return text == nullptr ? std::wstring() : tarn::str::toUnicode(text);
}

}  // namespace

std::string trimTag(const char* function) {
    if (function == nullptr || *function == '\0') {
        return {};
    }
    std::string tag = function;
    constexpr std::string_view anonymous = "`anonymous-namespace'";
    if (tag.compare(0, anonymous.size(), anonymous) == 0) {
        tag.erase(0, anonymous.size());
    }
    if (tag.size() > 7 && tag.ends_with("()")) {
        if (const auto lambda = tag.find("<lambda_"); lambda != std::string::npos) {
            tag = tag.substr(0, lambda + 7) + ">";
        }
    }
    return tag;
}

LoggerWin::LoggerWin() = default;

LoggerWin::~LoggerWin() {
    if (isOpen()) {
        logfNoFunction(bannerLevel(m_flags), "***  LOG AUTO-CLOSED ***");
    }
}

std::unique_ptr<FileContextBase> LoggerWin::createFileContext(const std::wstring& ns,
                                                              const std::wstring& component,
                                                              const std::wstring& logName,
                                                              int32_t defaultLevel,
                                                              uint32_t flags) {
    return std::make_unique<FileContext>(ns, component, logName, defaultLevel, flags);
}

void LoggerWin::open(const char* ns, const char* component, const char* logName,
                     int32_t defaultLevel, uint32_t flags) {
    tarn::LastErrorKeeper keep;
    try {
        const std::wstring wideNs = wideOrEmpty(ns);
        open(ns == nullptr ? nullptr : wideNs.c_str(), wideOrEmpty(component).c_str(),
             wideOrEmpty(logName).c_str(), defaultLevel, flags);
    } catch (...) {
        // Names that cannot be converted leave the log closed.
    }
}

void LoggerWin::open(const wchar_t* ns, const wchar_t* component, const wchar_t* logName,
                     int32_t defaultLevel, uint32_t flags) {
    tarn::LastErrorKeeper keep;
    bool banner = false;
    try {
        std::lock_guard lock(m_mutex);
        if (m_context) {
            return;
        }
        m_flags = flags;
        m_context =
            createFileContext(ns == nullptr ? L"" : ns, component == nullptr ? L"" : component,
                              logName == nullptr ? L"" : logName, defaultLevel, flags);
        if (!m_context) {
            return;
        }
        banner = reloadConfiguration();
        m_open = true;
    } catch (...) {
        return;
    }
    if (banner) {
        writeStartBanner();
    }
}

void LoggerWin::close() {
    tarn::LastErrorKeeper keep;
    if (!isOpen()) {
        return;
    }
    logfNoFunction(bannerLevel(m_flags), "***  LOGGING ENDED  ***");
    waitForWriter();
    std::lock_guard lock(m_mutex);
    m_open = false;
    m_configurationRead = false;
    m_context.reset();
}

void LoggerWin::flush() {
    tarn::LastErrorKeeper keep;
    waitForWriter();
    std::lock_guard lock(m_mutex);
    if (m_context) {
        m_context->flush();
    }
}

bool LoggerWin::configurationDue() const {
    return !m_configurationRead.load(std::memory_order_acquire) ||
           GetTickCount64() - m_lastConfigurationRead.load(std::memory_order_relaxed) >
               kReloadIntervalMs;
}

bool LoggerWin::reloadConfiguration() {
    const Configuration configuration = m_context->readConfiguration();
    setLevel(configuration.level);
    m_debugOutput = configuration.debugOutput;
    const bool established = m_context->establishLocation();
    m_lastConfigurationRead.store(GetTickCount64(), std::memory_order_relaxed);
    m_configurationRead.store(true, std::memory_order_release);
    return established;
}

bool LoggerWin::isEnabled(int32_t level) {
    tarn::LastErrorKeeper keep;
    if (isOpen() && configurationDue()) {
        bool banner = false;
        try {
            std::lock_guard lock(m_mutex);
            if (m_context && configurationDue()) {
                banner = reloadConfiguration();
            }
        } catch (...) {
            // The last configuration stays.
        }
        if (banner) {
            writeStartBanner();
        }
    }
    return level <= this->level();
}

bool LoggerWin::isDisabled(int32_t level) {
    return !isEnabled(level);
}

bool LoggerWin::wanted(int32_t level) const {
    return level <= this->level();
}

const char* LoggerWin::levelText(int32_t level) const {
    switch (level) {
        case LevelFatal:
            return "*F";
        case LevelError:
            return "*E";
        case LevelWarning:
            return ".W";
        case LevelInfo:
            return " I";
        case LevelDebug:
            return " D";
        case LevelVerbose:
            return " V";
        default:
            return "  ";
    }
}

int32_t LoggerWin::bannerLevel(uint32_t flags) const {
    return (flags & FlagDebugBanners) != 0 ? LevelDebug : LevelInfo;
}

void LoggerWin::writeStartBanner() {
    const uint32_t flags = m_flags;
    const int32_t level = bannerLevel(flags);
    if (!wanted(level)) {
        return;
    }
    enqueue("\r\n");
    const int offset = timeZoneOffsetMinutes();
    const int hours = offset / 60;
    const int minutes = std::abs(offset % 60);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    if ((flags & FlagUtcTimes) != 0) {
        logfNoFunction(level,
                       "***  LOGGING STARTED  *** (UTC+00:00, local:%+02d:%02d, session: 0x%x)",
                       hours, minutes, static_cast<unsigned>(session));
    } else {
        logfNoFunction(level, "***  LOGGING STARTED  *** (UTC%+02d:%02d, session: 0x%x)", hours,
                       minutes, static_cast<unsigned>(session));
    }
}

void LoggerWin::vlogf(int32_t level, const char* function, const char* format, va_list args) {
    tarn::LastErrorKeeper keep;
    if (!wanted(level) || format == nullptr) {
        return;
    }
    try {
        // The statement form passes its text as "%hs": taken as it is, without a copy through
        // the formatting buffers, with the same limit.
        if (std::strcmp(format, "%hs") == 0) {
            va_list copy;
            va_copy(copy, args);
            const char* text = va_arg(copy, const char*);
            va_end(copy);
            const std::string_view message = text != nullptr ? text : "(null)";
            if (message.size() >= kLargeBuffer) {
                writeTooLargeFailure(format);
            } else {
                emit(level, function, message);
            }
            return;
        }
        std::string message;
        if (!formatMessage(format, args, message)) {
            writeTooLargeFailure(format);
            return;
        }
        emit(level, function, message);
    } catch (...) {
        // Logging never throws; a line that cannot be made is lost.
    }
}

void LoggerWin::vlogf(int32_t level, const char* function, const wchar_t* format, va_list args) {
    tarn::LastErrorKeeper keep;
    if (!wanted(level) || format == nullptr) {
        return;
    }
    try {
        std::wstring message;
        if (!formatMessage(format, args, message)) {
            writeTooLargeFailure(tarn::str::toUtf8(format));
            return;
        }
        emit(level, function, tarn::str::toUtf8(message));
    } catch (...) {
    }
}

// The line that replaces a message too large to format; made without formatting, so that a
// huge format string cannot fail again.
void LoggerWin::writeTooLargeFailure(std::string_view format) {
    if (wanted(LevelError)) {
        std::string message = "TARN_PYX_LOG failure: too large message. Format: ";
        message += format;
        emit(LevelError, nullptr, message);
    }
}

void LoggerWin::logfNoFunction(int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlogf(level, nullptr, format, args);
    va_end(args);
}

void LoggerWin::logfNoFunction(int32_t level, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    vlogf(level, nullptr, format, args);
    va_end(args);
}

void LoggerWin::emit(int32_t level, const char* function, std::string_view message) {
    const std::string tag = trimTag(function);
    if (hasObserver()) {
        observe(level, tag, message);
    }
    const bool debugOutput = m_debugOutput.load(std::memory_order_relaxed);
    if (!isOpen() && !debugOutput) {
        return;
    }
    SYSTEMTIME time{};
    if ((m_flags & FlagUtcTimes) != 0) {
        GetSystemTime(&time);
    } else {
        GetLocalTime(&time);
    }
    // Both ids stay the same for the thread's life: asked for once.
    static const DWORD processId = GetCurrentProcessId();
    thread_local const DWORD threadId = GetCurrentThreadId();
    char prefix[96];
    const int length = std::snprintf(
        prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%04x.%04x] %s: ", time.wYear,
        time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds,
        static_cast<unsigned>(processId), static_cast<unsigned>(threadId), levelText(level));
    std::string line;
    line.reserve(static_cast<size_t>(length) + tag.size() + message.size() + 4);
    line.append(prefix, static_cast<size_t>(length));
    if (!tag.empty()) {
        line += tag;
        line += ": ";
    }
    line += message;
    line += "\r\n";
    if (debugOutput) {
        OutputDebugStringA(line.c_str());
    }
    enqueue(std::move(line));
}

void LoggerWin::enqueue(std::string line) {
    {
        std::lock_guard lock(m_pendingMutex);
        m_pending.push_back(std::move(line));
        if (m_writing) {
            return;
        }
        m_writing = true;
    }
    std::vector<std::string> batch;
    for (;;) {
        {
            std::lock_guard lock(m_pendingMutex);
            if (m_pending.empty()) {
                m_writing = false;
                m_writerDone.notify_all();
                return;
            }
            batch.swap(m_pending);
        }
        try {
            std::lock_guard lock(m_mutex);
            if (m_context) {
                m_context->writeLines(batch);
            }
        } catch (...) {
            // A batch that cannot be written is lost; the writer still hands over.
        }
        batch.clear();
    }
}

void LoggerWin::waitForWriter() {
    std::unique_lock lock(m_pendingMutex);
    m_writerDone.wait(lock, [this] { return !m_writing; });
}

}  // namespace TarnPyxLogging
