// What depends on the machine: the default rules (registry, files, Windows edition), the
// example policies with their host names in the DNS table, and the policy viewer.
#include <fstream>
#include <sstream>

#include "platform/win.h"
#include "settings/TarnDefaultRules.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/version_control.h"
#include "sim/winsock_control.h"
#include "tests/settings/ProviderTestSupport.h"
#include "tools/policy/PolicyTool.h"

namespace {

namespace keys = tarn::keys;
using tarn::test::ProviderTest;
using Names = std::vector<std::wstring>;

constexpr const wchar_t* kHost = L"C:\\Program Files\\Tarn\\Carrier\\carrier.exe";
constexpr const wchar_t* kServerKey =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Greyfield\\Tarn\\Command Server 5";

using tarn::test::namesOf;

void createFile(const std::wstring& path) {
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    }
    tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
}

class DefaultRulesTest : public ProviderTest {
protected:
    void SetUp() override {
        sim::setModuleFileName(kHost);
        start();
    }
    std::vector<FWRule> defaultRules() {
        std::vector<FWRule> rules;
        settings->getTarnDefaultRules(rules);
        return rules;
    }
    tarn::test::TempDir folder;
};

TEST_F(DefaultRulesTest, WorkstationWithNothingInstalled) {
    EXPECT_EQ(namesOf(defaultRules()),
              (Names{L"Tarn Carrier: Allow outbound TCP traffic",
                     L"Tarn Mender: Allow outbound TCP traffic",
                     L"Tarn Mender2: Allow outbound TCP traffic", L"Tarn: Allow DNS queries",
                     L"Tarn: Allow mDNS (Out)", L"Tarn: Allow DHCP", L"Tarn: Allow DHCP IPv6"}));
    set(keys::kCanApplyDefaultInboundRules, "true");
    EXPECT_EQ(defaultRules().size(), 11u) << "four inbound rules more";
}

TEST_F(DefaultRulesTest, ServerWithEverythingInstalled) {
    sim::version::setProductType(VER_NT_SERVER);
    set(keys::kCanApplyDefaultInboundRules, "true");
    set(keys::kCommandPostAddressHost, R"("cps.example")");
    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\test\\Corvane",
                             L"InstallPath", L"C:\\Tarn\\");
    sim::registry::setString(kServerKey, L"InstallationDirectory", folder.path());
    sim::registry::setDword(kServerKey, L"HttpPortNum", 8080);
    sim::registry::setDword(kServerKey, L"HttpsPortNum", 8443);
    createFile(folder.file(L"jre\\bin\\java.exe"));
    const auto rules = defaultRules();
    EXPECT_EQ(
        namesOf(rules),
        (Names{L"Tarn Carrier: Allow outbound TCP traffic",
               L"Tarn Patch Courier: Allow outbound TCP traffic",
               L"Tarn Mender: Allow outbound TCP traffic",
               L"Tarn Mender2: Allow outbound TCP traffic",
               L"Tarn CPS Java: Allow outbound TCP traffic", L"Tarn CPS: Allow inbound TCP traffic",
               L"Tarn: Allow DNS (In)", L"Tarn: Allow DNS queries", L"Tarn: Allow DNS client (In)",
               L"Tarn: Allow DNS server (In)", L"Tarn: Allow DNS client (Out)",
               L"Tarn: Allow DNS server (Out)", L"Tarn: Allow mDNS (In)", L"Tarn: Allow mDNS (Out)",
               L"Tarn: Allow DHCP (In)", L"Tarn: Allow DHCP", L"Tarn: Allow DHCP IPv6 (In)",
               L"Tarn: Allow DHCP IPv6", L"Tarn Command Post access"}));
    EXPECT_EQ(rules[0].applicationPath, kHost);
    EXPECT_EQ(rules[1].applicationPath, L"C:\\Tarn\\pcdir\\tnpcu.exe");
    EXPECT_EQ(rules[2].applicationPath, L"C:\\Program Files\\Tarn\\Carrier\\_tarn_mender.exe");
    EXPECT_EQ(rules[5].applicationPath, folder.file(L"jre\\bin\\java.exe"));
    EXPECT_EQ(rules[5].localPorts, L"8080,8443");
    EXPECT_EQ(rules[5].serviceName, L"cpsrv");
    EXPECT_EQ(rules[5].direction, FWRule::Direction::In);
    EXPECT_EQ(rules[12].remoteAddresses, L"LocalSubnet");
    EXPECT_EQ(rules[12].localPorts, L"5353");
    EXPECT_EQ((std::pair{rules[15].localPorts, rules[15].remotePorts}),
              (std::pair<std::wstring, std::wstring>{L"68", L"67"}));
    EXPECT_EQ(rules[18].protocol, 256);
    EXPECT_EQ(rules[18].remoteAddresses, L"cps.example");
    for (const auto& r : rules) {
        EXPECT_EQ(r.description, r.name);
        EXPECT_EQ(r.action, FWRule::Action::Allow) << tarn::str::toUtf8(r.name);
        EXPECT_EQ(r.interfaceTypes, L"All");
        EXPECT_TRUE(r.enabled);
    }
}

