// One refresh tick: the whole cycle on the scripted backend, and the system reads a tick makes
// on the real one.

#include <benchmark/benchmark.h>

#include "bench.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"

namespace {

// Memory figures, both charts, both processor samples, the tray icon and the application list
// of 20 windows. The fake records every call; its records are dropped after each tick so they do
// not pile up, and that is counted in.
void BM_TickFake(benchmark::State& state)
{
    platform::FakePlatform fake;
    fake.setCpuUsage(37);
    fake.windowList = bench::FakeWindows(20);
    TfrmMain form(fake);
    if (!bench::ShowStill(form)) {
        state.SkipWithError("the window was not shown");
        return;
    }
    for (auto _ : state) {
        form.timRefTimer();
        fake.calls.clear();
        fake.trayCalls.clear();
    }
    state.counters["rows"] = form.AppCount - 1;
}
BENCHMARK(BM_TickFake);

// What a tick asks the Linux backend for, in the order and form the cycle asks it: the memory
// status, then the processor sample from each statistics key (size and type first, then data).
void BM_TickReadsLinux(benchmark::State& state)
{
    static const std::string keys[] = {"PerfStats\\StartStat", "PerfStats\\StatData"};
    static const std::string value = "KERNEL\\CPUUsage";
    platform::LinuxPlatform backend;
    long failures = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(backend.memoryStatus());
        for (const std::string& path : keys) {
            platform::StatKey key = 0;
            failures += backend.regOpenKey(platform::kDynDataRoot, path, &key) != 0;
            std::uint32_t type = 0;
            std::uint32_t size = 0;
            failures += backend.regQueryValue(key, value, &type, nullptr, &size) != 0;
            unsigned char sample[4] = {};
            size = sizeof sample;
            failures += backend.regQueryValue(key, value, &type, sample, &size) != 0;
            benchmark::DoNotOptimize(sample);
            backend.regCloseKey(key);
        }
    }
    if (failures != 0)
        state.SkipWithError("a statistics read failed");
}
BENCHMARK(BM_TickReadsLinux);

}  // namespace
