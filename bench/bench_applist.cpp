// The application list: one rebuild over the scripted backend, and on a real desktop the
// window list itself and a whole rebuild, with many extra top-level windows.

#include <xcb/xcb.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

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

// Extra top-level windows on the display, made over a connection of their own. Each claims a
// live process of this machine as its owner (in turn, when there are fewer processes than
// windows), so that the list has one row per process as a busy desktop would.
class ExtraWindows {
public:
    ~ExtraWindows()
    {
        if (c_ != nullptr)
            xcb_disconnect(c_);
    }

    // Makes exactly `count` of them exist, mapped and listed by the window manager; false when
    // that cannot be done within 30 s (no window manager, for one).
    bool Ensure(int count)
    {
        if (!Connect())
            return false;
        while (static_cast<int>(windows_.size()) > count) {
            xcb_destroy_window(c_, windows_.back());
            windows_.pop_back();
        }
        while (static_cast<int>(windows_.size()) < count)
            Create(static_cast<int>(windows_.size()));
        xcb_flush(c_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (Listed() != windows_.size()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    bool Connect()
    {
        if (c_ != nullptr)
            return !xcb_connection_has_error(c_);
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_))
            return false;
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        stacking_ = Atom("_NET_CLIENT_LIST_STACKING");
        netWmName_ = Atom("_NET_WM_NAME");
        netWmPid_ = Atom("_NET_WM_PID");
        utf8_ = Atom("UTF8_STRING");
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            std::uint32_t pid = 0;
            if (std::from_chars(name.data(), name.data() + name.size(), pid).ptr ==
                name.data() + name.size())
                pids_.push_back(pid);
        }
        return !pids_.empty();
    }

    xcb_atom_t Atom(const char* name)
    {
        const auto cookie = xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c_, cookie, nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }

    void Create(int i)
    {
        const xcb_window_t w = xcb_generate_id(c_);
        const std::uint32_t background = screen_->white_pixel;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen_->root, (i * 37) % 900,
                          40 + (i * 23) % 680, 120, 24, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen_->root_visual, XCB_CW_BACK_PIXEL, &background);
        const std::string title = "作業ウィンドウ " + std::to_string(i + 1);
        const std::uint32_t pid = pids_[static_cast<std::size_t>(i) % pids_.size()];
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, netWmName_, utf8_, 8,
                            static_cast<std::uint32_t>(title.size()), title.data());
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, netWmPid_, XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_map_window(c_, w);
        windows_.push_back(w);
    }

    // How many of our windows the window manager's stacking list holds.
    std::size_t Listed()
    {
        const auto cookie =
            xcb_get_property(c_, 0, screen_->root, stacking_, XCB_ATOM_WINDOW, 0, 1u << 16);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(c_, cookie, nullptr);
        std::size_t found = 0;
        if (reply != nullptr && reply->format == 32) {
            const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            const auto* last = first + xcb_get_property_value_length(reply) / 4;
            for (const xcb_window_t w : windows_)
                found += std::find(first, last, w) != last;
        }
        std::free(reply);
        return found;
    }

    xcb_connection_t* c_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_atom_t stacking_ = XCB_NONE, netWmName_ = XCB_NONE, netWmPid_ = XCB_NONE, utf8_ = XCB_NONE;
    std::vector<std::uint32_t> pids_;
    std::vector<xcb_window_t> windows_;
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
        state.SkipWithError("the window manager did not list the extra windows");
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
