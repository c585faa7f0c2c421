// Log lines per second into one file, from one thread and from two threads, as the system
// writes them: a level check, a streamed statement, the named mutex, a size check, one write.
//
//   LogLine/<limit KB>: the file rotates when it reaches the limit (50 KB is the default).
#include <benchmark/benchmark.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/logging/Log.h"
#include "common/logging/LoggerWin.h"
#include "common/registry/Win32Registry.h"
#include "platform/win.h"

namespace {

const wchar_t* const kLoggingKey = L"SOFTWARE\\Tarn\\PYX\\Logging";

std::wstring benchRoot() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"tarn-bench-logging-" + std::to_wstring(GetCurrentProcessId());
}

// One open log per size limit, shared by the threads of a run.
TarnPyxLogging::LoggerWin& benchLog(DWORD maxSizeKB) {
    static std::mutex mutex;
    static std::map<DWORD, std::unique_ptr<TarnPyxLogging::LoggerWin>> logs;
    std::lock_guard lock(mutex);
    auto& log = logs[maxSizeKB];
    if (!log) {
        const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
        const std::wstring name = L"Limit" + std::to_wstring(maxSizeKB);
        registry.writeString(kLoggingKey, L"RootPath", benchRoot());
        registry.writeDword(std::wstring(kLoggingKey) + L"\\Bench\\" + name, L"LogMaxSizeKB",
                            maxSizeKB);
        log = std::make_unique<TarnPyxLogging::LoggerWin>();
        log->open(nullptr, L"Bench", name.c_str(), TarnPyxLogging::LevelInfo, 0);
    }
    return *log;
}

void LogLine(benchmark::State& state) {
    auto& log = benchLog(static_cast<DWORD>(state.range(0)));
    static std::atomic<int> rule{0};
    const std::wstring name = L"Block outbound SMB";
    for (auto _ : state) {
        TARN_LOG_TO(log, TarnPyxLogging::LevelInfo)
            << "Firewall Rule Added: " << name << " #" << rule.fetch_add(1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogLine)->Arg(50)->Arg(10240)->Threads(1)->Threads(2)->UseRealTime();

// A statement below the level: the cost every disabled debug line pays.
void DisabledLine(benchmark::State& state) {
    auto& log = benchLog(10240);
    for (auto _ : state) {
        TARN_LOG_TO(log, TarnPyxLogging::LevelVerbose) << "never written " << 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DisabledLine)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The files and folders the runs made.
    for (const DWORD limit : {50u, 10240u}) {
        const std::wstring base =
            benchRoot() + L"\\Tarn\\Log\\Bench\\Limit" + std::to_wstring(limit);
        benchLog(limit).close();
        for (const wchar_t* suffix : {L".log", L".1.log", L".2.log"}) {
            DeleteFileW((base + suffix).c_str());
        }
    }
    for (const wchar_t* folder : {L"\\Tarn\\Log\\Bench", L"\\Tarn\\Log", L"\\Tarn", L""}) {
        RemoveDirectoryW((benchRoot() + folder).c_str());
    }
    return 0;
}
