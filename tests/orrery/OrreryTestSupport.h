// Shared by the store's tests: a private store folder, handles, change collection and helper
// programs in other processes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/WinHandles.h"
#include "settings_store/OrreryResources.h"
#include "tests/support/TempDir.h"

namespace tarn::test {

// A fresh store folder that the library uses while this object lives (TARN_ORRERY_ROOT).
class StoreRoot {
public:
    StoreRoot();
    ~StoreRoot();
    StoreRoot(const StoreRoot&) = delete;
    StoreRoot& operator=(const StoreRoot&) = delete;

    const std::wstring& path() const { return m_folder.path(); }
    std::wstring documentPath(const std::wstring& nameSpace) const {
        return m_folder.file(nameSpace + L".json");
    }
    // A handle that must open; the test fails otherwise.
    UniqueOrreryHandle open(const std::wstring& nameSpace = L"test") const;

private:
    TempDir m_folder;
};

// The value of a key as JSON text; nothing when the key is not set.
std::optional<std::string> storedJson(PyxOrreryHandle store, const std::wstring& key);

// Collects the keys that the library reports to a subscription.
class ChangeCollector {
public:
    static void WINAPI callback(const wchar_t* key, const void*, const void*, void* context);

    // Waits until at least `count` keys arrived; false when the time is up first.
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::vector<std::wstring> keys() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::wstring> m_keys;
};

// A program that lies beside the test program (the orrery tool, the helper writer).
std::wstring programBeside(const std::wstring& name);
// Starts a program with arguments (quoted by the Windows rules).
UniqueHandle startProgram(const std::wstring& name, const std::vector<std::wstring>& args);
// Runs a program to its end; its exit code, or ~0u when it could not run or timed out.
DWORD runProgram(const std::wstring& name, const std::vector<std::wstring>& args,
                 DWORD timeoutMs = 60000);

}  // namespace tarn::test
