#include "platform/linux/wayland/plasmawindows.h"

#ifndef MIREBO_PLASMA_WINDOWS

namespace platform::linux_impl {

struct PlasmaWindows::State {};
PlasmaWindows::PlasmaWindows() = default;
PlasmaWindows::~PlasmaWindows() = default;
bool PlasmaWindows::available() const { return false; }
const std::vector<CompositorWindow>& PlasmaWindows::windows()
{
    static const std::vector<CompositorWindow> none;
    return none;
}

}  // namespace platform::linux_impl

#else

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "plasma-window-management-client-protocol.h"
#include "platform/linux/text/utf8.h"
#include "platform/linux/wayland/peer.h"

namespace platform::linux_impl {
namespace {

constexpr std::uint32_t kNewestVersion = 16;
constexpr std::size_t kTitleBytes = 1023;

}  // namespace

struct PlasmaWindows::State {
    struct Window {
        State* owner = nullptr;
        org_kde_plasma_window* proxy = nullptr;
        std::string uuid;
        std::uint64_t id = 0;
        std::string title;
        std::uint32_t pid = 0;
        std::uint64_t identity = 0;
    };

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    org_kde_plasma_window_management* management = nullptr;
    std::unordered_map<std::string, std::unique_ptr<Window>> byUuid;
    std::vector<std::string> stacking;   // uuids, bottom first, as KWin sends them
    std::vector<CompositorWindow> windows;
    bool changed = true;
    PeerTrust trust;
    std::unique_ptr<QSocketNotifier> notifier;

    ~State()
    {
        notifier.reset();
        for (auto& [uuid, window] : byUuid)
            org_kde_plasma_window_destroy(window->proxy);
        if (management != nullptr)
            org_kde_plasma_window_management_destroy(management);
        if (registry != nullptr)
            wl_registry_destroy(registry);
        if (display != nullptr)
            wl_display_disconnect(display);
    }

    // Reads and handles whatever the compositor has sent, without waiting.
    void pump()
    {
        if (display == nullptr)
            return;
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        if (::poll(&p, 1, 0) > 0)
            wl_display_read_events(display);
        else
            wl_display_cancel_read(display);
        if (wl_display_dispatch_pending(display) < 0 || wl_display_get_error(display) != 0)
            lost();
    }

    // The connection broke (KWin restarts, say): nothing of its list is true any more.
    void lost()
    {
        // Perhaps inside the notifier's own signal: let the event loop delete it.
        if (notifier) {
            notifier->setEnabled(false);
            notifier.release()->deleteLater();
        }
        byUuid.clear();   // the proxies go with the display
        stacking.clear();
        changed = true;
        management = nullptr;
        registry = nullptr;
        wl_display_disconnect(display);
        display = nullptr;
    }

