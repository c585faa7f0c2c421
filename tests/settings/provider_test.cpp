// The provider's life on a real store: changes reach the delegates by full key, triggers
// coalesce, cached switches survive store errors, lists and single values round-trip.
#include <thread>

#include "tests/settings/ProviderTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

namespace keys = tarn::keys;
using namespace std::chrono_literals;
using tarn::test::namesOf;
using tarn::test::ProviderTest;
using tarn::test::RecordingDelegate;
using Names = std::vector<std::wstring>;

TEST_F(ProviderTest, ChangesReachEveryDelegateByFullKey) {
    auto first = std::make_shared<RecordingDelegate>();
    auto second = std::make_shared<RecordingDelegate>();
    start({first, second});
    set(L"windows.other", "1");  // not subscribed
    set(L"windows.firewall.network_isolation", R"({"enabled": true})");
    set(keys::kProfiles, "[]");
    for (auto* delegate : {first.get(), second.get()}) {
        ASSERT_TRUE(delegate->waitFor(keys::kProfiles));
        EXPECT_EQ(delegate->countOf(keys::kNetworkIsolationEnabled), 1u);
        EXPECT_EQ(delegate->countOf(L"windows.other"), 0u);
    }
    // The cached switch followed the change before the delegates heard of it.
    EXPECT_TRUE(settings->isNetworkIsolationEnabled());
    settings->stop();
    set(keys::kProfiles, "[1]");
    EXPECT_EQ(stored(keys::kProfiles), "[1]");
    EXPECT_EQ(first->countOf(keys::kProfiles), 1u) << "no delegate after stop";
}

TEST_F(ProviderTest, APolicyWrittenByTheToolReachesTheDelegatesAndTheRules) {
    auto delegate = std::make_shared<RecordingDelegate>();
    start({delegate});
    // The management side writes from its own process, one object for the whole firewall.
    ASSERT_EQ(tarn::test::runProgram(L"orrery", {L"-n", L"test", L"set", L"windows.firewall",
                                                 LR"({"current_profile_name": "office",
                                                      "profiles": [{"profile_name": "office",
                                                        "rules": [{"name": "Allow intranet",
                                                                   "action": "allow"}]}]})"}),
              0u);
    ASSERT_TRUE(delegate->waitFor(keys::kProfiles));
    ASSERT_TRUE(delegate->waitFor(keys::kCurrentProfileName));
    EXPECT_EQ(delegate->countOf(L"windows.firewall"), 0u) << "reported by full key only";
    EXPECT_EQ(namesOf(settings->getCurrentRules(resolved, reporter())), Names{L"Allow intranet"});
}

TEST_F(ProviderTest, TriggersCoalesceUntilTheyAreDue) {
    auto delegate = std::make_shared<RecordingDelegate>();
    start({delegate});
    tarn::test::LogCapture log(5);
    struct Loop {
        tarn::test::FakeClockScheduler& scheduler;
        std::thread thread{[this] { scheduler.run(); }};
        ~Loop() {
            scheduler.stop(false);
            thread.join();
        }
    } loop{scheduler};
    settings->triggerReapplyAllSettings();
    scheduler.advance(1500ms);
    settings->triggerReapplyAllSettings();  // keeps the first due time
    settings->triggerReapplyFilters();
    scheduler.advance(499ms);
    scheduler.settle();
    EXPECT_EQ(delegate->countOf(keys::kTriggerSettingsReapply), 0u);
    scheduler.advance(1ms);
    ASSERT_TRUE(delegate->waitFor(keys::kTriggerSettingsReapply));
    scheduler.advance(4499ms);  // the filters trigger is due 5000 ms after its request
    scheduler.settle();
    EXPECT_EQ(delegate->countOf(keys::kTriggerFiltersReapply), 0u);
    scheduler.advance(1ms);
    ASSERT_TRUE(delegate->waitFor(keys::kTriggerFiltersReapply));
    scheduler.advance(60000ms);
    settings->triggerReapplyAllSettings();  // a new request after the first ran
    scheduler.advance(2000ms);
    ASSERT_TRUE(delegate->waitFor(keys::kTriggerSettingsReapply, 2));
    EXPECT_EQ(delegate->countOf(keys::kTriggerFiltersReapply), 1u);
    EXPECT_EQ(log.count("Triggering SETTINGS reapply", 5), 2u);
    EXPECT_EQ(log.count("Triggering FILTERS reapply", 5), 1u);
}

