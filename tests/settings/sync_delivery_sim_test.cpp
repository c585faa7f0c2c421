// The provider on a store library that delivers this process's own writes before the write
// returns, as a store library may: here every write hands its change to a callback thread and
// waits until the callbacks ran. A lock of the provider held across a write would then keep the
// callback from ever finishing; the wait has a limit, so that the deadlock shows as a failed
// test rather than a hung one.
//
// The store functions defined below take the place of the library's in this test program (the
// program's own definitions come first in the dynamic link) and forward to the library's.
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <thread>

#include "tests/settings/ProviderTestSupport.h"

namespace {

namespace keys = tarn::keys;
using namespace std::chrono_literals;

constexpr auto kDeliveryLimit = 5s;

template <typename Function>
Function library(const char* name) {
    void* const symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::abort();
    }
    return reinterpret_cast<Function>(symbol);
}

// The subscriptions and the callback thread of the synchronous library.
class SyncDelivery {
public:
    SyncDelivery() { s_current = this; }
    ~SyncDelivery() {
        s_current = nullptr;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    static SyncDelivery* current() { return s_current.load(); }

    void subscribe(PyxOrreryHandle handle, const wchar_t* key, PyxOrreryCallback callback,
                   void* context) {
        std::lock_guard lock(m_mutex);
        m_subscriptions.push_back({handle, key, callback, context});
    }
    // Drops the handle's subscriptions and waits for a running callback of it, as the library's
    // close does (except on the callback thread itself).
    void dropHandle(PyxOrreryHandle handle) {
        std::unique_lock lock(m_mutex);
        std::erase_if(m_subscriptions, [&](const auto& s) { return s.handle == handle; });
        if (std::this_thread::get_id() != m_thread.get_id()) {
            m_changed.wait(lock, [&] { return m_running != handle; });
        }
    }
    // Runs the callbacks of a written key on the callback thread and waits for them; a write
    // made by a callback is delivered after it, without waiting.
    void deliver(const wchar_t* key) {
        std::unique_lock lock(m_mutex);
        const uint64_t number = ++m_queued;
        m_jobs.push_back(key);
        m_changed.notify_all();
        if (std::this_thread::get_id() == m_thread.get_id()) {
            return;
        }
        if (!m_changed.wait_for(lock, kDeliveryLimit, [&] { return m_delivered >= number; })) {
            ++m_missed;
        }
    }
    // Deliveries that did not finish within the limit: a callback was blocked by the writer.
    size_t missed() {
        std::lock_guard lock(m_mutex);
        return m_missed;
    }

private:
    struct Subscription {
        PyxOrreryHandle handle;
        std::wstring key;
        PyxOrreryCallback callback;
        void* context;
    };

    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty()) {
                return;
            }
            const std::wstring key = std::move(m_jobs.front());
            m_jobs.pop_front();
            for (size_t i = 0; i < m_subscriptions.size(); ++i) {
                const Subscription s = m_subscriptions[i];
                if (key != s.key && !key.starts_with(s.key + L".")) {
                    continue;
                }
                m_running = s.handle;
                lock.unlock();
                s.callback(key.c_str(), nullptr, nullptr, s.context);
                lock.lock();
                m_running = nullptr;
                m_changed.notify_all();
            }
            ++m_delivered;
            m_changed.notify_all();
        }
    }

    static inline std::atomic<SyncDelivery*> s_current{nullptr};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Subscription> m_subscriptions;
    std::deque<std::wstring> m_jobs;
    uint64_t m_queued = 0;
    uint64_t m_delivered = 0;
    size_t m_missed = 0;
    PyxOrreryHandle m_running = nullptr;
    bool m_stopping = false;
    std::thread m_thread{[this] { run(); }};
};

int delivered(int code, const wchar_t* key) {
    if (SyncDelivery* delivery = SyncDelivery::current(); delivery != nullptr && code == 0) {
        delivery->deliver(key);
    }
    return code;
}

}  // namespace

extern "C" {

int WINAPI PyxOrrery_Subscribe(PyxOrreryHandle handle, const wchar_t* key,
                               PyxOrreryCallback callback, void* context) {
    static const auto real = library<decltype(&PyxOrrery_Subscribe)>("PyxOrrery_Subscribe");
    const int code = real(handle, key, callback, context);
    if (SyncDelivery* delivery = SyncDelivery::current(); delivery != nullptr && code == 0) {
        delivery->subscribe(handle, key, callback, context);
    }
    return code;
}

void WINAPI PyxOrrery_CloseHandle(PyxOrreryHandle handle) {
    static const auto real = library<decltype(&PyxOrrery_CloseHandle)>("PyxOrrery_CloseHandle");
    if (SyncDelivery* delivery = SyncDelivery::current()) {
        delivery->dropHandle(handle);
    }
    real(handle);
}

int WINAPI PyxOrrery_SetBool(PyxOrreryHandle handle, const wchar_t* key, int value) {
    static const auto real = library<decltype(&PyxOrrery_SetBool)>("PyxOrrery_SetBool");
    return delivered(real(handle, key, value), key);
}

int WINAPI PyxOrrery_SetString(PyxOrreryHandle handle, const wchar_t* key, const wchar_t* value) {
    static const auto real = library<decltype(&PyxOrrery_SetString)>("PyxOrrery_SetString");
    return delivered(real(handle, key, value), key);
}

int WINAPI PyxOrrery_SetInt32(PyxOrreryHandle handle, const wchar_t* key, int32_t value) {
    static const auto real = library<decltype(&PyxOrrery_SetInt32)>("PyxOrrery_SetInt32");
    return delivered(real(handle, key, value), key);
}

int WINAPI PyxOrrery_SetObjectFromStringUtf8(PyxOrreryHandle handle, const wchar_t* key,
                                             const char* json) {
    static const auto real =
        library<decltype(&PyxOrrery_SetObjectFromStringUtf8)>("PyxOrrery_SetObjectFromStringUtf8");
    return delivered(real(handle, key, json), key);
}

int WINAPI PyxOrrery_DeleteValue(PyxOrreryHandle handle, const wchar_t* key) {
    static const auto real = library<decltype(&PyxOrrery_DeleteValue)>("PyxOrrery_DeleteValue");
    return delivered(real(handle, key), key);
}

}  // extern "C"

