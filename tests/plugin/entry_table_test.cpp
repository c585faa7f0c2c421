// The function table that CarrierPluginCreateContext hands to the host, and what each entry
// does with the plug-in object.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plugin/PluginEntry.h"

namespace {

struct Calls {
    int initialize = 0;
    int main = 0;
    int notify = 0;
    int stop = 0;
    std::vector<bool> flags;
    bool destroyed = false;
};

class RecordingPlugin : public TarnCarrierPlugin {
public:
    RecordingPlugin(Calls& calls, uint32_t initializeResult = 0, bool flagResult = true)
        : m_calls(calls), m_initializeResult(initializeResult), m_flagResult(flagResult) {}
    ~RecordingPlugin() override { m_calls.destroyed = true; }

    uint32_t PluginInitialize() override {
        ++m_calls.initialize;
        return m_initializeResult;
    }
    uint32_t PluginMain() override {
        ++m_calls.main;
        return 7;
    }
    void PluginNotify() override { ++m_calls.notify; }
    void PluginStop() override { ++m_calls.stop; }
    bool PluginSetFlag(bool flag) override {
        m_calls.flags.push_back(flag);
        return m_flagResult;
    }

private:
    Calls& m_calls;
    uint32_t m_initializeResult;
    bool m_flagResult;
};

// A host interface that hands out one copy of its name and counts the releases.
struct FakeHost {
    std::wstring name = L"tenant-a";
    std::vector<std::wstring> handedOut;
    int released = 0;
    CarrierHostInterface table{};

    FakeHost() {
        table.hostContext = this;
        table.getNamespaceName = &getName;
        table.releaseString = &release;
        s_current = this;
    }

    static const wchar_t* WINAPI getName(void* context) {
        auto* host = static_cast<FakeHost*>(context);
        host->handedOut.push_back(host->name);
        return host->handedOut.back().c_str();
    }
    // The release gets only the string: the test has one host at a time.
    static void WINAPI release(const wchar_t*) { ++s_current->released; }
    static inline FakeHost* s_current = nullptr;
};

const wchar_t* WINAPI noName(void*) {
    return nullptr;
}

TEST(CarrierPluginTable, HasSevenPointerSizedWords) {
    EXPECT_EQ(sizeof(CarrierPluginContext), 7 * sizeof(void*));
}

// The host receives min(size, table size) bytes; nothing beyond them is touched.
TEST(CarrierPluginTable, CopiesAtMostItsOwnSizeAndNeverBeyondTheGivenSize) {
    Calls calls;
    const CarrierPluginContext table =
        makeCarrierPluginContext(std::make_unique<RecordingPlugin>(calls));
    const size_t full = sizeof table;
    for (const size_t size :
         {size_t{0}, size_t{1}, sizeof(void*), full - 1, full, full + 1, full * 3}) {
        std::vector<unsigned char> destination(full * 4, 0xAB);
        EXPECT_EQ(copyCarrierPluginContext(table, destination.data(), static_cast<uint32_t>(size)),
                  destination.data());
        const size_t copied = std::min(size, full);
        EXPECT_EQ(std::memcmp(destination.data(), &table, copied), 0) << "size " << size;
        for (size_t i = copied; i < destination.size(); ++i) {
            ASSERT_EQ(destination[i], 0xAB) << "size " << size << ", byte " << i;
        }
    }
    table.destroy(table.plugin);
    EXPECT_TRUE(calls.destroyed);
}

TEST(CarrierPluginTable, ANullTableIsReturnedUntouched) {
    Calls calls;
    const CarrierPluginContext table =
        makeCarrierPluginContext(std::make_unique<RecordingPlugin>(calls));
    EXPECT_EQ(copyCarrierPluginContext(table, nullptr, 28), nullptr);
    table.destroy(table.plugin);
}

TEST(CarrierPluginTable, EachEntryReachesItsOperation) {
    Calls calls;
    FakeHost host;
    const CarrierPluginContext table =
        makeCarrierPluginContext(std::make_unique<RecordingPlugin>(calls, 3));
    auto* plugin = static_cast<TarnCarrierPlugin*>(table.plugin);

    EXPECT_EQ(table.initialize(table.plugin, &host.table), 3u);
    EXPECT_EQ(calls.initialize, 1);
    EXPECT_EQ(plugin->namespaceName(), L"tenant-a");
    EXPECT_EQ(host.released, 1) << "the host's string is released after the copy";

    EXPECT_EQ(table.main(table.plugin, 99), 7u);
    table.stop(table.plugin);
    table.notify(table.plugin, 5);
    EXPECT_EQ(calls.main, 1);
    EXPECT_EQ(calls.stop, 1);
    EXPECT_EQ(calls.notify, 0) << "the notification entry does nothing";

    EXPECT_FALSE(calls.destroyed);
    table.destroy(table.plugin);
    EXPECT_TRUE(calls.destroyed);
    table.destroy(nullptr);  // a null context is ignored
}

// The flagged initialise entry takes the namespace too and inverts the flag operation's answer.
TEST(CarrierPluginTable, FlaggedInitialiseReportsZeroWhenTheFlagIsAccepted) {
    for (const bool accepted : {true, false}) {
        Calls calls;
        FakeHost host;
        host.name = L"tenant-b";
        const CarrierPluginContext table =
            makeCarrierPluginContext(std::make_unique<RecordingPlugin>(calls, 0, accepted));
        EXPECT_EQ(table.initializeWithFlag(table.plugin, &host.table, 2), accepted ? 0u : 1u);
        EXPECT_EQ(table.initializeWithFlag(table.plugin, &host.table, 0), accepted ? 0u : 1u);
        EXPECT_EQ(calls.flags, (std::vector<bool>{true, false}));
        EXPECT_EQ(calls.initialize, 0);
        EXPECT_EQ(static_cast<TarnCarrierPlugin*>(table.plugin)->namespaceName(), L"tenant-b");
        EXPECT_EQ(host.released, 2);
        table.destroy(table.plugin);
    }
}

TEST(CarrierPluginTable, AHostWithoutNameLeavesTheNamespaceEmpty) {
    Calls calls;
    CarrierHostInterface silent{};
    silent.getNamespaceName = &noName;
    const CarrierPluginContext table =
        makeCarrierPluginContext(std::make_unique<RecordingPlugin>(calls));
    EXPECT_EQ(table.initialize(table.plugin, &silent), 0u);
    EXPECT_EQ(static_cast<TarnCarrierPlugin*>(table.plugin)->namespaceName(), L"");
    table.destroy(table.plugin);
}

}  // namespace
