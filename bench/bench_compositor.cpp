// What a Wayland compositor's window list costs: on every tick (sway's list kept current by its
// events, merged with the X11 list), per event sway sends, and once per connection (get_tree).
// The sway here is a stand-in on a Unix socket that answers the way sway 1.7 does, with views
// described as fully as sway describes them.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "platform/linux/wayland/compositor.h"
#include "platform/linux/merge/mergewindows.h"
#include "platform/linux/wayland/swayipc.h"
#include "platform/linux/wayland/swaytree.h"

using namespace platform::linux_impl;

namespace {

std::string Rect(int x, int y, int w, int h)
{
    return R"({"x": )" + std::to_string(x) + R"(, "y": )" + std::to_string(y) + R"(, "width": )" +
           std::to_string(w) + R"(, "height": )" + std::to_string(h) + "}";
}

// One view as sway 1.7's get_tree describes it; X11 views carry their window's properties.
std::string View(int id, bool x11)
{
    std::string view = R"({"id": )" + std::to_string(id) +
        R"(, "type": "con", "orientation": "none", "percent": 0.02, "urgent": false, "marks": [],)"
        R"( "focused": false, "layout": "none", "border": "normal", "current_border_width": 2, "rect": )" +
        Rect(id % 900, 25, 640, 672) + R"(, "deco_rect": )" + Rect(0, 0, 640, 25) +
        R"(, "window_rect": )" + Rect(2, 0, 636, 670) + R"(, "geometry": )" + Rect(0, 0, 700, 500) +
        R"(, "name": "文書)" + std::to_string(id) + R"(.txt - テキストエディタ", "nodes": [],)"
        R"( "floating_nodes": [], "focus": [], "fullscreen_mode": 0, "sticky": false, "pid": )" +
        std::to_string(2000 + id) + R"(, "visible": true, "max_render_time": 0,)"
        R"( "inhibit_idle": false, "idle_inhibitors": {"user": "none", "application": "none"}, )";
    if (x11) {
        view += R"("shell": "xwayland", "window": )" + std::to_string(0x400000 + id) +
                R"(, "window_properties": {"class": "Editor", "instance": "editor", "title": "文書",)"
                R"( "transient_for": null, "window_type": "normal"}})";
    } else {
        view += R"("shell": "xdg_shell", "app_id": "org.example.Editor"})";
    }
    return view;
}

// A tree of `count` views on one workspace, every other one an X11 one.
std::string Tree(int count)
{
    std::string views, focus;
    for (int i = 0; i < count; ++i) {
        views += (i ? ", " : "") + View(100 + i, i % 2 == 1);
        focus += (i ? ", " : "") + std::to_string(100 + i);
    }
    return R"({"id": 1, "type": "root", "name": "root", "rect": )" + Rect(0, 0, 1280, 720) +
           R"(, "focus": [3], "nodes": [{"id": 3, "type": "output", "name": "HEADLESS-1", "focus": [4],)"
           R"( "nodes": [{"id": 4, "type": "workspace", "name": "1", "layout": "splith", "focus": [)" +
           focus + R"(], "nodes": [)" + views + R"(], "floating_nodes": []}]}]})";
}

// The X11 list that goes with the tree: its X11 views, and as many X11 windows sway does not
// show (withdrawn ones, say).
std::vector<platform::WindowInfo> X11Windows(int count)
{
    std::vector<platform::WindowInfo> windows;
    for (int i = 0; i < count; ++i) {
        const bool shown = i % 2 == 1;
        windows.push_back({static_cast<std::uint64_t>(shown ? 0x400000 + 100 + i : 0x600000 + i),
                           "文書" + std::to_string(i), shown, static_cast<std::uint32_t>(2000 + 100 + i),
                           100000u + static_cast<std::uint64_t>(i)});
    }
    return windows;
}

class StandInSway {
public:
    explicit StandInSway(std::string tree) : tree_(std::move(tree))
    {
        path_ = dir_.path().toStdString() + "/sway-ipc.sock";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 4) != 0)
            path_.clear();
        thread_ = std::thread([this] { Serve(); });
    }
    ~StandInSway()
    {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        for (const int fd : open_)
            ::close(fd);
    }
    const std::string& path() const { return path_; }

