// The application list: one rebuild over the scripted backend, and on a real desktop the
// window list itself (a refresh when nothing changed, and one after each change) and a whole
// rebuild, with many extra top-level windows held by many processes.
//
// Besides the time per iteration, the X benchmarks report the X server's processor time per
// iteration (server_us; scripts/with-desktop.sh names the server's process), since a window list
// costs the server as much as it costs us.

#include <xcb/xcb.h>

#include <cstdio>
#include <fstream>
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

// The X server's processor time so far, in microseconds; 0 when it cannot be read.
double ServerMicros()
{
    const QString pid = qEnvironmentVariable("MIREBO_DESKTOP_SERVER_PID");
    std::ifstream schedstat("/proc/" + pid.toStdString() + "/schedstat");
    double ns = 0;
    if (pid.isEmpty() || !(schedstat >> ns))
        return 0;
    return ns / 1000;
}

// Extra top-level windows on the display, held by the test tool xtool (MIREBO_XTOOL, which
// scripts/with-desktop.sh provides): processes of at most 50 windows each.
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
        tool_->start(xtool, {QStringLiteral("--count"), QString::number(count),
                             QStringLiteral("--per-process"), QStringLiteral("50")});
        count_ = count;
        if (!tool_->waitForReadyRead(120000) || tool_->readLine().trimmed() != "ready")
            return false;
        Settle();
        return true;
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

    // Waits (at most 30 s) until the window manager has done with the windows that came and
    // went, so that its work does not count against what is measured next: until the X server
    // spends less than 1 % of a core for a while.
    static void Settle()
    {
        for (int i = 0; i < 150; ++i) {
            const double before = ServerMicros();
            QTest::qWait(200);
            if (ServerMicros() - before < 2000)
                return;
        }
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

class ServerTime {
public:
    explicit ServerTime(benchmark::State& state) : state_(state), start_(ServerMicros()) {}
    ~ServerTime()
    {
        state_.counters["server_us"] = benchmark::Counter(
            ServerMicros() - start_, benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State& state_;
    double start_;
};

// A refresh when nothing changed: what the program pays ten times a second at the fast setting.
void BM_X11Windows(benchmark::State& state)
{
    if (!Desktop(state))
        return;
    platform::LinuxPlatform backend;
    std::size_t listed = backend.windows().size();
    {
        ServerTime server(state);
        for (auto _ : state) {
            const auto windows = backend.windows();
            listed = windows.size();
            benchmark::DoNotOptimize(windows.data());
        }
    }
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_X11Windows)->ArgName("windows")->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->UseRealTime();

// A window of another client that is retitled or raised once per iteration, the server having
// taken the change before the refresh runs (one round trip of that client's, counted in).
class Changer {
public:
    Changer()
    {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 10, 10, 100, 30, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        Retitle(0);
        xcb_map_window(c_, window_);
        Sync();
    }
    ~Changer() { xcb_disconnect(c_); }
    bool ok() const { return xcb_connection_has_error(c_) == 0; }

    void Change(std::int64_t n)
    {
        if (n % 2 == 0) {
            Retitle(n);
        } else {
            const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
            xcb_configure_window(c_, window_, XCB_CONFIG_WINDOW_STACK_MODE, above);
        }
        Sync();
    }

private:
    void Retitle(std::int64_t n)
    {
        const std::string title = "変わる窓 " + std::to_string(n);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING,
                            8, static_cast<std::uint32_t>(title.size()), title.data());
    }
    void Sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = XCB_NONE;
};

// A refresh after one change (a new title, or a raise, in turn).
void BM_X11WindowsChange(benchmark::State& state)
{
    if (!Desktop(state))
        return;
    Changer changer;
    if (!changer.ok()) {
        state.SkipWithError("no X connection for the changing window");
        return;
    }
    platform::LinuxPlatform backend;
    backend.windows();
    std::int64_t n = 0;
    {
        ServerTime server(state);
        for (auto _ : state) {
            changer.Change(++n);
            const auto windows = backend.windows();
            benchmark::DoNotOptimize(windows.data());
        }
    }
}
BENCHMARK(BM_X11WindowsChange)->ArgName("windows")->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->UseRealTime();

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
    {
        ServerTime server(state);
        for (auto _ : state)
            form.Applist();
    }
    state.counters["rows"] = form.AppCount - 1;
}
BENCHMARK(BM_X11Applist)->ArgName("windows")->Arg(10)->Arg(50)->Arg(200)->Arg(1000)->UseRealTime();

}  // namespace