    const std::vector<CompositorWindow>& list()
    {
        if (!changed)
            return windows;
        windows.clear();
        windows.reserve(byUuid.size());
        // Topmost first; windows KWin has not placed yet go last. Linear: each window is looked
        // up once by its uuid, and marked as it is placed.
        std::unordered_map<const Window*, bool> placed;
        placed.reserve(byUuid.size());
        auto add = [this, &placed](const Window& w) {
            if (!placed.emplace(&w, true).second)
                return;   // named twice in the stacking order
            windows.push_back({w.id, false, 0, w.title, w.pid, w.identity, trust.foreign});
        };
        for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
            if (const auto found = byUuid.find(*it); found != byUuid.end())
                add(*found->second);
        }
        for (const auto& [uuid, window] : byUuid)
            add(*window);
        changed = false;
        return windows;
    }

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version)
    {
        auto* self = static_cast<State*>(data);
        if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) != 0 ||
            self->management != nullptr || version < 13)
            return;
        self->management = static_cast<org_kde_plasma_window_management*>(wl_registry_bind(
            registry, name, &org_kde_plasma_window_management_interface, std::min(version, kNewestVersion)));
        org_kde_plasma_window_management_add_listener(self->management, &managementListener, self);
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}

    static void showDesktop(void*, org_kde_plasma_window_management*, std::uint32_t) {}
    static void window(void*, org_kde_plasma_window_management*, std::uint32_t) {}
    static void stackingIds(void*, org_kde_plasma_window_management*, wl_array*) {}
    static void stackingUuids(void* data, org_kde_plasma_window_management*, const char* uuids)
    {
        auto* self = static_cast<State*>(data);
        self->stacking.clear();
        std::string_view rest(uuids);
        while (!rest.empty()) {
            const std::size_t end = rest.find(';');
            if (end != 0)
                self->stacking.emplace_back(rest.substr(0, end));
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
        self->changed = true;
    }
    static void windowWithUuid(void* data, org_kde_plasma_window_management* management, std::uint32_t id,
                               const char* uuid)
    {
        auto* self = static_cast<State*>(data);
        auto window = std::make_unique<Window>();
        window->owner = self;
        window->uuid = uuid;
        window->id = id;
        window->proxy = org_kde_plasma_window_management_get_window_by_uuid(management, uuid);
        org_kde_plasma_window_add_listener(window->proxy, &windowListener, window.get());
        // A uuid announced again replaces its window: the old proxy goes with the old record,
        // or its next event would land in freed memory.
        std::unique_ptr<Window>& slot = self->byUuid[uuid];
        if (slot)
            org_kde_plasma_window_destroy(slot->proxy);
        slot = std::move(window);
        self->changed = true;
    }

    static void title(void* data, org_kde_plasma_window*, const char* text)
    {
        auto* w = static_cast<Window*>(data);
        w->title = cutUtf8(repairUtf8(text), kTitleBytes);
        w->owner->changed = true;
    }
    static void pid(void* data, org_kde_plasma_window*, std::uint32_t pid)
    {
        auto* w = static_cast<Window*>(data);
        // Believed only from a KWin of our own user; for X11 windows it is the pid the program
        // wrote itself, which the X11 list overrules.
        if (!w->owner->trust.pids)
            pid = 0;
        if (w->pid != pid) {
            w->pid = pid;
            w->identity = clientIdentity(pid);
        }
        w->owner->changed = true;
    }
    static void unmapped(void* data, org_kde_plasma_window* proxy)
    {
        auto* w = static_cast<Window*>(data);
        State* self = w->owner;
        org_kde_plasma_window_destroy(proxy);
        if (const auto it = self->byUuid.find(w->uuid); it != self->byUuid.end() && it->second.get() == w)
            self->byUuid.erase(it);
        self->changed = true;
    }
    static void ignoreString(void*, org_kde_plasma_window*, const char*) {}
    static void ignoreUint(void*, org_kde_plasma_window*, std::uint32_t) {}
    static void ignoreInt(void*, org_kde_plasma_window*, std::int32_t) {}
    static void ignore(void*, org_kde_plasma_window*) {}
    static void ignoreParent(void*, org_kde_plasma_window*, org_kde_plasma_window*) {}
    static void ignoreGeometry(void*, org_kde_plasma_window*, std::int32_t, std::int32_t, std::uint32_t,
                               std::uint32_t) {}
    static void ignoreMenu(void*, org_kde_plasma_window*, const char*, const char*) {}

    static constexpr wl_registry_listener registryListener = {global, globalRemove};
    static constexpr org_kde_plasma_window_management_listener managementListener = {
        showDesktop, window, stackingIds, stackingUuids, windowWithUuid};
    static constexpr org_kde_plasma_window_listener windowListener = {
        title,        ignoreString, ignoreUint,   ignoreInt,     ignoreString, unmapped,
        ignore,       ignoreParent, ignoreGeometry, ignore,      pid,          ignoreString,
        ignoreString, ignoreMenu,   ignoreString, ignoreString,  ignoreString};
};

PlasmaWindows::PlasmaWindows() : state_(std::make_unique<State>())
{
    const char* socket = std::getenv("WAYLAND_DISPLAY");
    if (socket == nullptr || *socket == '\0')
        return;
    State& s = *state_;
    s.display = wl_display_connect(nullptr);
    if (s.display == nullptr)
        return;
    s.trust = peerTrust(wl_display_get_fd(s.display));
    s.registry = wl_display_get_registry(s.display);
    wl_registry_add_listener(s.registry, &State::registryListener, &s);
    // The globals, then the windows and the stacking order, then each window's initial state.
    for (int i = 0; i < 3; ++i) {
        if (wl_display_roundtrip(s.display) < 0) {
            s.lost();
            return;
        }
    }
    if (s.management == nullptr) {
        s.lost();   // not KWin, or KWin does not trust us: nothing to keep a connection for
        return;
    }
    if (QCoreApplication::instance() != nullptr) {
        s.notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(s.display), QSocketNotifier::Read);
        QObject::connect(s.notifier.get(), &QSocketNotifier::activated, s.notifier.get(),
                         [this] { state_->pump(); });
    }
}

PlasmaWindows::~PlasmaWindows() = default;

bool PlasmaWindows::available() const
{
    return state_->display != nullptr;
}

const std::vector<CompositorWindow>& PlasmaWindows::windows()
{
    state_->pump();
    return state_->list();
}

}  // namespace platform::linux_impl

#endif
