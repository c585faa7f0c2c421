// The plug-in object's life: the online-store wait, creation and start order, the scheduler
// loop, the shut-down order, failed starts and stops at any moment.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "plugin/FWCarrierPlugin.h"
#include "settings_store/OrreryKeys.h"
#include "sim/machine.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/plugin/PluginTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::LogCapture;

constexpr const wchar_t* kNamespace = L"test";

// What happened to the collaborators, in order, from any thread.
class Journal {
public:
    void add(const std::string& event) {
        const std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    std::vector<std::string> events() const {
        const std::lock_guard lock(m_mutex);
        return m_events;
    }
    bool has(const std::string& event) const {
        const auto all = events();
        return std::find(all.begin(), all.end(), event) != all.end();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

class FakeController : public FirewallController {
public:
    FakeController(Journal& journal, bool startResult, tarn::SharedEvent stopEvent)
        : FirewallController(kNamespace, std::move(stopEvent)),
          m_journal(journal),
          m_startResult(startResult) {}
    ~FakeController() override { m_journal.add("~controller"); }
    void onFWSettingChanged(const std::wstring&) override {}
    bool start(std::shared_ptr<IFWSettingsProvider> provider) override {
        m_journal.add(provider ? "controller.start" : "controller.start without provider");
        return m_startResult;
    }
    void stop() override {
        m_journal.add("controller.stop");
        FirewallController::stop();
    }

private:
    Journal& m_journal;
    bool m_startResult;
};

class RecordingSettings : public FWSettings {
public:
    RecordingSettings(Journal& journal, Tarn::TaskScheduler& scheduler, tarn::SharedEvent stop)
        : FWSettings(kNamespace, scheduler, std::move(stop)), m_journal(journal) {}
    ~RecordingSettings() override { m_journal.add("~settings"); }
    void stop() override {
        m_journal.add("settings.stop");
        FWSettings::stop();
    }

private:
    Journal& m_journal;
};

class RecordingNetwork : public NetworkSettings {
public:
    explicit RecordingNetwork(Journal& journal) : m_journal(journal) {}
    ~RecordingNetwork() override { m_journal.add("~network"); }

private:
    Journal& m_journal;
};

class RecordingSelection : public AutomaticProfileSelection {
public:
    RecordingSelection(Journal& journal, Tarn::TaskScheduler& scheduler,
                       std::shared_ptr<IFWSettingsProvider> provider,
                       std::shared_ptr<NetworkSettings> network)
        : AutomaticProfileSelection(scheduler, std::move(provider), std::move(network)),
          m_journal(journal) {}
    ~RecordingSelection() override { m_journal.add("~selection"); }

private:
    Journal& m_journal;
};

class TestPlugin : public FWCarrierPlugin {
public:
    explicit TestPlugin(Journal& journal, bool controllerStarts = true)
        : m_journal(journal), m_controllerStarts(controllerStarts) {
        setNamespaceName(kNamespace);
    }

    std::weak_ptr<FakeController> controller;
    std::weak_ptr<FWSettings> settings;

protected:
    std::shared_ptr<FirewallController> createWinFW() override {
        m_journal.add("create controller");
        auto created = std::make_shared<FakeController>(m_journal, m_controllerStarts, stopEvent());
        controller = created;
        return created;
    }
    std::shared_ptr<FWSettings> createFWSettings() override {
        m_journal.add("create settings");
        auto created = std::make_shared<RecordingSettings>(m_journal, scheduler(), stopEvent());
        settings = created;
        return created;
    }
    std::shared_ptr<NetworkSettings> createNetworkSettings() override {
        m_journal.add("create network");
        auto created = std::make_shared<RecordingNetwork>(m_journal);
        created->refresh();
        return created;
    }
    std::shared_ptr<AutomaticProfileSelection> createAutomaticProfileSelection(
        std::shared_ptr<FWSettings> fwSettings, std::shared_ptr<NetworkSettings> network) override {
        m_journal.add("create selection");
        return std::make_shared<RecordingSelection>(m_journal, scheduler(), std::move(fwSettings),
                                                    std::move(network));
    }
    std::chrono::milliseconds getOnlineWaitInterval() const override { return 20ms; }
    tarn::DelayLoader& libraryLoader() override { return m_loader; }

private:
    tarn::DelayLoader m_loader;
    Journal& m_journal;
    bool m_controllerStarts;
};

class PluginLifecycle : public ::testing::Test {
protected:
    void SetUp() override { tarn::test::installMakerLibraries(kNamespace); }

    void setStore(const std::wstring& key, bool value) {
        auto store = m_store.open(kNamespace);
        ASSERT_EQ(PyxOrrery_SetBool(store.get(), key.c_str(), value ? 1 : 0), 0);
    }
    void markOnline() {
        auto store = m_store.open(kNamespace);
        ASSERT_EQ(
            PyxOrrery_SetInt64(store.get(), tarn::keys::kLastSuccessfulUpdateTimestamp, 1765000000),
            0);
    }
    // Runs PluginMain on a thread of its own, as the host does.
    static std::future<uint32_t> runMain(TarnCarrierPlugin& plugin) {
        return std::async(std::launch::async, [&plugin] { return plugin.PluginMain(); });
    }
    static bool ended(std::future<uint32_t>& main, std::chrono::milliseconds within = 1000ms) {
        return main.wait_for(within) == std::future_status::ready;
    }
    // Waits until the journal has the event (the plug-in's threads write it).
    static bool eventually(const Journal& journal, const std::string& event) {
        for (int i = 0; i < 500 && !journal.has(event); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return journal.has(event);
    }

    tarn::test::StoreRoot m_store;
};

TEST_F(PluginLifecycle, InitialiseFailsWhenTheStoreLibraryIsMissing) {
    tarn::test::uninstallMakerLibraries();
    Journal journal;
    TestPlugin plugin(journal);
    LogCapture log;
    EXPECT_EQ(plugin.PluginInitialize(), 1u);
    EXPECT_TRUE(log.contains("Failed to delay load orrery library!", 2)) << log.dump();
    EXPECT_EQ(plugin.PluginMain(), 1u) << "main does not run without the store library";
    EXPECT_TRUE(journal.events().empty());
}

TEST_F(PluginLifecycle, AMissingAlertLibraryFailsTheStartBeforeAnythingIsCreated) {
    tarn::test::installMakerLibraries(kNamespace, {true, false, true});
    setStore(tarn::keys::kRequireOnlineOrreryProfile, false);
    Journal journal;
    TestPlugin plugin(journal);
    ASSERT_EQ(plugin.PluginInitialize(), 0u);
    LogCapture log;
    EXPECT_EQ(plugin.PluginMain(), 1u);
    EXPECT_TRUE(log.contains("tarn_alert_api_32.dll", 2)) << log.dump();
    EXPECT_TRUE(log.contains("Failed to start!", 2));
    EXPECT_TRUE(journal.events().empty());
}

TEST_F(PluginLifecycle, AStopBeforeMainEndsTheOnlineWaitAtOnceWithoutCreatingAnything) {
    Journal journal;
    TestPlugin plugin(journal);
    ASSERT_EQ(plugin.PluginInitialize(), 0u);
    LogCapture log;
    plugin.PluginStop();
    auto main = runMain(plugin);
    ASSERT_TRUE(ended(main));
    EXPECT_EQ(main.get(), 0u);
    EXPECT_TRUE(log.contains("Stop signaled", 4));
    EXPECT_TRUE(log.contains("Exiting before orrery is connected", 4)) << log.dump();
    EXPECT_TRUE(journal.events().empty());
}

TEST_F(PluginLifecycle, TheStartWaitsForTheFirstOnlineUpdateThenStartsInOrderAndStopsInOrder) {
    Journal journal;
    TestPlugin plugin(journal);
    ASSERT_EQ(plugin.PluginInitialize(), 0u);
    LogCapture log;
    auto main = runMain(plugin);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(journal.events().empty()) << "a timestamp of 0 keeps the plug-in waiting";

    markOnline();
    ASSERT_TRUE(eventually(journal, "controller.start")) << log.dump();
    plugin.PluginStop();
    ASSERT_TRUE(ended(main));
    EXPECT_EQ(main.get(), 0u);
    EXPECT_TRUE(log.contains("Stopped", 4)) << log.dump();
    EXPECT_TRUE(log.contains("Binary version: 2.30.16.0, compilation time: ", 4));
    const std::vector<std::string> expected = {
        "create settings",  "create network",  "create controller", "create selection",
        "controller.start", "controller.stop", "settings.stop",     "~controller",
        "~selection",       "~settings",       "~network"};
    EXPECT_EQ(journal.events(), expected);
}

TEST_F(PluginLifecycle, AFailedStartStopsAndReleasesEverythingAndReturnsOne) {
    setStore(tarn::keys::kRequireOnlineOrreryProfile, false);
    Journal journal;
    TestPlugin plugin(journal, false);
    ASSERT_EQ(plugin.PluginInitialize(), 0u);
    LogCapture log;
    EXPECT_EQ(plugin.PluginMain(), 1u);
    EXPECT_TRUE(log.contains("Failed to start!", 2)) << log.dump();
    EXPECT_TRUE(plugin.controller.expired());
    EXPECT_TRUE(plugin.settings.expired());
    for (const char* event : {"controller.stop", "settings.stop", "~controller", "~selection",
                              "~settings", "~network"}) {
        EXPECT_TRUE(journal.has(event)) << event;
    }
}

TEST_F(PluginLifecycle, StopEndsMainWithinASecondInTheOnlineWaitAndInTheLoop) {
    for (const bool online : {false, true}) {
        SCOPED_TRACE(online ? "scheduler loop" : "online wait");
        if (online) {
            markOnline();
        }
        Journal journal;
        TestPlugin plugin(journal);
        ASSERT_EQ(plugin.PluginInitialize(), 0u);
        auto main = runMain(plugin);
        if (online) {
            ASSERT_TRUE(eventually(journal, "controller.start"));
        } else {
            std::this_thread::sleep_for(50ms);
        }
        plugin.PluginStop();
        ASSERT_TRUE(ended(main));
        EXPECT_EQ(main.get(), 0u);
    }
}

// Stops at random moments of the start-up and the loop: every run ends, with nothing left.
TEST_F(PluginLifecycle, StopsAtRandomMomentsAlwaysEndMainAndReleaseEverything) {
    setStore(tarn::keys::kRequireOnlineOrreryProfile, false);
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> delayUs(0, 20000);
    for (int run = 0; run < 200; ++run) {
        Journal journal;
        TestPlugin plugin(journal);
        ASSERT_EQ(plugin.PluginInitialize(), 0u);
        auto main = runMain(plugin);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        plugin.PluginStop();
        ASSERT_TRUE(ended(main, 5000ms)) << "run " << run;
        EXPECT_EQ(main.get(), 0u) << "run " << run;
        EXPECT_TRUE(plugin.controller.expired()) << "run " << run;
        EXPECT_TRUE(plugin.settings.expired()) << "run " << run;
    }
}

}  // namespace
