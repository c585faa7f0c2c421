// The monitor under load: two engine threads deliver 100,000 network events while filters come
// and go and rule passes rewrite the alert list. Every event is written once to the log it
// belongs to, every drop by a rule on the alert list becomes exactly one alert, and stopping
// in the middle returns and loses nothing that a callback had already taken. Run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "monitoring/FWAlertApi.h"
#include "tests/monitoring/MonitorMachine.h"

namespace {

using tarn::test::dropBy;

constexpr uint32_t kEvents = 100000;
constexpr int kAlertingRules = 5;
constexpr int kQuietRules = 5;

// Remembers which events a callback took, by the index carried in the ports.
class CountingMonitor : public WinFWEventMonitor {
public:
    explicit CountingMonitor(uint32_t events) : m_taken(events) {}

    void onFWNetEvent(const FWPM_NET_EVENT1* event) override {
        m_taken[indexOf(event->header.localPort, event->header.remotePort)] = 1;
        ++m_count;
        WinFWEventMonitor::onFWNetEvent(event);
    }
    bool taken(uint32_t index) const { return m_taken[index] != 0; }
    uint32_t count() const { return m_count; }

    static uint32_t indexOf(uint32_t local, uint32_t remote) { return (local << 16) | remote; }

private:
    std::vector<std::atomic<uint8_t>> m_taken;
    std::atomic<uint32_t> m_count{0};
};

enum class Kind { AlertingDrop, QuietDrop, Allow, IpsecDrop, IkeFailure };

// One event in twenty alerts; the rest are quiet drops, allowed traffic, IPsec drops and IKE
// failures.
Kind kindOf(uint32_t index) {
    const uint32_t slot = index % 20;
    if (slot == 0) {
        return Kind::AlertingDrop;
    }
    if (slot < 10) {
        return Kind::QuietDrop;
    }
    if (slot < 15) {
        return Kind::Allow;
    }
    return slot < 18 ? Kind::IpsecDrop : Kind::IkeFailure;
}

bool isDrop(Kind kind) {
    return kind == Kind::AlertingDrop || kind == Kind::QuietDrop || kind == Kind::IpsecDrop;
}

class MonitorUnderLoad : public tarn::test::MonitorMachine {
protected:
    void SetUp() override {
        MonitorMachine::SetUp();
        std::vector<std::wstring> alertList;
        for (int i = 0; i < kAlertingRules; ++i) {
            const std::wstring name = L"Alerting " + std::to_wstring(i);
            m_alerting.push_back(sim::wfp::addFilter(name, L"managed"));
            alertList.push_back(name);
        }
        for (int i = 0; i < kQuietRules; ++i) {
            m_quiet.push_back(sim::wfp::addFilter(L"Quiet " + std::to_wstring(i), L"managed"));
        }
        m_provider->setAlertList(alertList);
        m_alertList = alertList;
    }

    sim::wfp::NetEvent eventOf(uint32_t index) const {
        const Kind kind = kindOf(index);
        const auto local = static_cast<uint16_t>(index >> 16);
        const auto remote = static_cast<uint16_t>(index & 0xFFFF);
        const uint64_t filter = kind == Kind::AlertingDrop ? m_alerting[index % kAlertingRules]
                                                           : m_quiet[index % kQuietRules];
        sim::wfp::NetEvent event = dropBy(filter, local, remote);
        if (kind == Kind::Allow) {
            event.type = FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW;
        } else if (kind == Kind::IpsecDrop) {
            event.type = FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP;
        } else if (kind == Kind::IkeFailure) {
            event.type = FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE;
        }
        return event;
    }

    void raise(uint32_t from, uint32_t to) const {
        for (uint32_t index = from; index < to; ++index) {
            ASSERT_TRUE(sim::wfp::raiseNetEvent(eventOf(index)));
        }
    }

