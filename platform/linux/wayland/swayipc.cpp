#include "platform/linux/wayland/swayipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include "platform/linux/proc/procfs.h"

namespace platform::linux_impl {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof kMagic + 8;
// get_tree of a desktop with hundreds of windows is well under a megabyte.
constexpr std::uint32_t kLargestMessage = 64u << 20;
constexpr std::chrono::milliseconds kAnswerTime{500};
constexpr std::chrono::seconds kRetryAfter{2};

UniqueFd connectTo(const std::string& path)
{
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address),
                                 sizeof address) != 0)
        return {};
    return fd;
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until a message of type `type` is whole (events before it are dropped: the answer
// describes the state after them). std::nullopt on a time-out, a closed or bad connection.
std::optional<SwayMessage> answer(int fd, std::string& inbox, std::uint32_t type)
{
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
    for (;;) {
        bool bad = false;
        while (auto message = takeSwayMessage(inbox, &bad)) {
            if (message->type == type)
                return message;
        }
        if (bad)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        inbox.append(buffer, static_cast<std::size_t>(n));
    }
}

// A command's or a subscription's answer: an array of {"success": bool, ...}, one per command.
bool allSucceeded(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    const QJsonArray results = document.isArray() ? document.array()
                                                  : QJsonArray{document.object()};
    if (results.isEmpty())
        return false;
    for (const QJsonValue result : results) {
        if (!result.toObject().value(QLatin1String("success")).toBool())
            return false;
    }
    return true;
}

}  // namespace

std::string swayFrame(std::uint32_t type, std::string_view payload)
{
    std::string frame(kMagic, sizeof kMagic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    frame.append(reinterpret_cast<const char*>(&length), 4);
    frame.append(reinterpret_cast<const char*>(&type), 4);
    frame.append(payload);
    return frame;
}

std::optional<SwayMessage> takeSwayMessage(std::string& buffer, bool* bad)
{
    *bad = false;
    if (buffer.size() < kHeader)
        return std::nullopt;
    std::uint32_t length = 0, type = 0;
    std::memcpy(&length, buffer.data() + sizeof kMagic, 4);
    std::memcpy(&type, buffer.data() + sizeof kMagic + 4, 4);
    if (std::memcmp(buffer.data(), kMagic, sizeof kMagic) != 0 || length > kLargestMessage) {
        *bad = true;
        return std::nullopt;
    }
    if (buffer.size() - kHeader < length)
        return std::nullopt;
    SwayMessage message{type, QByteArray(buffer.data() + kHeader, static_cast<qsizetype>(length))};
    buffer.erase(0, kHeader + length);
    return message;
}

SwayIpc::SwayIpc(std::string socketPath)
    : path_(std::move(socketPath)), views_([](std::uint32_t pid) { return readStartTime(pid); })
{
    if (onSway())
        connectEvents();
}

SwayIpc::~SwayIpc() = default;

bool SwayIpc::connectEvents()
{
    drop();
    retryAt_ = std::chrono::steady_clock::now() + kRetryAfter;
    UniqueFd fd = connectTo(path_);
    if (!fd.valid())
        return false;
    std::string inbox;
    // Subscribed first, then the tree: every change after the tree reaches us as an event.
    if (!sendAll(fd.get(), swayFrame(kSwaySubscribe, R"(["window"])")))
        return false;
    const auto subscribed = answer(fd.get(), inbox, kSwaySubscribe);
    if (!subscribed || !allSucceeded(subscribed->payload))
        return false;
    if (!sendAll(fd.get(), swayFrame(kSwayGetTree, {})))
        return false;
    const auto tree = answer(fd.get(), inbox, kSwayGetTree);
    auto views = tree ? parseSwayTree(tree->payload) : std::nullopt;
    if (!views)
        return false;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return false;

    views_.reset(std::move(*views));
    events_ = std::move(fd);
    inbox_ = std::move(inbox);
    // With an event loop the events are read as they come, so that sway never has to hold
    // many for us; without one (benchmarks, tests) they are read at the next call.
    if (QCoreApplication::instance() != nullptr) {
        notifier_ = std::make_unique<QSocketNotifier>(events_.get(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readEvents(); });
    }
    readEvents();
    return true;
}

void SwayIpc::drop()
{
    // Dropping may happen inside the notifier's own signal: let the event loop delete it.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    events_.reset();
    inbox_.clear();
    views_.clear();
}

void SwayIpc::readEvents()
{
    if (!events_.valid())
        return;
    char buffer[65536];
    for (;;) {
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
    }
    bool bad = false;
    while (auto message = takeSwayMessage(inbox_, &bad)) {
        if (message->type != kSwayWindowEvent)
            continue;
        if (const auto event = parseSwayWindowEvent(message->payload))
            views_.apply(*event);
    }
    if (bad)
        drop();
}

const std::vector<CompositorWindow>& SwayIpc::windows()
{
    views();
    return views_.windows();
}

const std::vector<SwayView>& SwayIpc::views()
{
    if (onSway() && !events_.valid() && std::chrono::steady_clock::now() >= retryAt_)
        connectEvents();
    readEvents();
    return views_.views();
}

bool SwayIpc::command(const std::string& text) const
{
    if (!onSway())
        return false;
    const UniqueFd fd = connectTo(path_);
    std::string inbox;
    if (!fd.valid() || !sendAll(fd.get(), swayFrame(kSwayRunCommand, text)))
        return false;
    const auto reply = answer(fd.get(), inbox, kSwayRunCommand);
    return reply && allSucceeded(reply->payload);
}

}  // namespace platform::linux_impl