TEST_F(ProviderTest, IsolationSwitchesKeepTheirValueThroughStoreErrors) {
    set(keys::kNetworkIsolationLocalEnabled, "true");
    start();
    EXPECT_TRUE(settings->isNetworkIsolationEnabled());
    set(keys::kNetworkIsolationLocalEnabled, R"("yes")");  // the store answers "wrong type"
    EXPECT_TRUE(settings->isNetworkIsolationEnabled());
    set(keys::kNetworkIsolation, R"({"enabled": false, "local": {}})");  // "not found"
    EXPECT_FALSE(settings->isNetworkIsolationEnabled());
    set(keys::kNetworkIsolationEnabled, "true");
    EXPECT_TRUE(settings->isNetworkIsolationEnabled());
    settings->stop();  // reads fail now; the last values stand
    EXPECT_TRUE(settings->isNetworkIsolationEnabled());
}

TEST_F(ProviderTest, NoStoreNoStart) {
    tarn::test::LogCapture log;
    settings = std::make_shared<FWSettings>(L"bad/name", scheduler, nullptr);
    EXPECT_FALSE(settings->start({}));
    EXPECT_TRUE(log.contains("Failed to open orrery handle. Error = ", 2)) << log.dump();
    EXPECT_FALSE(settings->isNetworkIsolationEnabled());
    EXPECT_EQ(settings->getCurrentSettings(), FWCurrentSettings{});
}

TEST_F(ProviderTest, ListsLoadAtStartAndStoreThroughTheProvider) {
    set(keys::kStatusInstalledRules, R"(["a","b"])");
    set(keys::kStatusInstalledSylphRules, R"(["s"])");
    start();
    settings->addRuleToList(keys::kStatusInstalledRules, L"c");
    settings->removeRuleFromList(keys::kStatusInstalledRules, L"a");
    settings->storeList(keys::kStatusInstalledRules);
    EXPECT_EQ(stored(keys::kStatusInstalledRules), R"(["b","c"])");
    const Names all = settings->getAllTarnRuleNames();
    ASSERT_EQ(all.size(), 3u + 19u);
    EXPECT_EQ(Names(all.begin(), all.begin() + 3), (Names{L"b", L"c", L"s"}));
    EXPECT_EQ(all[3], L"Tarn Carrier: Allow outbound TCP traffic");
    EXPECT_EQ(all.back(), L"Tarn: Allow DHCP IPv6");
}

TEST_F(ProviderTest, SingleValuesAndTheirDefaults) {
    start();
    EXPECT_EQ(settings->getCommandPostAddress(), L"");
    set(keys::kCommandPostAddressHost, R"("cps.example")");
    set(keys::kCommandPostOverrideAddressHost, R"("")");
    EXPECT_EQ(settings->getCommandPostAddress(), L"cps.example");
    set(keys::kCommandPostOverrideAddressHost, R"("override.example")");
    EXPECT_EQ(settings->getCommandPostAddress(), L"override.example");

    set(keys::kStatusWhitelistedProcesses, R"(["a.exe","b.exe"])");
    set(keys::kStatusAdditionalWhitelistedProcesses, R"(["b.exe"])");
    EXPECT_EQ(settings->getWhitelistedProcesses(), (Names{L"a.exe", L"b.exe", L"b.exe"}));

    EXPECT_EQ(settings->getOldNetworkSettings(), FWNetworkDefaultsSettings{});
    FWNetworkDefaultsSettings saved;
    saved.domain_network.block_all_inbound = true;
    settings->storeOldNetworkSettings(saved);
    EXPECT_EQ(settings->getOldNetworkSettings(), saved);

    LanshareSettings lanshare{true, false, 7771, L"10.0.0.255"};
    settings->setLanshareAllowRulesParams(lanshare, L"10.0.0.1 10.0.0.254");
    EXPECT_EQ(stored(L"local.windows.ferry2.lanshare.allow_rules"),
              R"({"client_enabled":false,"port":7771,"server_enabled":true,)"
              R"("subnet":"10.0.0.1 10.0.0.254"})");
}

