// Shared by the settings provider's tests: a private store, a provider on it, a scheduler with
// a clock that the test moves, and delegates that record what they hear.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "settings/FWSettings.h"
#include "settings_store/OrreryKeys.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace tarn::test {

class FakeClockScheduler : public Tarn::TaskScheduler {
public:
    void advance(std::chrono::milliseconds delta) {
        m_now += delta.count() * 10000;
        wake();
    }
    // Returns once the running loop executed every task due now: a task due now runs after
    // them.
    void settle() {
        std::promise<void> ran;
        schedule(std::make_unique<Tarn::UniqueFuncTask>("settle", [&ran] { ran.set_value(); }),
                 std::chrono::milliseconds(0));
        ran.get_future().wait();
    }

protected:
    Ticks now() override { return m_now.load(); }

private:
    std::atomic<Ticks> m_now{1'000'000'000};
};

// Remembers every key it is told of; waits (only until they arrive) for keys.
// The names of rules, in order.
inline std::vector<std::wstring> namesOf(const std::vector<FWRule>& rules) {
    std::vector<std::wstring> names;
    for (const auto& rule : rules) {
        names.push_back(rule.name);
    }
    return names;
}

class RecordingDelegate : public FWSettingsDelegate {
public:
    void onFWSettingChanged(const std::wstring& key) override {
        std::lock_guard lock(m_mutex);
        m_keys.push_back(key);
        m_arrived.notify_all();
    }
    // Waits until `key` arrived `times` times (or 10 s passed: false).
    bool waitFor(const std::wstring& key, size_t times = 1) {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return count(key) >= times; });
    }
    size_t countOf(const std::wstring& key) {
        std::lock_guard lock(m_mutex);
        return count(key);
    }
    std::vector<std::wstring> keys() {
        std::lock_guard lock(m_mutex);
        return m_keys;
    }

private:
    size_t count(const std::wstring& key) const {
        return static_cast<size_t>(std::count(m_keys.begin(), m_keys.end(), key));
    }
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::wstring> m_keys;
};

// Host names (lower case) resolve from a fixed table instead of the DNS cache.
class FixedDnsSettings : public FWSettings {
public:
    using FWSettings::FWSettings;
    std::map<std::wstring, std::vector<std::wstring>> hosts;

    std::shared_ptr<tarn::RuleHostAddressNormalizer> createAddrNormalizer() override {
        return std::make_shared<tarn::RuleHostAddressNormalizer>([this](const std::wstring& h) {
            const auto found = hosts.find(str::toLower(h));  // as the DNS cache does
            return found == hosts.end() ? std::vector<std::wstring>() : found->second;
        });
    }
};

// One refused (or partly applied) rule as the reporter saw it.
struct Report {
    std::wstring name;
    std::wstring reason;
    std::wstring invalidPart;
    bool operator==(const Report&) const = default;
};

inline void PrintTo(const Report& r, std::ostream* os) {
    *os << str::toUtf8(r.name + L" | " + r.reason + L" | " + r.invalidPart);
}

}  // namespace tarn::test

inline void PrintTo(const FWCurrentSettings& s, std::ostream* os) {
    *os << "{" << tarn::str::toUtf8(s.profileName) << ", "
        << tarn::str::toUtf8(s.profileVisibleName) << ", winfw " << s.winfwEnabled << ", other "
        << s.allowOtherRules << ", firewall " << s.firewallEnabled << ", isolation "
        << s.networkIsolationEnabled << ", isolation other " << s.isolationAllowOtherRules
        << ", defaults " << nlohmann::json(s.networkDefaults).dump() << "}";
}

namespace tarn::test {

class ProviderTest : public ::testing::Test {
protected:
    ~ProviderTest() override {
        if (settings) {
            settings->stop();
        }
    }

    // Starts a provider (host names from `hosts`) with the given delegates.
    void start(std::vector<std::shared_ptr<FWSettingsDelegate>> delegates = {}) {
        auto fixed = std::make_shared<FixedDnsSettings>(L"test", scheduler, makeSharedEvent());
        fixed->hosts = hosts;
        settings = fixed;
        ASSERT_TRUE(settings->start(std::move(delegates)));
    }
    // Starts a provider whose host names go through its DNS cache.
    void startWithDnsCache() {
        settings = std::make_shared<FWSettings>(L"test", scheduler, makeSharedEvent());
        ASSERT_TRUE(settings->start({}));
    }
    // Stores a JSON value under a key.
    void set(const std::wstring& key, const std::string& json) {
        ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(store.get(), key.c_str(), json.c_str()), 0)
            << str::toUtf8(key) << " = " << json;
    }
    std::optional<std::string> stored(const std::wstring& key) {
        const UniqueOrreryObject object(PyxOrrery_GetObject(store.get(), key.c_str(), nullptr));
        if (!object) {
            return std::nullopt;
        }
        const UniqueOrreryString text(PyxOrrery_ObjectToStringUtf8(object.get()));
        return std::string(static_cast<const char*>(text.get()));
    }
    InvalidRuleReporter reporter() {
        return [this](const FWRule& rule, const std::wstring& reason, const std::wstring& part) {
            reports.push_back({rule.name, reason, part});
        };
    }
    // The rules of a JSON array read through the provider.
    std::vector<FWRule> readRules(const std::string& arrayJson) {
        set(L"test.rules", arrayJson);
        std::vector<FWRule> rules;
        settings->readRulesFromRulesArray(
            UniqueOrreryObject(PyxOrrery_GetObject(store.get(), L"test.rules", nullptr)), rules,
            resolved, reporter());
        return rules;
    }

    StoreRoot root;
    UniqueOrreryHandle store = root.open(L"test");
    FakeClockScheduler scheduler;
    std::map<std::wstring, std::vector<std::wstring>> hosts;
    std::shared_ptr<FWSettings> settings;
    std::vector<Report> reports;
    std::vector<std::wstring> resolved;
};

}  // namespace tarn::test
