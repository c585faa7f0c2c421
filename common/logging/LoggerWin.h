// The file logger: one rotating log file per component, written by every process of the
// product under a named mutex, with its level, size limit and debugger-output switch read from
// the registry and re-read at most once a minute.
//
// Besides the process-wide main log (logger()), components keep logs of their own:
//
//   TarnPyxLogging::LoggerWin blocks;
//   blocks.open(nullptr, L"Firewall", L"Blocks", TarnPyxLogging::LevelInfo, 0);
//   TARN_LOG_TO(blocks, TarnPyxLogging::LevelInfo) << "Blocked: " << name;
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/logging/FileContext.h"
#include "common/logging/Logger.h"

namespace TarnPyxLogging {

class LoggerWin : public Logger {
public:
    LoggerWin();
    // Writes "***  LOG AUTO-CLOSED ***" when still open.
    ~LoggerWin() override;
    LoggerWin(const LoggerWin&) = delete;
    LoggerWin& operator=(const LoggerWin&) = delete;

    void open(const char* ns, const char* component, const char* logName, int32_t defaultLevel,
              uint32_t flags) override;
    void open(const wchar_t* ns, const wchar_t* component, const wchar_t* logName,
              int32_t defaultLevel, uint32_t flags) override;
    void close() override;
    void flush() override;
    void vlogf(int32_t level, const char* function, const wchar_t* format, va_list args) override;
    void vlogf(int32_t level, const char* function, const char* format, va_list args) override;
    bool isEnabled(int32_t level) override;
    bool isDisabled(int32_t level) override;
    const char* levelText(int32_t level) const override;
    int32_t bannerLevel(uint32_t flags) const override;
    void logfNoFunction(int32_t level, const char* format, ...) override;
    void logfNoFunction(int32_t level, const wchar_t* format, ...) override;

    bool isOpen() const { return m_open.load(std::memory_order_acquire); }

protected:
    virtual std::unique_ptr<FileContextBase> createFileContext(const std::wstring& ns,
                                                               const std::wstring& component,
                                                               const std::wstring& logName,
                                                               int32_t defaultLevel,
                                                               uint32_t flags);

private:
    bool configurationDue() const;
    // Under m_mutex: reads the configuration through the file context; true when the start
    // banner is due.
    bool reloadConfiguration();
    void writeStartBanner();
    void writeTooLargeFailure(std::string_view format);
    void emit(int32_t level, const char* function, std::string_view message);
    // Hands a finished line to the file (see m_pending).
    void enqueue(std::string line);
    // Waits until no thread writes queued lines.
    void waitForWriter();
    bool wanted(int32_t level) const;

    std::atomic<bool> m_debugOutput{false};
    std::atomic<uint32_t> m_flags{0};
    std::mutex m_mutex;  // guards the file context and the configuration reload
    std::unique_ptr<FileContextBase> m_context;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_configurationRead{false};
    std::atomic<uint64_t> m_lastConfigurationRead{0};  // GetTickCount64

    // Lines on their way to the file. A thread that finds no writer at work becomes the
    // writer: it writes what is queued, its own line and those that other threads queue
    // meanwhile, one batch per cross-process lock and file write, until the queue is empty.
    // The other threads return at once; their lines are in the file before the writer leaves.
    std::mutex m_pendingMutex;
    std::condition_variable m_writerDone;
    std::vector<std::string> m_pending;
    bool m_writing = false;
};

// The tag of a line from the function name given with it: empty for none, without a leading
// "`anonymous-namespace'", and "<lambda_1>::operator ()" shortened to "<lambda>".
std::string trimTag(const char* function);

}  // namespace TarnPyxLogging
