// The example policies: the firewall that the preview predicts is the one that the real plug-in
// library, run by the host on the same machine, arrives at.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "settings/HostExecutable.h"
#include "sim/machine_file.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/plugin/PluginTestSupport.h"
#include "tests/support/HostsFile.h"
#include "tools/carrier/CarrierHost.h"
#include "tools/policy/Preview.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const wchar_t* kNamespace = L"test";

json example(const char* name) {
    std::ifstream in(std::string(TARN_EXAMPLES_DIR) + "/" + name);
    return json::parse(in);
}

json firewallNow() {
    return json::parse(sim::machine_file::save())["firewall"];
}

class PreviewAndPlugin : public ::testing::TestWithParam<const char*> {};

TEST_P(PreviewAndPlugin, ThePluginArrivesAtThePredictedFirewall) {
    // The rules' names resolve alike for the preview and the plug-in.
    const tarn::test::HostsFile hosts(tarn::test::readHostFile(TARN_EXAMPLES_DIR "/hosts"));
    tarn::test::installMakerLibraries(kNamespace);
    const json machine = json::parse(sim::machine_file::save());
    const json policy = example(GetParam());

    tarn::policy::PreviewInput input;
    input.policy = policy;
    input.machine = machine;
    input.nameSpace = kNamespace;
    input.hostProgram = tarn::hostExecutablePath();  // the host runs in this program
    const json predicted = tarn::policy::preview(input).after["firewall"];

    sim::machine_file::load(machine.dump());
    const tarn::test::StoreRoot stores;
    {
        auto store = stores.open(kNamespace);
        ASSERT_EQ(PyxOrrery_ImportUtf8(store.get(), policy.dump().c_str()), 0);
    }
    tarn::carrier::CarrierHost host(kNamespace);
    std::string error;
    const std::string plugin = TARN_TEST_PLUGIN_LIBRARY;
    ASSERT_TRUE(host.load(std::wstring(plugin.begin(), plugin.end()), error)) << error;
    ASSERT_EQ(host.initialize(), 0u);
    host.startMain();
    bool arrived = false;
    for (int i = 0; i < 200 && !arrived; ++i) {
        std::this_thread::sleep_for(50ms);
        arrived = firewallNow() == predicted;
    }
    host.stop();
    ASSERT_TRUE(host.waitForMain(5000));
    host.destroy();
    EXPECT_TRUE(arrived) << json::diff(firewallNow(), predicted).dump(1);
}

INSTANTIATE_TEST_SUITE_P(Examples, PreviewAndPlugin,
                         ::testing::Values("policy.json", "policy-broken.json"));

}  // namespace
