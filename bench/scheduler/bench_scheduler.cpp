// Scheduling and running tasks: what the host thread's loop costs per task.
#include <benchmark/benchmark.h>

#include <thread>

#include "common/TaskScheduler.h"

namespace {

using namespace std::chrono_literals;

class CountingTask : public Tarn::Task {
public:
    explicit CountingTask(int64_t& count) : Task("count", false), m_count(count) {}
    void execute() override { ++m_count; }

private:
    int64_t& m_count;
};

// One thread schedules a batch of due tasks, then the loop runs them.
void BM_ScheduleThenRun(benchmark::State& state) {
    const auto batch = state.range(0);
    int64_t ran = 0;
    for (auto _ : state) {
        Tarn::TaskScheduler scheduler;
        for (int64_t i = 0; i < batch; ++i) {
            scheduler.schedule(std::make_unique<CountingTask>(ran), 0ms);
        }
        scheduler.schedule(
            std::make_unique<Tarn::UniqueFuncTask>("stop", [&] { scheduler.stop(false); }), 0ms);
        scheduler.run();
    }
    state.SetItemsProcessed(ran);
}
BENCHMARK(BM_ScheduleThenRun)->Arg(100)->Arg(1000);

// Another thread schedules while the loop runs: the hand-over through the condition variable.
void BM_ScheduleFromOtherThread(benchmark::State& state) {
    const auto batch = state.range(0);
    int64_t ran = 0;
    for (auto _ : state) {
        Tarn::TaskScheduler scheduler;
        std::thread producer([&] {
            for (int64_t i = 0; i < batch; ++i) {
                scheduler.schedule(std::make_unique<CountingTask>(ran), 0ms);
            }
            scheduler.schedule(
                std::make_unique<Tarn::UniqueFuncTask>("stop", [&] { scheduler.stop(false); }),
                0ms);
        });
        scheduler.run();
        producer.join();
    }
    state.SetItemsProcessed(ran);
}
BENCHMARK(BM_ScheduleFromOtherThread)->Arg(1000)->UseRealTime();

// A unique task scheduled again while it waits: the trigger pattern of the settings.
void BM_RescheduleUniqueTask(benchmark::State& state) {
    Tarn::TaskScheduler scheduler;
    for (int i = 0; i < 50; ++i) {
        scheduler.schedule(
            std::make_unique<Tarn::UniqueFuncTask>("other" + std::to_string(i), [] {}), 60000ms);
    }
    for (auto _ : state) {
        scheduler.schedule(std::make_unique<Tarn::UniqueFuncTask>("trigger", [] {}), 2000ms);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RescheduleUniqueTask);

}  // namespace

BENCHMARK_MAIN();