namespace {

// Hears every change (through the provider, as its delegates do) and calls back into the
// provider: reads that take each of its locks, and one write. (Nothing here looks for the
// current profile: a dangling name is left for the scenario to reset.)
class CallingBackDelegate : public FWSettingsDelegate {
public:
    void onFWSettingChanged(const std::wstring& key) override {
        {
            std::lock_guard lock(m_mutex);
            m_heard.push_back(key);
        }
        settings->getList(keys::kStatusInstalledRules);
        settings->getOldNetworkSettings();
        settings->isNetworkIsolationEnabled();
        if (key == keys::kLanshareAllowRulesSubnet) {
            settings->setAutoselectedProfileName(L"home");
        }
    }
    bool heard(const std::wstring& key) {
        std::lock_guard lock(m_mutex);
        return std::find(m_heard.begin(), m_heard.end(), key) != m_heard.end();
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_heard.clear();
    }

    FWSettings* settings = nullptr;

private:
    std::mutex m_mutex;
    std::vector<std::wstring> m_heard;
};

class SynchronousDelivery : public tarn::test::ProviderTest {
protected:
    void SetUp() override {
        set(keys::kProfiles, R"([{"profile_name": "home", "rules": [{"name": "home rule"}]}])");
        start({delegate});
        delegate->settings = settings.get();
        // Every key reaches the provider, also those that it does not subscribe to itself: any
        // part of the process may listen to the store and ask the provider.
        for (const wchar_t* root : {L"windows", L"status", L"local"}) {
            ASSERT_EQ(PyxOrrery_Subscribe(listener.get(), root, &forward, settings.get()), 0);
        }
    }
    ~SynchronousDelivery() override {
        listener.reset();
        if (settings) {
            settings->stop();
        }
    }
    static void WINAPI forward(const wchar_t* key, const void*, const void*, void* context) {
        static_cast<FWSettings*>(context)->onSettingChanged(key);
    }

    SyncDelivery delivery;
    std::shared_ptr<CallingBackDelegate> delegate = std::make_shared<CallingBackDelegate>();
    tarn::UniqueOrreryHandle listener = root.open(L"test");
};

TEST_F(SynchronousDelivery, NoWriteOfTheProviderWaitsForItsOwnCallback) {
    struct Scenario {
        const char* name;
        std::function<void(FWSettings&)> act;
        const wchar_t* key;  // a key whose change the delegate must have heard by the return
        bool danglingName = false;
    };
    FWNetworkDefaultsSettings defaults;
    defaults.public_network.block_all_inbound = true;
    const Scenario scenarios[] = {
        {"storeList", [](FWSettings& s) { s.storeList(keys::kStatusInstalledRules); },
         keys::kStatusInstalledRules},
        {"storeOldNetworkSettings", [&](FWSettings& s) { s.storeOldNetworkSettings(defaults); },
         keys::kStatusOldNetworkDefaults},
        {"setAutoselectedProfileName", [](FWSettings& s) { s.setAutoselectedProfileName(L"x"); },
         keys::kCurrentAutoselectedProfileName},
        {"setLanshareAllowRulesParams",
         [](FWSettings& s) {
             s.setLanshareAllowRulesParams(LanshareSettings{true, true, 8080, L""}, L"10.0.0.5");
         },
         keys::kLanshareAllowRulesSubnet},
        {"resetProfileNameChangedByUser", [](FWSettings& s) { s.resetProfileNameChangedByUser(); },
         keys::kCurrentProfileNameChangedByUser},
        {"setOldInboundRulesDeleted", [](FWSettings& s) { s.setOldInboundRulesDeleted(); },
         keys::kStatusOldInboundRulesDeleted},
        {"setAllowedDnsFromRules", [](FWSettings& s) { s.setAllowedDnsFromRules({L"a.example"}); },
         keys::kStatusAllowedDnsFromRules},
        {"writeStatus", [](FWSettings& s) { s.writeStatus(FWCurrentSettings{}, false, {}, true); },
         keys::kStatusCombinedEnabled},
        {"getCurrentRules with a dangling name",
         [this](FWSettings& s) { s.getCurrentRules(resolved, reporter()); },
         keys::kCurrentProfileName, true},
        {"getCurrentSettings with a dangling name", [](FWSettings& s) { s.getCurrentSettings(); },
         keys::kCurrentProfileName, true},
    };
    for (const Scenario& scenario : scenarios) {
        if (scenario.danglingName) {
            set(keys::kCurrentProfileName, R"("gone")");
        }
        delegate->clear();
        const size_t missedBefore = delivery.missed();
        scenario.act(*settings);
        EXPECT_EQ(delivery.missed(), missedBefore) << scenario.name << ": a callback was blocked";
        EXPECT_TRUE(delegate->heard(scenario.key)) << scenario.name;
    }
    // The delegate's own write, made while the provider's write waited for it, followed in turn.
    EXPECT_EQ(stored(keys::kCurrentAutoselectedProfileName), R"("home")");
    EXPECT_EQ(stored(keys::kCurrentProfileName), std::nullopt);
}

}  // namespace
