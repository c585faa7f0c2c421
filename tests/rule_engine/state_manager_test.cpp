// The network profiles' defaults: saved before the first change, applied as dictated,
// restored when management ends.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "control/FwStateManager.h"
#include "rules/ComErrors.h"
#include "tests/rules/LogLines.h"

namespace tarn::test {
namespace {

using sim::firewall::ProfileSettings;

class StateManagerTest : public EngineTest {
protected:
    FWCurrentSettings current;
    FwStateManager state{provider, holder, &current};
};

TEST_F(StateManagerTest, TheFirstPassSavesWindowsValuesBeforeWritingAny) {
    sim::firewall::setProfile(1, {true, true, true, true, 1, 0});
    current.networkDefaults.public_network.allow_unknown_inbound = true;
    state.applyNetworkSettings(current);
    EXPECT_EQ(provider->storedOldSettings, 1);
    const FWProfileDefaults& savedDomain = provider->oldSettings.domain_network;
    EXPECT_TRUE(savedDomain.block_all_inbound);
    EXPECT_TRUE(savedDomain.allow_unknown_inbound);
    EXPECT_FALSE(savedDomain.allow_unknown_outbound);
    EXPECT_FALSE(savedDomain.allow_interactive_notifications);
    EXPECT_FALSE(savedDomain.allow_unicast_responses_to_multicast);
    EXPECT_EQ(provider->oldSettings.public_network, FWProfileDefaults{});
    EXPECT_EQ(sim::firewall::profile(1), ProfileSettings{});
    EXPECT_EQ(sim::firewall::profile(4).defaultInboundAction, 1);
    provider->firewallEnabledStatus = true;
    state.applyNetworkSettings(current);
    EXPECT_EQ(provider->storedOldSettings, 1);  // saved only at the transition
}

TEST_F(StateManagerTest, SwitchingOffRestoresTheSavedValuesOnly) {
    provider->firewallEnabledStatus = true;
    provider->oldSettings.private_network.fw_enabled = false;
    provider->oldSettings.private_network.block_all_inbound = true;
    current.firewallEnabled = false;
    current.networkDefaults.public_network.allow_unknown_outbound = false;
    state.applyNetworkSettings(current);
    EXPECT_FALSE(sim::firewall::profile(2).firewallEnabled);
    EXPECT_TRUE(sim::firewall::profile(2).blockAllInboundTraffic);
    EXPECT_EQ(sim::firewall::profile(4).defaultOutboundAction, 1);
    // Restoring writes all six, profile by profile: public, private, domain.
    std::vector<std::string> calls;
    for (const auto& line : log.lines()) {
        if (line.message.rfind("Call put_FirewallEnabled(", 0) == 0) {
            calls.push_back(line.message);
        }
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"Call put_FirewallEnabled(public_network, true)",
                                               "Call put_FirewallEnabled(private_network, false)",
                                               "Call put_FirewallEnabled(domain_network, true)"}));
    EXPECT_TRUE(log.contains("Restore fw settings from ORRERY", 4));
}

TEST_F(StateManagerTest, AProfileSwitchedOffKeepsItsOtherProperties) {
    provider->firewallEnabledStatus = true;
    sim::firewall::setProfile(2, {true, true, false, false, 1, 1});
    current.networkDefaults.private_network.fw_enabled = false;
    const auto [writes, reads] = writesAndReads([&] { state.applyNetworkSettings(current); });
    EXPECT_EQ(sim::firewall::profile(2), (ProfileSettings{false, true, false, false, 1, 1}));
    EXPECT_EQ(writes, 1u + 6u + 6u);
    current.networkDefaults.private_network.fw_enabled = true;
    current.winfwEnabled = false;
    const auto [offWrites, offReads] = writesAndReads([&] { state.applyNetworkSettings(current); });
    EXPECT_EQ(offWrites, 3u);
    for (int32_t profile : {1, 2, 4}) {
        EXPECT_FALSE(sim::firewall::profile(profile).firewallEnabled) << profile;
    }
}

TEST_F(StateManagerTest, AFailingPutIsLoggedAndTheNextPropertyStillWritten) {
    provider->firewallEnabledStatus = true;
    sim::failCall("INetFwPolicy2::put_BlockAllInboundTraffic", 1, E_ACCESSDENIED);
    current.networkDefaults.public_network.allow_unknown_inbound = true;
    state.applyNetworkSettings(current);
    const std::wstring text = comErrorMessage(E_ACCESSDENIED);
    EXPECT_TRUE(logged(
        log, 2, "FwStateManager::applyDefaultNetworkSettings",
        "put_BlockAllInboundTraffic failed with error: " + std::string(text.begin(), text.end())))
        << log.dump();
    EXPECT_EQ(sim::firewall::profile(4).defaultInboundAction, 1);
}

TEST_F(StateManagerTest, AFailingReadKeepsTheDefaultOfThatField) {
    sim::firewall::setProfile(4, {false, true, true, true, 1, 0});
    sim::failCall("INetFwPolicy2::get_FirewallEnabled", 1, E_FAIL);
    state.applyNetworkSettings(current);
    EXPECT_TRUE(provider->oldSettings.public_network.fw_enabled);  // the default
    EXPECT_TRUE(provider->oldSettings.public_network.block_all_inbound);
    EXPECT_TRUE(log.contains("get_FirewallEnabled failed with error: ", 2));
}

TEST_F(StateManagerTest, WithoutAPolicyNothingIsReadOrWritten) {
    holder->beSureThatInterfaceIsAlive(false);
    state.applyNetworkSettings(current);
    EXPECT_EQ(provider->storedOldSettings, 0);
    EXPECT_TRUE(log.contains("FW policy pointer is invalid", 3));
    EXPECT_EQ(sim::firewall::writes(), 0u);
}

}  // namespace
}  // namespace tarn::test