TEST_F(DefaultRulesTest, ServerPartsNeedTheirRuntimeAndPorts) {
    sim::version::setProductType(VER_NT_DOMAIN_CONTROLLER);
    sim::registry::setString(kServerKey, L"InstallationDirectory", folder.path());
    sim::registry::setDword(kServerKey, L"HttpsPortNum", 8443);
    auto names = namesOf(defaultRules());
    EXPECT_EQ(std::count(names.begin(), names.end(), L"Tarn CPS Java: Allow outbound TCP traffic"),
              0)
        << "no java.exe";
    EXPECT_EQ(std::count(names.begin(), names.end(), L"Tarn: Allow DNS server (Out)"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"Tarn: Allow DNS server (In)"), 0);
    createFile(folder.file(L"jre\\bin\\java.exe"));
    const auto rules = defaultRules();
    EXPECT_EQ(rules[3].name, L"Tarn CPS Java: Allow outbound TCP traffic");
    EXPECT_EQ(rules[4].localPorts, L"8443");
}

TEST(VersionCheck, ProductTypeAndVersionComparisons) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.wProductType = VER_NT_WORKSTATION;
    info.dwMajorVersion = 6;
    info.dwMinorVersion = 3;
    const DWORDLONG type = VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
    EXPECT_EQ(type, 1ull << 21);
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, type));
    sim::version::setProductType(VER_NT_SERVER);
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, type));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_TRUE(tarn::defaults::isServerSystem());
    // 10.0 is at least 6.3 as a whole, though its minor number is smaller.
    const DWORDLONG atLeast =
        VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL),
                            VER_MINORVERSION, VER_GREATER_EQUAL);
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, atLeast));
    info.dwMajorVersion = 11;
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, atLeast));
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_BUILDNUMBER, type));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    sim::failCall("VerifyVersionInfoW", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, type));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

std::string example(const char* name) {
    std::ifstream file(std::string(TARN_EXAMPLES_DIR) + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class ExamplePolicyTest : public ProviderTest {
protected:
    void SetUp() override {
        for (const auto& [host, address] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
                 {L"wiki.corp.example.com", L"10.20.5.10"},
                 {L"ftp.legacy.example.com", L"10.20.7.21"},
                 {L"vpn.corp.example.com", L"203.0.113.10"},
                 {L"cps.corp.example.com", L"10.20.1.2"}}) {
            sim::winsock::setDnsAnswer(host, {address});
        }
    }
    void load(const char* name) {
        ASSERT_EQ(PyxOrrery_ImportUtf8(store.get(), example(name).c_str()), 0) << name;
        startWithDnsCache();
    }
    std::vector<FWRule> currentRules() {
        resolved.clear();
        return settings->getCurrentRules(resolved, reporter());
    }
};

TEST_F(ExamplePolicyTest, EveryRuleOfThePolicyIsUsable) {
    load("policy.json");
    EXPECT_EQ(currentRules().size(), 7u);
    EXPECT_EQ(resolved, Names{L"wiki.corp.example.com"});
    set(keys::kCurrentProfileName, R"("public_wifi")");
    EXPECT_EQ(currentRules().size(), 4u);
    EXPECT_EQ(resolved, Names{L"vpn.corp.example.com"});
    set(keys::kNetworkIsolationEnabled, "true");
    const auto isolated = currentRules();
    EXPECT_EQ(namesOf(isolated),
              (Names{L"Isolation: Management server", L"Isolation: Incident response share"}));
    EXPECT_EQ(isolated[0].remoteAddresses, L"10.20.1.2");
    EXPECT_TRUE(reports.empty()) << testing::PrintToString(reports);
    EXPECT_EQ(settings->getCurrentSettings().profileVisibleName, L"Network isolation");
}

TEST_F(ExamplePolicyTest, TheBrokenPolicyMeetsEveryRefusal) {
    load("policy-broken.json");
    EXPECT_EQ(namesOf(currentRules()),
              (Names{L"Accepted: allow web proxy", L"Partial: one local address invalid",
                     L"Partial: one remote address invalid",
                     L"Accepted: unknown direction text is logged"}));
    std::set<std::wstring> reasons;
    for (const auto& report : reports) {
        reasons.insert(report.reason);
    }
    EXPECT_EQ(reasons, (std::set<std::wstring>{
                           L"Name is too short", L"Local address is invalid",
                           L"Local address is invalid. Rule has been applied only partially",
                           L"Remote address is invalid",
                           L"Remote address is invalid. Rule has been applied only partially",
                           L"This rule has the same name as another rule",
                           L"This rule blocks Tarn services", L"This rule blocks DNS services",
                           L"Protocol is invalid", L"Member has the wrong type"}));
}

TEST_F(ExamplePolicyTest, TheViewerShowsProfileRulesRefusalsAndDefaults) {
    ASSERT_EQ(PyxOrrery_ImportUtf8(store.get(), example("policy-broken.json").c_str()), 0);
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(tarn::policy::run({L"show", L"--namespace", L"test"}, out, err), 0) << err.str();
    const std::string text = out.str();
    for (const char* expected :
         {"Current profile: broken\n", "Visible name: Every way a rule can be refused\n",
          "  firewall enabled: yes\n", "Current rules (4):\n  [Accepted: allow web proxy],",
          "Refused or partly applied rules (11):\n  short: Name is too short\n    [short],",
          "  Refused: blocks the web ports: This rule blocks Tarn services (invalid: 80)\n",
          "Default rules (7):\n  [Tarn Carrier: Allow outbound TCP traffic],"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    EXPECT_EQ(tarn::policy::run({L"show", L"--bogus"}, out, err), 2);
}

}  // namespace
