// The whole controller on the simulated machine: a settings store written as the management
// writes it, the settings model on it with a scheduler whose clock the test moves, and WinFW
// with Windows' own collaborators (simulated firewall, filtering engine, services, sessions).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "control/WinFW.h"
#include "settings/FWSettings.h"
#include "sim/firewall_control.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/services_control.h"
#include "sim/sessions_control.h"
#include "standin/spool/Spool.h"
#include "tests/settings/ProviderTestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace tarn::test {

// The settings model, counting its status writes so that a test can wait for a pass's end.
class CountingSettings : public FWSettings {
public:
    using FWSettings::FWSettings;
    void writeStatus(const FWCurrentSettings& settings, bool isolationActive,
                     const FirewallGpoState& gpoState, bool serviceRunning) override {
        FWSettings::writeStatus(settings, isolationActive, gpoState, serviceRunning);
        std::lock_guard lock(m_mutex);
        ++m_statusWrites;
        m_lastServiceRunning = serviceRunning;
        m_written.notify_all();
    }
    size_t statusWrites() {
        std::lock_guard lock(m_mutex);
        return m_statusWrites;
    }
    // Waits until the status was written more than `before` times (10 s at most).
    bool waitForStatusAfter(size_t before) {
        std::unique_lock lock(m_mutex);
        return m_written.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_statusWrites > before; });
    }
    bool lastServiceRunning() {
        std::lock_guard lock(m_mutex);
        return m_lastServiceRunning;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_written;
    size_t m_statusWrites = 0;
    bool m_lastServiceRunning = false;
};

// Polls quickly while the firewall service is down, so that tests need not wait 20 s.
class TestWinFW : public WinFW {
public:
    using WinFW::WinFW;

protected:
    std::chrono::milliseconds policyPollInterval() const override {
        return std::chrono::milliseconds(20);
    }
};

inline std::vector<std::wstring> firewallRuleNames() {
    std::vector<std::wstring> names;
    for (const auto& rule : sim::firewall::rules()) {
        names.push_back(rule.name);
    }
    return names;
}

inline bool hasRule(const std::wstring& name) {
    return sim::firewall::findRule(name).has_value();
}

// A profile "office" with the given rules (JSON texts of rule objects).
inline std::string profilesWith(const std::vector<std::string>& rules,
                                const std::string& defaults = "{}") {
    std::string json = R"([{"profile_name":"office","profile_visible_name":"Office",)"
                       R"("allow_other_rules":true,"defaults":)" +
                       defaults + R"(,"rules":[)";
    for (size_t i = 0; i < rules.size(); ++i) {
        json += (i > 0 ? "," : "") + rules[i];
    }
    return json + "]}]";
}

inline std::string allowRule(const std::string& name, int port) {
    return R"({"name":")" + name +
           R"(","enabled":true,"protocol":"6","direction":"in","action":"allow",)"
           R"("network_type":"all","local_ports":")" +
           std::to_string(port) + R"("})";
}

class ControllerMachine : public ::testing::Test {
protected:
    static constexpr const wchar_t* kNamespace = L"test";
    static constexpr const wchar_t* kPyxKey = L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\test\\PYX";

    ControllerMachine() {
        SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", spoolRoot.path().c_str());
        loop = std::thread([this] { scheduler.run(); });
    }
    ~ControllerMachine() override {
        stopController();
        scheduler.stop(true);
        loop.join();
        SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", nullptr);
    }

    // The management's policy, then the settings model and the controller.
    void startController(const std::vector<std::string>& rules = {allowRule("Office: RDP", 3389)},
                         const std::string& defaults = "{}") {
        set(keys::kFirewallEnabled, "true");
        set(keys::kCurrentProfileName, R"("office")");
        set(keys::kProfiles, profilesWith(rules, defaults));
        settings = std::make_shared<CountingSettings>(kNamespace, scheduler, stopEvent);
        winfw = std::make_shared<TestWinFW>(kNamespace, stopEvent);
        ASSERT_TRUE(settings->start({winfw}));
        ASSERT_TRUE(winfw->start(settings));
        ASSERT_TRUE(settings->waitForStatusAfter(0)) << log.dump();
    }
    void stopController() {
        if (winfw) {
            winfw->stop();
            winfw.reset();
        }
        if (settings) {
            settings->stop();
            settings.reset();
        }
    }
    void set(const std::wstring& key, const std::string& json) {
        ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(store.get(), key.c_str(), json.c_str()), 0)
            << str::toUtf8(key) << " = " << json;
    }
    std::optional<std::string> stored(const std::wstring& key) {
        return storedJson(store.get(), key);
    }
    // Writes a key and waits for the pass that it causes.
    void setAndWait(const std::wstring& key, const std::string& json) {
        const size_t before = settings->statusWrites();
        set(key, json);
        ASSERT_TRUE(settings->waitForStatusAfter(before)) << str::toUtf8(key);
    }
    // A full re-application, as the settings model's trigger asks for it (each value new, so
    // that the store reports it).
    void reapplyAll() { setAndWait(keys::kTriggerSettingsReapply, std::to_string(++m_triggers)); }
    // Writes the isolation settings and re-applies until the status shows isolation in force or
    // not (it follows the status of the pass before, so it takes a second pass).
    void setIsolation(const std::string& json, bool active) {
        setAndWait(keys::kNetworkIsolation, json);
        const std::string expected = active ? "true" : "false";
        ASSERT_TRUE(eventually([&] {
            if (stored(keys::kStatusNetworkIsolationEnabled) == expected) {
                return true;
            }
            reapplyAll();
            return false;
        })) << log.dump();
    }
    // Lets the settings model's delayed triggers run.
    void runTriggers() {
        scheduler.advance(std::chrono::seconds(6));
        scheduler.settle();
    }
    // The event types that reached the namespace's spool.
    std::vector<std::string> spooledEvents() {
        std::vector<std::string> types;
        tarn::spool::Reader reader(tarn::spool::spoolPath(kNamespace));
        for (const auto& line : reader.readNew().value_or(std::vector<std::string>{})) {
            const auto json = nlohmann::json::parse(line, nullptr, false);
            if (json.is_object() && json.value("source", "") == "event") {
                types.push_back(json.value("type", ""));
            }
        }
        return types;
    }

    // A fresh machine before anything below is made on it.
    struct FreshMachine {
        FreshMachine() { sim::reset(); }
    } fresh;
    LogCapture log{5};
    TempDir spoolRoot;
    StoreRoot root;
    UniqueOrreryHandle store = root.open(kNamespace);
    FakeClockScheduler scheduler;
    std::thread loop;
    SharedEvent stopEvent = makeSharedEvent();
    std::shared_ptr<CountingSettings> settings;
    std::shared_ptr<TestWinFW> winfw;

private:
    int m_triggers = 0;
};

}  // namespace tarn::test