    // Filters of other rules come and go, and passes write the same alert list again.
    void rulePasses(const std::atomic<bool>& done, std::atomic<int>& deletions) const {
        for (int pass = 0; !done; ++pass) {
            const uint64_t id = sim::wfp::addFilter(L"Pass filter " + std::to_wstring(pass % 7));
            m_provider->setAlertList(m_alertList);
            if (sim::wfp::removeFilter(id)) {
                ++deletions;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    // Index -> number of lines that carry it, per log file.
    std::vector<uint8_t> linesPerEvent(const wchar_t* log) const {
        std::vector<uint8_t> counts(kEvents, 0);
        for (const auto& message : fileMessages(log)) {
            const size_t local = message.find("Local port: ");
            const size_t remote = message.find(". Remote port: ");
            if (local == std::string::npos || remote == std::string::npos) {
                continue;
            }
            const auto index = CountingMonitor::indexOf(std::stoul(message.substr(local + 12)),
                                                        std::stoul(message.substr(remote + 15)));
            EXPECT_LT(index, kEvents) << message;
            if (index < kEvents) {
                ++counts[index];
            }
        }
        return counts;
    }

    std::vector<uint64_t> m_alerting;
    std::vector<uint64_t> m_quiet;
    std::vector<std::wstring> m_alertList;
};

TEST_F(MonitorUnderLoad, EveryEventIsLoggedOnceAndEveryAlertableDropAlertsOnce) {
    auto monitor = std::make_unique<CountingMonitor>(kEvents);
    ASSERT_TRUE(monitor->startMonitoring(m_provider, std::make_shared<FWAlertApi>(kNamespace)));
    std::atomic<bool> done{false};
    std::atomic<int> deletions{0};
    std::thread passes([&] { rulePasses(done, deletions); });
    raise(0, kEvents);
    sim::wfp::waitIdle();
    done = true;
    passes.join();
    sim::wfp::waitIdle();
    EXPECT_EQ(sim::wfp::deliveredNetEvents(), kEvents);
    EXPECT_EQ(monitor->count(), kEvents);
    EXPECT_GE(m_provider->reapplyRequests(), deletions.load());
    EXPECT_LE(static_cast<uint64_t>(m_provider->reapplyRequests()),
              sim::wfp::deliveredFilterChanges());
    monitor.reset();  // closes the logs

    const auto blocks = linesPerEvent(L"Blocks");
    const auto events = linesPerEvent(L"Events");
    std::vector<uint8_t> alerts(kEvents, 0);
    for (const auto& alert : spooledAlerts()) {
        const auto& payload = alert.at("payload");
        ++alerts.at(CountingMonitor::indexOf(payload.at("localPort"), payload.at("remotePort")));
    }
    int wrong = 0;
    for (uint32_t index = 0; index < kEvents && wrong < 10; ++index) {
        const Kind kind = kindOf(index);
        const bool ok = blocks[index] == (isDrop(kind) ? 1 : 0) &&
                        events[index] == (isDrop(kind) ? 0 : 1) &&
                        alerts[index] == (kind == Kind::AlertingDrop ? 1 : 0);
        if (!ok) {
            ++wrong;
            ADD_FAILURE() << "event " << index << ": " << int(blocks[index]) << " in Blocks, "
                          << int(events[index]) << " in Events, " << int(alerts[index])
                          << " alerts";
        }
    }
    EXPECT_EQ(sim::wfp::liveAllocations(), 0u);
    EXPECT_EQ(sim::wfp::badFrees(), 0u);
}

TEST_F(MonitorUnderLoad, StoppingInTheMiddleReturnsAndLosesNothingTaken) {
    constexpr uint32_t kRaised = 30000;
    auto monitor = std::make_unique<CountingMonitor>(kEvents);
    ASSERT_TRUE(monitor->startMonitoring(m_provider, std::make_shared<FWAlertApi>(kNamespace)));
    std::thread raiser([&] { raise(0, kRaised); });
    while (monitor->count() < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto stopped = std::async(std::launch::async, [&] { monitor->stopMonitoring(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "stopping hangs";
    const uint32_t taken = monitor->count();
    raiser.join();
    sim::wfp::waitIdle();
    EXPECT_EQ(monitor->count(), taken) << "no callback after the stop";
    EXPECT_LT(taken, kRaised) << "stopped in the middle";
    std::vector<bool> wasTaken(kEvents);
    for (uint32_t index = 0; index < kEvents; ++index) {
        wasTaken[index] = monitor->taken(index);
    }
    monitor.reset();

    const auto blocks = linesPerEvent(L"Blocks");
    const auto events = linesPerEvent(L"Events");
    uint32_t logged = 0;
    for (uint32_t index = 0; index < kEvents; ++index) {
        const int lines = blocks[index] + events[index];
        logged += static_cast<uint32_t>(lines);
        if (lines != (wasTaken[index] ? 1 : 0)) {
            ADD_FAILURE() << "event " << index << " taken " << wasTaken[index] << ", " << lines
                          << " lines";
            break;
        }
    }
    EXPECT_EQ(logged, taken);
}

}  // namespace