private:
    // Answers each connection's requests until it has subscribed (then it stays open, idle, as
    // on a desktop where nothing changes) or had its command answered.
    void Serve()
    {
        while (!stop_) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            open_.push_back(fd);
            std::string inbox;
            for (bool done = false; !done && !stop_;) {
                char buffer[4096];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                inbox.append(buffer, static_cast<std::size_t>(n));
                std::string_view rest = inbox;
                bool bad = false;
                while (auto message = takeSwayMessage(rest, &bad)) {
                    std::string reply = R"([{"success": true}])";
                    if (message->type == kSwayGetTree) {
                        reply = tree_;
                        done = true;
                    } else if (message->type == kSwayRunCommand) {
                        done = true;
                    }
                    const std::string frame = swayFrame(message->type, reply);
                    ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
                }
                inbox.erase(0, inbox.size() - rest.size());
            }
        }
    }

    QTemporaryDir dir_;
    std::string path_, tree_;
    int listener_ = -1;
    std::vector<int> open_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One tick's share: the compositor's list brought up to date (no events waiting) and merged
// with a fresh X11 list, as LinuxPlatform::windows() does after the X11 query.
void BM_CompositorTick(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    StandInSway sway(Tree(count));
    Compositor compositor(sway.path());
    const auto x11 = X11Windows(count);
    // sway answers the connection while the benchmark waits.
    for (int i = 0; i < 1000 && compositor.windows(x11).size() == x11.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::size_t listed = 0;
    for (auto _ : state) {
        auto windows = compositor.windows(x11);
        listed = windows.size();
        benchmark::DoNotOptimize(windows.data());
    }
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_CompositorTick)->ArgName("sway_views")->Arg(10)->Arg(50)->Arg(200);

// The merge alone, on the same lists.
void BM_MergeWindows(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    SwayViews views([](std::uint32_t pid) { return pid * 7ull; });
    views.reset(*parseSwayTree(QByteArray::fromStdString(Tree(count))));
    const auto x11 = X11Windows(count);
    for (auto _ : state) {
        auto merged = mergeWindows(x11, views.windows());
        benchmark::DoNotOptimize(merged.data());
    }
}
BENCHMARK(BM_MergeWindows)->ArgName("sway_views")->Arg(10)->Arg(50)->Arg(200);

// The same for a compositor that does not say which windows are X11 ones (KWin): telling them
// apart by the X11 list first, then the merge.
void BM_MergeUnmarkedWindows(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    SwayViews views([](std::uint32_t pid) { return pid * 7ull; });
    views.reset(*parseSwayTree(QByteArray::fromStdString(Tree(count))));
    const auto x11 = X11Windows(count);
    auto kwin = views.windows();
    for (auto _ : state) {
        markX11Windows(kwin, x11, [](std::uint64_t) { return 0u; });
        auto merged = mergeWindows(x11, kwin);
        benchmark::DoNotOptimize(merged.data());
    }
}
BENCHMARK(BM_MergeUnmarkedWindows)->ArgName("windows")->Arg(50)->Arg(200)->Arg(1000);

// One event as sway sends it (a title change: a terminal's title follows its directory) read
// and applied to the list.
void BM_SwayTitleEvent(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    SwayViews views([](std::uint32_t pid) { return pid * 7ull; });
    views.reset(*parseSwayTree(QByteArray::fromStdString(Tree(count))));
    const QByteArray event =
        QByteArray::fromStdString(R"({"change": "title", "container": )" + View(100 + count / 2, false) + "}");
    for (auto _ : state) {
        const auto parsed = parseSwayWindowEvent(event);
        views.apply(*parsed);
        benchmark::DoNotOptimize(views.windows().data());
    }
}
BENCHMARK(BM_SwayTitleEvent)->ArgName("sway_views")->Arg(50);

// Reading a whole get_tree reply: once per connection to sway (at start, after sway restarts).
void BM_SwayTreeParse(benchmark::State& state)
{
    const QByteArray tree = QByteArray::fromStdString(Tree(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        auto views = parseSwayTree(tree);
        benchmark::DoNotOptimize(views->data());
    }
    state.counters["reply_bytes"] = static_cast<double>(tree.size());
}
BENCHMARK(BM_SwayTreeParse)->ArgName("sway_views")->Arg(10)->Arg(50)->Arg(200);

}  // namespace
