// Automatic profile selection on the simulated machine with the real settings provider and
// store: the host moves between networks, and the profile, the status and the Lanshare
// parameters follow. The scheduler's clock is the test's; a stand-in for the firewall
// controller makes one pass (current settings into the status) when a change reaches it.
#include <condition_variable>
#include <thread>

#include "profile_selection/AutomaticProfileSelection.h"
#include "sim/iphlp_control.h"
#include "tests/settings/ProviderTestSupport.h"

namespace {

using namespace std::chrono_literals;
namespace keys = tarn::keys;

constexpr const char* kProfiles = R"([
    {"profile_name": "office", "profile_visible_name": "Office", "rules": [{"name": "office rule"}]},
    {"profile_name": "public", "profile_visible_name": "Public", "rules": [{"name": "public rule"}]}])";

// The office network is a /22: only a comparison of whole addresses finds the host in it.
constexpr const char* kSelection = R"({"enabled": true, "rules": [
    {"priority": 2, "profile_name": "public", "method1": "always", "argument1": "",
     "method2": "always", "argument2": ""},
    {"priority": 1, "profile_name": "office", "method1": "my_network", "argument1": "10.20.6.*",
     "method2": "default_gateway_ip_address", "argument2": "10.20.4.1"}]})";

// Lanshare runs in the office network only: its discovery address is that network's broadcast.
constexpr const char* kLanshare =
    R"({"server_enabled": true, "client_enabled": true, "port": 8080,
        "discovery_address": "10.20.7.255"})";

// Stands in for the firewall controller: hears of changes and, when the test asks, makes the
// pass that writes the current settings into the status.
class ControllerStandIn : public tarn::test::RecordingDelegate {
public:
    explicit ControllerStandIn(IFWSettingsProvider& provider) : m_provider(provider) {}
    void pass() {
        m_provider.writeStatus(m_provider.getCurrentSettings(), false, FirewallGpoState{}, true);
    }

private:
    IFWSettingsProvider& m_provider;
};

class SelectionScenario : public tarn::test::ProviderTest {
protected:
    void SetUp() override {
        // The library's own Winsock start-up does not outlive the reset of the machine.
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        set(keys::kProfiles, kProfiles);
        set(keys::kAutomaticProfileSelection, kSelection);
        set(keys::kLanshare, kLanshare);
    }
    // Starts as the plug-in does on a host in that network: the provider, the snapshot
    // refreshed once, the selection, the provider's start; then the scheduler's loop runs, and
    // the full update of the start has run when this returns.
    void startOn(const char* setup) {
        sim::iphlp::useSetup(setup);
        settings = std::make_shared<FWSettings>(L"test", scheduler, tarn::makeSharedEvent());
        controller = std::make_shared<ControllerStandIn>(*settings);
        auto network = std::make_shared<NetworkSettings>();
        network->refresh();
        selection = std::make_shared<AutomaticProfileSelection>(scheduler, settings, network);
        ASSERT_TRUE(settings->start({selection, controller}));
        m_loop = std::thread([this] { scheduler.run(); });
        scheduler.settle();
        ASSERT_TRUE(controller->waitFor(keys::kCurrentAutoselectedProfileName));
    }
    ~SelectionScenario() override {
        scheduler.stop(false);
        if (m_loop.joinable()) {
            m_loop.join();
        }
        WSACleanup();
    }

    // One network poll: the clock moves to the next poll, the poll and the full update it
    // may schedule run.
    void nextPoll() {
        scheduler.advance(AutomaticProfileSelection::kNetworkPollPeriod);
        scheduler.settle();
        scheduler.settle();
    }
    std::string status() { return stored(keys::kStatusCurrentSecurityLevel).value_or("none"); }
    std::string lanshare() {
        return stored(keys::kLanshareAllowRulesPort).value_or("?") + " " +
               stored(keys::kLanshareAllowRulesServerEnabled).value_or("?") + " " +
               stored(keys::kLanshareAllowRulesClientEnabled).value_or("?") + " " +
               stored(keys::kLanshareAllowRulesSubnet).value_or("?");
    }

    std::shared_ptr<ControllerStandIn> controller;
    std::shared_ptr<AutomaticProfileSelection> selection;

private:
    std::thread m_loop;
};

