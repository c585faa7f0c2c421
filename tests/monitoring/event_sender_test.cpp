// Product events: the isolation events' names and kinds, and the event library's call
// sequence with its failures. Runs on the simulated machine and under wine.
#include <gtest/gtest.h>

#include "monitoring/TarnEvent.h"
#include "monitoring/TarnEventSender.h"
#include "tests/monitoring/FakeLibraries.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::test::FakeEventLibrary;

class Events : public ::testing::Test {
protected:
    void SetUp() override { FakeEventLibrary::reset(); }
};

TEST_F(Events, IsolationOnAndOffAreOneEventEachWithTheirKinds) {
    TarnEventSender sender(L"tenant-a", FakeEventLibrary::table());
    sender.sendIsolationEvent(true);
    sender.sendIsolationEvent(false);
    ASSERT_EQ(FakeEventLibrary::created.size(), 2u);
    EXPECT_EQ(FakeEventLibrary::created[0].nameSpace, L"tenant-a");
    EXPECT_EQ(FakeEventLibrary::created[0].name, L"network_isolation.enable");
    EXPECT_EQ(FakeEventLibrary::created[0].kind, 1);
    EXPECT_EQ(FakeEventLibrary::created[1].name, L"network_isolation.disable");
    EXPECT_EQ(FakeEventLibrary::created[1].kind, 2);
    EXPECT_EQ(FakeEventLibrary::created[1].reserved, 0);
    EXPECT_EQ(FakeEventLibrary::added, 2) << "sent with the event's handle and 0";
    EXPECT_EQ(FakeEventLibrary::freed, 2);
}

TEST_F(Events, ACreationWithoutHandleIsLoggedOnceAndNeitherSentNorFreed) {
    tarn::test::LogCapture log;
    FakeEventLibrary::returnHandle = false;
    FakeEventLibrary::createError = 5;
    TarnEventSender(L"tenant-a", FakeEventLibrary::table()).sendIsolationEvent(true);
    EXPECT_EQ(FakeEventLibrary::added, 0);
    EXPECT_EQ(FakeEventLibrary::freed, 0);
    EXPECT_TRUE(tarn::test::logged(log, 2, "TarnEvent::TarnEvent",
                                   "Failed to create event: The event spool cannot be written"));
    EXPECT_EQ(log.count("Failed to create event"), 1u);
}

TEST_F(Events, AnEventWhoseCreationReportedAnErrorButGaveAHandleIsStillSent) {
    tarn::test::LogCapture log;
    FakeEventLibrary::createError = 1;
    TarnEvent event(L"tenant-a", L"network_isolation.enable", 1, FakeEventLibrary::table());
    event.SendAll();
    EXPECT_EQ(FakeEventLibrary::added, 1);
    EXPECT_EQ(log.count("Failed to create event: other", 2), 1u);
}

TEST_F(Events, AFailedSendIsLoggedAndTheEventFreed) {
    tarn::test::LogCapture log;
    FakeEventLibrary::addResult = 5;
    TarnEventSender(L"tenant-a", FakeEventLibrary::table()).sendIsolationEvent(false);
    EXPECT_TRUE(tarn::test::logged(log, 2, "TarnEvent::SendAll",
                                   "Failed to send event: The event spool cannot be written"));
    EXPECT_EQ(FakeEventLibrary::freed, 1);
}

}  // namespace
