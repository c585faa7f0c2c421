// A private settings store folder for one benchmark run, removed at its end; the store of the
// namespace "bench" lives in it.
#pragma once

#include <string>

#include "platform/win.h"
#include "settings_store/OrreryResources.h"

namespace tarn::bench {

class BenchRoot {
public:
    // `name` tells the runs of different benchmarks apart in the temporary folder.
    explicit BenchRoot(const std::wstring& name) {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        m_path = std::wstring(temp) + L"tarn-bench-" + name + L"-" +
                 std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_path.c_str(), nullptr);
        SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", m_path.c_str());
    }
    ~BenchRoot() {
        for (const wchar_t* file : {L"\\bench.json", L"\\bench.lock"}) {
            DeleteFileW((m_path + file).c_str());
        }
        RemoveDirectoryW(m_path.c_str());
    }
    BenchRoot(const BenchRoot&) = delete;
    BenchRoot& operator=(const BenchRoot&) = delete;

    UniqueOrreryHandle open() const {
        return UniqueOrreryHandle(PyxOrrery_OpenHandle(L"bench", L"S-1-5-18", L"bench", nullptr));
    }

private:
    std::wstring m_path;
};

}  // namespace tarn::bench