TEST_F(ProviderTest, LanshareSettingsFallBackToTheirDefaults) {
    start();
    const LanshareSettings defaults;
    EXPECT_EQ(settings->getLanshareSettings(), defaults);
    set(keys::kLanshare, R"({"server_enabled": true, "port": 8080})");
    EXPECT_EQ(settings->getLanshareSettings(), (LanshareSettings{true, false, 8080, L""}));
    set(keys::kLanshare, R"({"port": "8080"})");
    EXPECT_EQ(settings->getLanshareSettings(), defaults);
    set(keys::kLanshare, "[1]");
    EXPECT_EQ(settings->getLanshareSettings(), defaults);
}

TEST_F(ProviderTest, OnlyA32BitIntegerIsALansharePort) {
    start();
    const std::pair<std::string, std::optional<int32_t>> cases[] = {
        {"8080", 8080},
        {"0", 0},
        {"-1", -1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"4294975376", std::nullopt},  // 2^32 + 8080
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"18446744073709551615", std::nullopt},
        {"8080.9", std::nullopt},
        {"8080.0", std::nullopt},
        {"true", std::nullopt},
        {"null", std::nullopt},
    };
    for (const auto& [port, expected] : cases) {
        tarn::test::LogCapture log;
        set(keys::kLanshare, R"({"server_enabled": true, "port": )" + port + "}");
        const LanshareSettings read = settings->getLanshareSettings();
        if (expected) {
            EXPECT_EQ(read, (LanshareSettings{true, false, *expected, L""})) << port;
        } else {
            EXPECT_EQ(read, LanshareSettings{}) << port << ": the defaults, nothing allowed";
            EXPECT_TRUE(log.contains("Failed to parse 'windows.ferry2.lanshare'. Error : ", 3))
                << port << log.dump();
        }
    }
}

TEST_F(ProviderTest, SelectionRulesAreOrderedByPriority) {
    start();
    tarn::test::LogCapture log;
    EXPECT_FALSE(settings->getAutomaticProfileSelectionSettings().enabled);
    EXPECT_TRUE(log.contains("Settings cannot be read: ", 3));
    const auto rule = [](const std::string& priority, const std::string& name,
                         const std::string& extra = "") {
        return R"({"priority": )" + priority + R"(, "profile_name": ")" + name +
               R"(", "method1": "always", "argument1": "", "method2": "always", "argument2": "")" +
               extra + "}";
    };
    set(keys::kAutomaticProfileSelection,
        R"({"enabled": true, "rules": [)" + rule("5", "first five") + "," +
            rule("-1", "low", R"(, "more": 1)") + "," + rule("5", "second five") + "," +
            rule("987654321", "last") + "," +
            R"({"priority": 2, "profile_name": "bad", "method1": "always", "argument1": "",
                "method2": "always", "argument2": 7},)" +
            rule(R"("3")", "bad priority") + "]}");
    const auto selection = settings->getAutomaticProfileSelectionSettings();
    EXPECT_TRUE(selection.enabled);
    std::vector<std::pair<int64_t, std::wstring>> order;
    for (const auto& [priority, rule] : selection.rules) {
        order.emplace_back(priority, rule.profileName);
    }
    EXPECT_EQ(order, (std::vector<std::pair<int64_t, std::wstring>>{
                         {-1, L"low"}, {5, L"second five"}, {987654321, L"last"}}));
    EXPECT_EQ(selection.rules.at(-1).method2, L"always");
    EXPECT_TRUE(log.contains("argument2 reading error: ", 3)) << log.dump();
    EXPECT_TRUE(log.contains("priority reading error: ", 3));
}

TEST_F(ProviderTest, SelectionRulesMissingAMemberAreDropped) {
    start();
    set(keys::kAutomaticProfileSelection, R"({"enabled": true, "rules": [
        {"profile_name": "no priority", "method1": "always", "argument1": "",
         "method2": "always", "argument2": ""},
        {"priority": 1, "profile_name": "no arguments", "method1": "always", "method2": "always"},
        {"priority": 2, "method1": "always", "argument1": "", "method2": "always",
         "argument2": ""},
        {"priority": 3, "profile_name": "complete", "method1": "my_network",
         "argument1": "10.*.*.*", "method2": "always", "argument2": ""}]})");
    tarn::test::LogCapture log;
    const auto selection = settings->getAutomaticProfileSelectionSettings();
    ASSERT_EQ(selection.rules.size(), 1u);
    EXPECT_EQ(selection.rules.begin()->second.profileName, L"complete");
    for (const char* member : {"priority", "argument1", "profile_name"}) {
        EXPECT_TRUE(log.contains(std::string(member) + " reading error: ", 3))
            << member << log.dump();
    }
}

}  // namespace
