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
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
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

// The compositor's socket: WAYLAND_DISPLAY, as a path or a name in XDG_RUNTIME_DIR.
int connectTo(const char* name)
{
    std::string path = name;
    if (path.front() != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr)
            return -1;
        path = std::string(runtime) + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

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
    // Asked right after the globals: its answer says every global has been told.
    wl_callback* sync = nullptr;
    std::chrono::steady_clock::time_point deadline{};
    bool notOffered = false;   // the globals came without the window list
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
        if (wl_display_dispatch_pending(display) < 0 || wl_display_get_error(display) != 0 ||
            notOffered || (sync != nullptr && std::chrono::steady_clock::now() >= deadline))
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
        sync = nullptr;
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
    static void synced(void* data, wl_callback* callback, std::uint32_t)
    {
        auto* self = static_cast<State*>(data);
        wl_callback_destroy(callback);
        self->sync = nullptr;
        // Not KWin, or KWin does not trust us: nothing to keep a connection for (dropped once
        // this dispatch is over).
        self->notOffered = self->management == nullptr;
    }

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
        w->title = cutUtf8(repairUtf8(text), kMaxTitleBytes);
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
    static constexpr wl_callback_listener syncListener = {synced};
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
    // A socket handed down to us is connected already; any other is connected here without
    // waiting (a listener whose queue is full refuses at once), where libwayland would block.
    if (std::getenv("WAYLAND_SOCKET") != nullptr) {
        s.display = wl_display_connect(nullptr);
    } else if (int fd = connectTo(socket); fd >= 0) {
        s.display = wl_display_connect_to_fd(fd);
        if (s.display == nullptr)
            ::close(fd);
    }
    if (s.display == nullptr)
        return;
    s.trust = peerTrust(wl_display_get_fd(s.display));
    s.registry = wl_display_get_registry(s.display);
    wl_registry_add_listener(s.registry, &State::registryListener, &s);
    // Nothing is waited for: the globals, then the windows and each one's state, are read as
    // they come (by the notifier, or at the next call), and a compositor that has not told its
    // globals within the deadline is given up on.
    s.sync = wl_display_sync(s.display);
    wl_callback_add_listener(s.sync, &State::syncListener, &s);
    s.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    wl_display_flush(s.display);
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
