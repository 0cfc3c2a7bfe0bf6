// The application list: one rebuild over the scripted backend, and on a real desktop the
// window list itself and a whole rebuild, with many extra top-level windows.

#include <memory>

#include <QProcess>
#include <benchmark/benchmark.h>

#include "bench.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"

namespace {

void PerWindow(benchmark::State& state)
{
    state.counters["per_window"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ApplistFake(benchmark::State& state)
{
    platform::FakePlatform fake;
    fake.setCpuUsage(37);
    fake.windowList = bench::FakeWindows(static_cast<int>(state.range(0)));
    TfrmMain form(fake);
    if (!bench::ShowStill(form)) {
        state.SkipWithError("the window was not shown");
        return;
    }
    for (auto _ : state) {
        form.Applist();
        fake.calls.clear();
    }
    PerWindow(state);
    state.counters["rows"] = form.AppCount - 1;
}
BENCHMARK(BM_ApplistFake)->ArgName("windows")->Arg(10)->Arg(50)->Arg(200)->Arg(1000);

// Extra top-level windows on the display, held by the test tool xtool (MIREBO_XTOOL, which
// scripts/with-desktop.sh provides): all of one process, as a program with many windows has.
class ExtraWindows {
public:
    ~ExtraWindows() { Stop(); }

    // Makes exactly `count` of them exist, mapped and listed by the window manager; false when
    // that cannot be done (no xtool, or no window manager listing them within 30 s).
    bool Ensure(int count)
    {
        if (tool_ && tool_->state() == QProcess::Running && count_ == count)
            return true;
        Stop();
        const QString xtool = qEnvironmentVariable("MIREBO_XTOOL");
        if (xtool.isEmpty())
            return false;
        tool_ = std::make_unique<QProcess>();
        tool_->start(xtool, {QStringLiteral("--count"), QString::number(count)});
        count_ = count;
        return tool_->waitForReadyRead(60000) && tool_->readLine().trimmed() == "ready";
    }

private:
    void Stop()
    {
        if (tool_ && tool_->state() != QProcess::NotRunning) {
            tool_->kill();   // its windows go with its connection
            tool_->waitForFinished();
        }
        tool_.reset();
    }

    std::unique_ptr<QProcess> tool_;
    int count_ = 0;
};

// Kept from one benchmark run to the next: making and managing 200 windows takes a while.
ExtraWindows extraWindows;

bool Desktop(benchmark::State& state)
{
    if (!bench::OnX()) {
        state.SkipWithError("needs an X display with a window manager (scripts/with-desktop.sh)");
        return false;
    }
    if (!extraWindows.Ensure(static_cast<int>(state.range(0)))) {
        state.SkipWithError("xtool did not put up the extra windows (is MIREBO_XTOOL set?)");
        return false;
    }
    return true;
}

void BM_X11Windows(benchmark::State& state)
{
    if (!Desktop(state))
        return;
    platform::LinuxPlatform backend;
    std::size_t listed = 0;
    for (auto _ : state) {
        const auto windows = backend.windows();
        listed = windows.size();
        benchmark::DoNotOptimize(windows.data());
    }
    PerWindow(state);
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_X11Windows)->ArgName("windows")->Arg(10)->Arg(50)->Arg(200)->UseRealTime();

void BM_X11Applist(benchmark::State& state)
{
    if (!Desktop(state))
        return;
    platform::LinuxPlatform backend;
    TfrmMain form(backend);
    if (!bench::ShowStill(form)) {
        state.SkipWithError("the window was not shown");
        return;
    }
    for (auto _ : state)
        form.Applist();
    PerWindow(state);
    state.counters["rows"] = form.AppCount - 1;
}
BENCHMARK(BM_X11Applist)->ArgName("windows")->Arg(10)->Arg(50)->Arg(200)->UseRealTime();

}  // namespace
