// KDE's window list against a stand-in KWin: a Wayland server in a thread of its own that offers
// org_kde_plasma_window_management and tells windows the way KWin does, some of it wrongly.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <wayland-server.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plasma-window-management-server-protocol.h"
#include "platform/linux/wayland/plasmawindows.h"

using namespace platform::linux_impl;

namespace {

class FakeKwin {
public:
    // `onBind` runs in the server's thread when the client binds the window management.
    // Without `onBind`, the compositor offers no window list (as any but KWin, or KWin to a
    // program it does not trust).
    explicit FakeKwin(std::function<void(FakeKwin&, wl_resource*)> onBind = {}) : onBind_(std::move(onBind))
    {
        display_ = wl_display_create();
        if (onBind_)
            wl_global_create(display_, &org_kde_plasma_window_management_interface, 16, this, Bind);
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        wl_client_create(display_, fds[0]);
        // The client side connects through this socket (libwayland takes WAYLAND_SOCKET first).
        ::setenv("WAYLAND_SOCKET", std::to_string(fds[1]).c_str(), 1);
        ::setenv("WAYLAND_DISPLAY", "stand-in-kwin", 1);
        thread_ = std::thread([this] {
            wl_event_loop* loop = wl_display_get_event_loop(display_);
            while (!stop_) {
                {
                    std::lock_guard lock(mutex_);
                    wl_event_loop_dispatch(loop, 0);
                    wl_display_flush_clients(display_);
                }
                pollfd p{wl_event_loop_get_fd(loop), POLLIN, 0};
                ::poll(&p, 1, 10);
            }
        });
    }
    ~FakeKwin()
    {
        stop_ = true;
        thread_.join();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        ::unsetenv("WAYLAND_SOCKET");
        ::unsetenv("WAYLAND_DISPLAY");
    }

    // Runs `work` in the server's thread's stead, with the server held still.
    void Do(const std::function<void()>& work)
    {
        std::lock_guard lock(mutex_);
        work();
        wl_display_flush_clients(display_);
    }

    struct Window {
        std::string uuid;
        wl_resource* resource = nullptr;
        bool destroyed = false;
    };
    std::vector<Window> windows;   // every org_kde_plasma_window the client asked for

private:
    static void Bind(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        auto* self = static_cast<FakeKwin*>(data);
        wl_resource* management =
            wl_resource_create(client, &org_kde_plasma_window_management_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(management, &managementImplementation, self, nullptr);
        self->onBind_(*self, management);
    }
    static void GetWindowByUuid(wl_client* client, wl_resource* management, std::uint32_t id, const char* uuid)
    {
        auto* self = static_cast<FakeKwin*>(wl_resource_get_user_data(management));
        wl_resource* window = wl_resource_create(client, &org_kde_plasma_window_interface,
                                                 wl_resource_get_version(management), id);
        wl_resource_set_implementation(window, &windowImplementation, self, nullptr);
        self->windows.push_back({uuid, window, false});
        org_kde_plasma_window_send_title_changed(window, ("window " + std::to_string(self->windows.size())).c_str());
        org_kde_plasma_window_send_pid_changed(window, 1);
    }
    static void Destroy(wl_client*, wl_resource* window)
    {
        auto* self = static_cast<FakeKwin*>(wl_resource_get_user_data(window));
        for (Window& known : self->windows) {
            if (known.resource == window)
                known.destroyed = true;
        }
        wl_resource_destroy(window);
    }

    static inline const struct org_kde_plasma_window_management_interface managementImplementation = {
        nullptr, nullptr, GetWindowByUuid};
    static inline const struct org_kde_plasma_window_interface windowImplementation = [] {
        struct org_kde_plasma_window_interface implementation{};
        implementation.destroy = Destroy;
        return implementation;
    }();

    std::function<void(FakeKwin&, wl_resource*)> onBind_;
    wl_display* display_ = nullptr;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

TEST(PlasmaWindows, AUuidAnnouncedAgainLeavesNoProxyBehind)
{
    FakeKwin kwin([](FakeKwin&, wl_resource* management) {
        org_kde_plasma_window_management_send_window_with_uuid(management, 1, "u1");
        org_kde_plasma_window_management_send_window_with_uuid(management, 2, "u1");
        org_kde_plasma_window_management_send_stacking_order_uuid_changed(management, "u1");
    });
    PlasmaWindows plasma;
    ASSERT_TRUE(plasma.available());
    const auto told = [&] { return plasma.windows().size() == 1 && plasma.windows()[0].title == "window 2"; };
    for (int i = 0; i < 200 && !told(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(plasma.windows().size(), 1u);
    EXPECT_EQ(plasma.windows()[0].title, "window 2");
    bool destroyed = false;
    kwin.Do([&] {
        ASSERT_EQ(kwin.windows.size(), 2u);
        destroyed = kwin.windows[0].destroyed;
        // Had the old record kept its proxy, this would land in freed memory.
        if (!destroyed)
            org_kde_plasma_window_send_title_changed(kwin.windows[0].resource, "late");
    });
    EXPECT_TRUE(destroyed) << "the first window's proxy is still alive";
    for (int i = 0; i < 20; ++i) {
        plasma.windows();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(plasma.windows().size(), 1u);
    EXPECT_EQ(plasma.windows()[0].title, "window 2");
}

TEST(PlasmaWindows, NoWindowListOfferedIsNoConnectionKept)
{
    FakeKwin compositor;
    PlasmaWindows plasma;
    for (int i = 0; i < 200 && plasma.available(); ++i) {
        plasma.windows();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(plasma.available());
}

TEST(PlasmaWindows, ACompositorThatNeverAnswersDoesNotHoldUpTheStart)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    ::setenv("WAYLAND_SOCKET", std::to_string(fds[1]).c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", "silent", 1);
    auto started = std::make_shared<std::promise<void>>();
    auto done = started->get_future();
    auto plasma = std::make_shared<std::unique_ptr<PlasmaWindows>>();
    std::thread([started, plasma] {
        *plasma = std::make_unique<PlasmaWindows>();
        started->set_value();
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "connecting hangs";
    ::unsetenv("WAYLAND_SOCKET");
    ::unsetenv("WAYLAND_DISPLAY");
    // Given up on once its deadline has passed.
    for (int i = 0; i < 300 && (*plasma)->available(); ++i) {
        (*plasma)->windows();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE((*plasma)->available());
    ::close(fds[0]);
}
