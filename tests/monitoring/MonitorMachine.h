// A simulated machine for the monitor: its logs and the spool in a folder of the test, a
// settings provider with the alert list, filters of managed rules in the filtering engine, and
// the lines that reach the monitor's two logs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Str.h"
#include "monitoring/WinFWEventMonitor.h"
#include "sim/registry_control.h"
#include "sim/wfp_control.h"
#include "standin/spool/Spool.h"
#include "tests/monitoring/FakeSettingsProvider.h"
#include "tests/support/TempDir.h"

namespace tarn::test {

// Collects the messages that reach one logger.
class LogLines {
public:
    explicit LogLines(TarnPyxLogging::Logger& log) : m_log(log) {
        m_log.setLineObserver([this](int32_t, std::string_view, std::string_view message) {
            std::lock_guard lock(m_mutex);
            m_messages.emplace_back(message);
        });
    }
    ~LogLines() { m_log.setLineObserver({}); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    size_t count(const std::string& text) const {
        std::lock_guard lock(m_mutex);
        size_t n = 0;
        for (const auto& message : m_messages) {
            n += message.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

private:
    TarnPyxLogging::Logger& m_log;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

class MonitorMachine : public ::testing::Test {
protected:
    static constexpr const wchar_t* kLogging = L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\PYX\\Logging";
    static constexpr const wchar_t* kNamespace = L"monitor-test";

    void SetUp() override {
        sim::registry::setString(kLogging, L"RootPath", m_root.path());
        sim::registry::setDword(kLogging, L"LogMaxSizeKB", 1u << 20);
        ASSERT_TRUE(SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", m_root.file(L"Spool").c_str()));
    }

    std::wstring logFile(const wchar_t* name) const {
        return m_root.path() + L"\\Tarn\\Log\\Firewall\\" + name + L".log";
    }
    // The messages of a log file's lines (after "tag: "), banners left out.
    std::vector<std::string> fileMessages(const wchar_t* name) const {
        const std::string content = readFile(logFile(name));
        std::vector<std::string> messages;
        size_t start = 0;
        for (size_t end; (end = content.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            const std::string line = content.substr(start, end - start);
            const size_t tag = line.find("WinFWEventMonitor::");
            if (tag != std::string::npos) {
                messages.push_back(line.substr(line.find(": ", tag) + 2));
            }
        }
        return messages;
    }
    std::vector<nlohmann::json> spooledAlerts() const {
        spool::Reader reader(spool::spoolPath(kNamespace));
        std::vector<nlohmann::json> alerts;
        for (const auto& line : reader.readNew().value_or(std::vector<std::string>{})) {
            alerts.push_back(nlohmann::json::parse(line));
        }
        return alerts;
    }

    TempDir m_root;
    std::shared_ptr<FakeSettingsProvider> m_provider = std::make_shared<FakeSettingsProvider>();
};

// A classify drop by a filter, as the engine records it.
inline sim::wfp::NetEvent dropBy(uint64_t filterId, uint16_t localPort = 0,
                                 uint16_t remotePort = 0) {
    sim::wfp::NetEvent event;
    event.type = FWPM_NET_EVENT_TYPE_CLASSIFY_DROP;
    event.flags = FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET | FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET |
                  FWPM_NET_EVENT_FLAG_IP_VERSION_SET | FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET |
                  FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET | FWPM_NET_EVENT_FLAG_IP_PROTOCOL_SET;
    event.ipProtocol = 6;
    event.localV4 = 0xC0A80105;
    event.remoteV4 = 0x0A000001;
    event.localPort = localPort;
    event.remotePort = remotePort;
    event.filterId = filterId;
    event.layerId = sim::wfp::kLayerAuthRecvAcceptV4.id;
    event.direction = FWP_DIRECTION_IN;
    return event;
}

}  // namespace tarn::test