TEST_F(SelectionScenario, MovingFromTheOfficeToAHotspotSwitchesTheProfileWithinOnePoll) {
    startOn("office-lan");
    controller->pass();
    EXPECT_EQ(status(), R"("office")");
    EXPECT_EQ(lanshare(), R"(8080 true true "10.20.4.1 10.20.7.254")");

    // Off to the hotspot: the next poll finds it, one pass of the controller shows it.
    sim::iphlp::useSetup("public-hotspot");
    nextPoll();
    ASSERT_TRUE(controller->waitFor(keys::kCurrentAutoselectedProfileName, 2));
    controller->pass();
    EXPECT_EQ(status(), R"("public")");
    EXPECT_EQ(settings->getCurrentProfileName(), L"public");
    EXPECT_EQ(lanshare(), R"(-1 false false "")") << "Lanshare stays in the office";
    std::vector<std::wstring> resolved;
    EXPECT_EQ(tarn::test::namesOf(settings->getCurrentRules(resolved, {})),
              std::vector<std::wstring>{L"public rule"});

    // Back in the office over the VPN: still the office network and its gateway.
    sim::iphlp::useSetup("office-lan+vpn");
    nextPoll();
    ASSERT_TRUE(controller->waitFor(keys::kCurrentAutoselectedProfileName, 3));
    controller->pass();
    EXPECT_EQ(status(), R"("office")");
    EXPECT_EQ(tarn::test::namesOf(settings->getCurrentRules(resolved, {})),
              (std::vector<std::wstring>{L"office rule", L"Tarn Lanshare (TCP 8080:in)",
                                         L"Tarn Lanshare (UDP 8080:in)",
                                         L"Tarn Lanshare (UDP 8080:out)"}));
}

TEST_F(SelectionScenario, LosingEveryNetworkKeepsTheLastChoice) {
    startOn("home-wifi");
    EXPECT_EQ(stored(keys::kCurrentAutoselectedProfileName), R"("public")");
    const size_t written = controller->countOf(keys::kCurrentAutoselectedProfileName);

    sim::iphlp::useSetup("no-network");
    nextPoll();
    sim::iphlp::useSetup("office-lan");  // not polled yet
    controller->pass();
    EXPECT_EQ(status(), R"("public")");
    EXPECT_EQ(stored(keys::kCurrentAutoselectedProfileName), R"("public")");
    EXPECT_EQ(controller->countOf(keys::kCurrentAutoselectedProfileName), written);

    nextPoll();
    ASSERT_TRUE(controller->waitFor(keys::kCurrentAutoselectedProfileName, written + 1));
    controller->pass();
    EXPECT_EQ(status(), R"("office")");
}

TEST_F(SelectionScenario, ALockedCurrentProfileNameKeepsTheSelection) {
    startOn("office-lan");
    set(keys::kCurrentProfileName, R"("office")");
    ASSERT_TRUE(controller->waitFor(keys::kCurrentProfileName));
    ASSERT_EQ(PyxOrrery_SetConstraints(store.get(), keys::kCurrentProfileName,
                                       PYX_ORRERY_CONSTRAINT_READ_ONLY),
              0);
    set(keys::kCurrentProfileNameChangedByUser, "true");
    ASSERT_TRUE(controller->waitFor(keys::kCurrentProfileNameChangedByUser));
    // The management picks a profile by hand; the name is locked, so the choice is taken back
    // and the selection stays in force.
    const tarn::UniqueOrreryHandle management(
        PyxOrrery_OpenHandleEx(L"test", L"S-1-5-18", L"management", 0, PYX_ORRERY_OPEN_MANAGEMENT));
    ASSERT_TRUE(management);
    ASSERT_EQ(PyxOrrery_SetString(management.get(), keys::kCurrentProfileName, L"public"), 0);
    ASSERT_TRUE(controller->waitFor(keys::kCurrentProfileName, 2));
    ASSERT_TRUE(controller->waitFor(keys::kCurrentProfileNameChangedByUser, 2));
    EXPECT_EQ(stored(keys::kCurrentProfileNameChangedByUser), "false");
    controller->pass();
    EXPECT_EQ(status(), R"("office")");
}

TEST_F(SelectionScenario, IsolationClearsTheLanshareRules) {
    startOn("office-lan");
    ASSERT_EQ(lanshare(), R"(8080 true true "10.20.4.1 10.20.7.254")");
    const size_t before = controller->countOf(keys::kLanshareAllowRulesPort);
    set(keys::kNetworkIsolationEnabled, "true");
    ASSERT_TRUE(controller->waitFor(keys::kNetworkIsolationEnabled));
    scheduler.settle();  // the full update that the change scheduled
    ASSERT_TRUE(controller->waitFor(keys::kLanshareAllowRulesSubnet, before + 1));
    EXPECT_EQ(lanshare(), R"(-1 false false "")");
}

}  // namespace
