// A file logger for tests: its files go below a given folder and its configuration comes from a
// given registry key (HKLM, 32-bit view), so that tests run next to each other and next to the
// product on a real machine.
#pragma once

#include <memory>
#include <string>

#include "common/logging/LoggerWin.h"

namespace tarn::test {

class RootedContext : public TarnPyxLogging::FileContext {
public:
    RootedContext(std::wstring root, std::wstring configurationKey, uint32_t mutexWaitMs,
                  const std::wstring& ns, const std::wstring& component,
                  const std::wstring& logName, int32_t defaultLevel, uint32_t flags)
        : FileContext(ns, component, logName, defaultLevel, flags),
          m_root(std::move(root)),
          m_key(std::move(configurationKey)) {
        m_mutexWaitMs = mutexWaitMs;
    }

protected:
    std::wstring rootPath() override { return m_root; }
    std::wstring configurationKey() const override { return m_key; }

private:
    std::wstring m_root;
    std::wstring m_key;
};

class RootedLogger : public TarnPyxLogging::LoggerWin {
public:
    RootedLogger(std::wstring root, std::wstring configurationKey, uint32_t mutexWaitMs = 500)
        : m_root(std::move(root)), m_key(std::move(configurationKey)), m_wait(mutexWaitMs) {}

protected:
    std::unique_ptr<TarnPyxLogging::FileContextBase> createFileContext(
        const std::wstring& ns, const std::wstring& component, const std::wstring& logName,
        int32_t defaultLevel, uint32_t flags) override {
        return std::make_unique<RootedContext>(m_root, m_key, m_wait, ns, component, logName,
                                               defaultLevel, flags);
    }

private:
    std::wstring m_root;
    std::wstring m_key;
    uint32_t m_wait;
};

}  // namespace tarn::test
