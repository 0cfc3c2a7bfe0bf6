#include "platform/linux/wayland/swayipc.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

namespace platform::linux_impl {
namespace {

// A connection that never waits: a listener whose queue is full refuses at once (EAGAIN), and
// one that accepts late (or never) is caught by the answer deadline.
UniqueFd connectTo(const std::string& path)
{
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid() || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address),
                                 sizeof address) != 0)
        return {};
    return fd;
}

// Small requests on a fresh or idle connection: they fit the socket's buffer, or sway is not
// reading and the connection is no good.
bool sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// A subscription's answer: {"success": true} (or, as for commands, an array of those).
bool subscribed(const std::string& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    const QJsonArray results = document.isArray() ? document.array() : QJsonArray{document.object()};
    for (const QJsonValue result : results) {
        if (!result.toObject().value(QLatin1String("success")).toBool())
            return false;
    }
    return !results.isEmpty();
}

}  // namespace

SwayIpc::SwayIpc(std::string socketPath)
    : path_(std::move(socketPath)), views_([](std::uint32_t pid) { return clientIdentity(pid); })
{
    if (onSway())
        start();
}

SwayIpc::~SwayIpc() = default;

void SwayIpc::start()
{
    drop();
    const auto now = std::chrono::steady_clock::now();
    retryAt_ = now + kRetryAfter;
    UniqueFd fd = connectTo(path_);
    // Subscribed first, then the tree: every change after the tree reaches us as an event.
    if (!fd.valid() || !sendAll(fd.get(), swayFrame(kSwaySubscribe, R"(["window"])") +
                                              swayFrame(kSwayGetTree, {})))
        return;
    trust_ = peerTrust(fd.get());
    views_.setPeer(trust_.pids, trust_.foreign);
    events_ = std::move(fd);
    deadline_ = now + kAnswerTime;
    // With an event loop sway's answers and events are read as they come, so that sway never
    // has to hold many for us; without one (benchmarks, tests) they are read at the next call.
    if (QCoreApplication::instance() != nullptr) {
        notifier_ = std::make_unique<QSocketNotifier>(events_.get(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { pump(); });
    }
}

void SwayIpc::drop()
{
    // Dropping may happen inside the notifier's own signal: let the event loop delete it.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    events_.reset();
    live_ = false;
    inbox_.clear();
    views_.clear();
}

void SwayIpc::pump()
{
    if (!events_.valid())
        return;
    // At most kReadPerWake at a time: a flood of events costs each wake-up a bounded time, and
    // the notifier (level-triggered) calls again for the rest.
    char buffer[65536];
    for (std::size_t read = 0; read < kReadPerWake;) {
        const ssize_t n = ::recv(events_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {   // sway has gone (or restarts): nothing of its list is true any more
            drop();
            return;
        }
        inbox_.append(buffer, static_cast<std::size_t>(n));
        read += static_cast<std::size_t>(n);
    }
    // Every whole message, in one pass; the bytes of a message still incomplete stay. A message
    // is at most kSwayLargestMessage, so the inbox stays below that and one wake-up's read.
    std::string_view rest = inbox_;
    bool bad = false;
    while (auto message = takeSwayMessage(rest, &bad)) {
        handle(*message);
        if (!events_.valid())
            return;
    }
    if (bad) {
        drop();
        return;
    }
    inbox_.erase(0, inbox_.size() - rest.size());
    // Answers already here count, however late they are read.
    if (!live_ && std::chrono::steady_clock::now() >= deadline_)
        drop();   // sway, or whatever holds its socket, does not answer
}

void SwayIpc::handle(const SwayMessage& message)
{
    switch (message.type) {
    case kSwaySubscribe:
        if (!subscribed(message.payload))
            drop();
        return;
    case kSwayGetTree: {
        auto views = parseSwayTree(QByteArray::fromStdString(message.payload));
        if (!views) {
            drop();
            return;
        }
        views_.reset(std::move(*views));
        live_ = true;
        floatAllOurs();
        return;
    }
    case kSwayWindowEvent: {
        // Events before the tree are in it already.
        const auto event = live_ ? parseSwayWindowEvent(QByteArray::fromStdString(message.payload))
                                 : std::nullopt;
        if (!event)
            return;
        views_.apply(*event);
        if (event->change == "new")
            floatOurs(event->view);
        return;
    }
    default:   // the answers to our commands: nothing waits for them
        return;
    }
}

void SwayIpc::floatOurs(const SwayView& view)
{
    if (floatPid_ == 0 || !trust_.pids || view.pid != floatPid_ || view.floating)
        return;
    const std::string floating = "[con_id=" + std::to_string(view.id) + "] floating enable";
    // sway lays a new window out as a tile at once; floated while that layout is still on its
    // way to the program, it may keep the tile's size. Floated a moment later, it floats at the
    // size it asked for, centred.
    if (notifier_)
        QTimer::singleShot(kSettleTime, notifier_.get(), [this, floating] { command(floating); });
    else
        command(floating);
}

void SwayIpc::floatAllOurs()
{
    // A failed command drops the connection, and the views with it.
    for (std::size_t i = 0; events_.valid() && i < views_.views().size(); ++i)
        floatOurs(views_.views()[i]);
}

void SwayIpc::floatWindowsOf(std::uint32_t pid)
{
    floatPid_ = pid;
    if (live_)
        floatAllOurs();
}

const std::vector<CompositorWindow>& SwayIpc::windows()
{
    views();
    return views_.windows();
}

const std::vector<SwayView>& SwayIpc::views()
{
    if (onSway() && !events_.valid() && std::chrono::steady_clock::now() >= retryAt_)
        start();
    pump();
    return views_.views();
}

bool SwayIpc::command(const std::string& text)
{
    if (!events_.valid())
        return false;
    // Part of a message sent would leave sway reading the rest of ours as garbage.
    if (!sendAll(events_.get(), swayFrame(kSwayRunCommand, text))) {
        drop();
        return false;
    }
    return true;
}

}  // namespace platform::linux_impl
