// The `tarn_spool` tool: printing a spool for people and as stored, following it as it grows,
// and its usage errors. Runs on the simulated machine and under wine.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "standin/alert/TarnAlertApi.h"
#include "standin/spool/tool/SpoolTool.h"
#include "tests/spool/SpoolRoot.h"

namespace {

using tarn::spool::runTool;
using tarn::test::SpoolRoot;

void send(const wchar_t* nameSpace, const char* payload) {
    ASSERT_EQ(TarnAlertApi_DelayLoadInitialize(nameSpace), 0);
    ASSERT_EQ(TarnAlertApi_SendAlertNS(nameSpace, "firewall.tarn_rule_triggered.block", payload),
              0);
}

TEST(SpoolTool, PrintsEachEntryOnOneLine) {
    SpoolRoot root;
    send(L"tenant-a", R"j({"ruleName":"Block RDP"})j");
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(runTool({L"-n", L"tenant-a"}, out, err), 0) << err.str();
    const std::string text = out.str();
    EXPECT_NE(text.find(" alert firewall.tarn_rule_triggered.block {\"ruleName\":\"Block RDP\"}\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line";

    std::ostringstream raw;
    ASSERT_EQ(runTool({L"--namespace", L"tenant-a", L"--json", L"--root", root.path()}, raw, err),
              0);
    EXPECT_EQ(raw.str(), root.lines(L"tenant-a").at(0) + "\n");
}

TEST(SpoolTool, AMissingSpoolIsEmpty) {
    SpoolRoot root;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runTool({L"-n", L"nobody"}, out, err), 0);
    EXPECT_EQ(out.str(), "");
}

TEST(SpoolTool, FollowingPrintsLinesAsTheyAreAdded) {
    SpoolRoot root;
    send(L"tenant-a", R"j({"n":1})j");
    std::ostringstream out;
    std::ostringstream err;
    int polls = 0;
    const int code = runTool({L"-n", L"tenant-a", L"-f", L"--interval", L"10"}, out, err, [&] {
        if (++polls == 2) {
            send(L"tenant-a", R"j({"n":2})j");
        }
        return out.str().find("{\"n\":2}") == std::string::npos && polls < 500;
    });
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.str().find("{\"n\":1}\n"), std::string::npos);
    EXPECT_NE(out.str().find("{\"n\":2}\n"), std::string::npos) << out.str();
}

TEST(SpoolTool, LinesThatAreNoEntriesAreShownAsTheyAre) {
    EXPECT_EQ(tarn::spool::describeLine("not json"), "not json");
    EXPECT_EQ(tarn::spool::describeLine(R"j({"time":"T","source":"event","type":"x"})j"),
              "T event x {}");
}

TEST(SpoolTool, AWrongCommandLineIsAUsageError) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runTool({L"--frobnicate"}, out, err), 2);
    EXPECT_NE(err.str().find("unknown or incomplete option --frobnicate"), std::string::npos);
    EXPECT_EQ(runTool({L"-n", L"a/b"}, out, err), 2);
    EXPECT_EQ(runTool({L"--interval", L"0"}, out, err), 2);
    std::ostringstream help;
    EXPECT_EQ(runTool({L"-h"}, help, err), 0);
    EXPECT_NE(help.str().find("Usage: tarn_spool"), std::string::npos);
}

}  // namespace
