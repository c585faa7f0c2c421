// The network defaults record: defaults, JSON reading and writing, and profile reading.
#include <gtest/gtest.h>

#include "control/FWNetworkDefaultsSettings.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

using nlohmann::json;

FWProfileDefaults profile(bool fw, bool block, bool in, bool out, bool notify, bool unicast) {
    return {fw, block, in, out, notify, unicast};
}

const FWProfileDefaults kDefaults = profile(true, false, false, true, true, true);
const FWProfileDefaults kIsolated = profile(true, false, false, false, true, true);

TEST(FWNetworkDefaultsSettings, ReadsEachProfileOntoItsDefaults) {
    const struct {
        const char* text;
        FWProfileDefaults publicNetwork;
        FWProfileDefaults privateNetwork;
        FWProfileDefaults domainNetwork;
    } cases[] = {
        {R"({})", kDefaults, kDefaults, kDefaults},
        {R"([1,2])", kDefaults, kDefaults, kDefaults},
        {R"({"public_network":{"block_all_inbound":true}})",
         profile(true, true, false, true, true, true), kDefaults, kDefaults},
        {R"({"private_network":5,"domain_network":{"fw_enabled":false,"allow_unknown_inbound":true,
            "allow_unknown_outbound":false,"allow_interactive_notifications":false,
            "allow_unicast_responses_to_multicast":false}})",
         kDefaults, kDefaults, profile(false, false, true, false, false, false)},
    };
    for (const auto& c : cases) {
        const auto read = json::parse(c.text).get<FWNetworkDefaultsSettings>();
        EXPECT_EQ(read.public_network, c.publicNetwork) << c.text;
        EXPECT_EQ(read.private_network, c.privateNetwork) << c.text;
        EXPECT_EQ(read.domain_network, c.domainNetwork) << c.text;
    }
}

TEST(FWNetworkDefaultsSettings, AValueOfTheWrongTypeFailsTheWholeRead) {
    try {
        json::parse(R"({"public_network":{"fw_enabled":"yes"}})").get<FWNetworkDefaultsSettings>();
        FAIL() << "no type error";
    } catch (const json::type_error& e) {
        EXPECT_EQ(e.id, 302);
        EXPECT_NE(std::string(e.what()).find("type must be boolean, but is string"),
                  std::string::npos);
    }
}

TEST(FWNetworkDefaultsSettings, WritesEverythingAndReadsItBack) {
    FWNetworkDefaultsSettings settings;
    settings.domain_network.allow_unknown_inbound = true;
    settings.public_network.allow_interactive_notifications = false;
    const json written = settings;
    for (const char* name : {"public_network", "private_network", "domain_network"}) {
        ASSERT_TRUE(written.contains(name));
        EXPECT_EQ(written[name].size(), 6u);
    }
    EXPECT_EQ(written["domain_network"]["allow_unknown_inbound"], true);
    EXPECT_EQ(written.get<FWNetworkDefaultsSettings>(), settings);
    EXPECT_NE(settings, FWNetworkDefaultsSettings{});
}

TEST(FWNetworkDefaultsSettings, IsolationForcesEveryProfile) {
    const json defaults = json::parse(
        R"({"public_network":{"fw_enabled":false,"allow_unknown_inbound":true,
            "allow_interactive_notifications":false},"private_network":{"fw_enabled":"bad"}})");
    const auto isolated = FWNetworkDefaultsSettings::fromProfileDefaults(defaults, true);
    for (const auto* p :
         {&isolated.public_network, &isolated.private_network, &isolated.domain_network}) {
        EXPECT_EQ(*p, kIsolated);
    }
    EXPECT_THROW(FWNetworkDefaultsSettings::fromProfileDefaults(defaults, false), json::type_error);
}

TEST(FWNetworkDefaultsSettings, ReadsFromAProfileObjectOfTheStore) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(
                  handle.get(), L"profiles",
                  R"([{"defaults":{"private_network":{"fw_enabled":false}}},{"name":"none"},
                      {"defaults":"no object"}])"),
              0);
    const tarn::UniqueOrreryObject profiles(
        PyxOrrery_GetObject(handle.get(), L"profiles", nullptr));
    FWNetworkDefaultsSettings expected;
    expected.private_network.fw_enabled = false;
    const FWNetworkDefaultsSettings expectations[] = {expected, {}, {}};
    for (int i = 0; i < 3; ++i) {
        const tarn::UniqueOrreryObject item(PyxOrrery_ArrayGetItem(profiles.get(), i, nullptr));
        EXPECT_EQ(FWNetworkDefaultsSettings::readFromProfile(item.get(), false), expectations[i])
            << i;
        EXPECT_EQ(FWNetworkDefaultsSettings::readFromProfile(item.get(), true).private_network,
                  kIsolated);
    }
}

}  // namespace
