// The commands on the simulated machine: check's exit codes and paths, diff, and that a
// preview leaves the user's machine file and store as they were.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/Str.h"
#include "sim/machine.h"
#include "sim/machine_file.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/support/HostsFile.h"
#include "tests/support/TempDir.h"
#include "tools/policy/PolicyTool.h"

namespace {

using nlohmann::json;
using tarn::str::fromUtf8;

std::string rule(const std::string& name, const std::string& extra = "") {
    return R"({"name": ")" + name + R"(", "protocol": "6", "direction": "in", "action": "allow",)" +
           R"( "local_ports": "3389")" + (extra.empty() ? "" : ", " + extra) + "}";
}

std::string policy(const std::string& officeRules, const std::string& homeRules = "",
                   const std::string& more = "") {
    return R"({"windows": {"firewall": {"current_profile_name": "office", "profiles": [)"
           R"({"profile_name": "office", "rules": [)" +
           officeRules + R"(]}, {"profile_name": "home", "rules": [)" + homeRules + "]}]" +
           (more.empty() ? "" : ", " + more) + "}}}";
}

class PolicyCommands : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }

    // A file of the test folder with that text; its host path, as a user names it.
    std::wstring file(const std::string& name, const std::string& text) {
        const std::wstring path = m_folder.file(fromUtf8(name));
        std::ofstream(sim::hostPath(path), std::ios::binary) << text;
        return fromUtf8(sim::hostPath(path));
    }
    int run(std::vector<std::wstring> args) {
        m_out.str("");
        m_err.str("");
        return tarn::policy::run(args, m_out, m_err);
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(m_out.str());
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

    tarn::test::TempDir m_folder;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

TEST_F(PolicyCommands, CheckNamesEveryProblemOfEveryProfileByItsPath) {
    const struct {
        const char* what;
        std::string document;
        std::vector<std::string> lines;
    } cases[] = {
        {"all accepted", policy(rule("Remote desktop"), rule("Remote desktop")), {}},
        {"a profile that is not the current one",
         policy(rule("Remote desktop"), rule("Home web", R"("protocol": "tcp")")),
         {R"(windows.firewall.profiles[1].rules[0].protocol: rule "Home web": Protocol is invalid (invalid: tcp))"}},
        {"a second rule of a name",
         policy(rule("Remote desktop") + "," + rule("REMOTE DESKTOP")),
         {R"(windows.firewall.profiles[0].rules[1].name: rule "REMOTE DESKTOP": This rule has the same name as another rule)"}},
        {"a member of another type and a disabled broken rule",
         policy(rule("Remote desktop", R"("remote_addresses": ["10.0.0.1"])") + "," +
                rule("short", R"("enabled": false)")),
         {R"(windows.firewall.profiles[0].rules[0].remote_addresses: rule "Remote desktop": Member has the wrong type (invalid: remote_addresses))"}},
        {"a partly applied rule after a refused one",
         policy(rule("short") + "," +
                rule("Remote desktop", R"("remote_addresses": "10.9.2.2,10.0.0.0/33")")),
         {R"(windows.firewall.profiles[0].rules[0].name: rule "short": Name is too short)",
          R"(windows.firewall.profiles[0].rules[1].remote_addresses: rule "Remote desktop": Remote address is invalid. Rule has been applied only partially (invalid: 10.0.0.0/33))"}},
        {"the isolation profile's additional rules",
         policy(rule("Remote desktop"), "",
                R"("network_isolation": {"enabled": false, "profile_name": "isolated",
                    "rules": [], "additional_rules": [)" +
                    rule("short") + "]}"),
         {R"(windows.firewall.network_isolation.additional_rules[0].name: rule "short": Name is too short)"}},
    };
    for (const auto& c : cases) {
        const int code = run({L"check", file("policy.json", c.document)});
        EXPECT_EQ(code, c.lines.empty() ? 0 : 1) << c.what << "\n" << m_out.str() << m_err.str();
        EXPECT_EQ(lines(), c.lines) << c.what;
    }
}

TEST_F(PolicyCommands, CheckFindsEveryRefusalOfTheBrokenExample) {
    EXPECT_EQ(run({L"check", fromUtf8(TARN_EXAMPLES_DIR "/policy-broken.json")}), 1);
    const auto found = lines();
    EXPECT_EQ(found.size(), 11u) << m_out.str();
    for (const auto& line : found) {
        EXPECT_EQ(line.rfind("windows.firewall.profiles[0].rules[", 0), 0u) << line;
    }
}

// Its rules resolve; the built-in rule for the management server takes its address as a name,
// which the firewall refuses: the address member is to blame.
TEST_F(PolicyCommands, TheUsableExampleMeetsOnlyTheManagementServersRule) {
    const tarn::test::HostsFile hosts(tarn::test::readHostFile(TARN_EXAMPLES_DIR "/hosts"));
    const int code = run({L"check", fromUtf8(TARN_EXAMPLES_DIR "/policy.json")});
    EXPECT_EQ(code, 1) << m_out.str();
    EXPECT_EQ(lines(), std::vector<std::string>{
                           R"(windows.command_post.address.host: rule "Tarn Command Post access": )"
                           R"(Failed to set remote address (invalid: cps.corp.example.com))"});
}

TEST_F(PolicyCommands, DocumentsThatCannotBeReadExitWithTwo) {
    const std::pair<std::string, std::string> documents[] = {
        {"not JSON", "{\"windows\": "},
        {"not an object", "[1, 2]"},
        {"no firewall", R"({"windows": {"sensor": {}}})"},
    };
    for (const auto& [what, text] : documents) {
        EXPECT_EQ(run({L"check", file("bad.json", text)}), 2) << what;
        EXPECT_TRUE(m_out.str().empty()) << what;
        EXPECT_FALSE(m_err.str().empty()) << what;
    }
    EXPECT_EQ(run({L"check", L"/no/such/policy.json"}), 2);
    EXPECT_EQ(run({L"preview", file("p.json", policy("")), L"--machine", L"/no/such.json"}), 2);
    EXPECT_EQ(run({L"diff", file("p.json", policy(""))}), 2);
    EXPECT_EQ(run({L"frobnicate"}), 2);
}

TEST_F(PolicyCommands, DiffShowsOnlyWhatTheNewPolicyChanges) {
    const std::wstring old = file(
        "old.json",
        policy(rule("Remote desktop") + "," + rule("File sharing", R"("local_ports": "445")")));
    const std::wstring now =
        file("new.json", policy(rule("Remote desktop", R"("local_ports": "3390")") + "," +
                                rule("Web server", R"("local_ports": "443")")));
    ASSERT_EQ(run({L"diff", old, now}), 0) << m_err.str();
    const std::string text = m_out.str();
    for (const char* expected : {"~ rule Remote desktop\n    local_ports: 3389 -> 3390\n",
                                 "- rule File sharing\n", "+ rule Web server  [Yes In Allow TCP"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    EXPECT_EQ(text.find("Tarn"), std::string::npos) << "the built-in rules stay\n" << text;

    ASSERT_EQ(run({L"diff", old, old}), 0);
    EXPECT_EQ(m_out.str(), "no differences\n");
}

TEST_F(PolicyCommands, APreviewLeavesTheMachineFileAndTheStoreAsTheyWere) {
    sim::machine_file::command("network home-wifi");
    const std::string machineText = sim::machine_file::save();
    const std::wstring machine = file("machine.json", machineText);
    tarn::test::StoreRoot stores;
    const std::string storePath = sim::hostPath(stores.documentPath(L"endpoint"));
    {
        auto store = stores.open(L"endpoint");
        ASSERT_EQ(PyxOrrery_ImportUtf8(store.get(), policy(rule("short")).c_str()), 0);
    }
    std::ifstream in(storePath, std::ios::binary);
    const std::string storeText((std::istreambuf_iterator<char>(in)), {});

    ASSERT_EQ(run({L"preview", L"-n", L"endpoint", L"--machine", machine, L"--json"}), 0)
        << m_err.str();
    const json shown = json::parse(m_out.str());
    EXPECT_EQ(shown["profile"], "office");
    ASSERT_EQ(shown["refused"].size(), 1u);
    EXPECT_EQ(shown["refused"][0]["paths"],
              json::array({"windows.firewall.profiles[0].rules[0].name"}));
    EXPECT_EQ(shown["refused"][0]["alert"]["type"], "firewall.tarn_rule_application.failed");

    std::ifstream machineAfter(sim::hostPath(m_folder.file(L"machine.json")), std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(machineAfter)), {}), machineText);
    std::ifstream storeAfter(storePath, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(storeAfter)), {}), storeText);
}

}  // namespace
