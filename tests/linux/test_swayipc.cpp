// sway's IPC client against a stand-in sway: a thread that answers on a Unix socket the way
// sway does (subscribe, get_tree, run_command) and sends window events when told to.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "platform/linux/merge/mergewindows.h"
#include "platform/linux/proc/procfs.h"
#include "platform/linux/wayland/compositor.h"
#include "platform/linux/wayland/peer.h"
#include "platform/linux/wayland/swayipc.h"

using namespace platform::linux_impl;

namespace {

class FakeSway {
public:
    explicit FakeSway(std::string tree) : tree_(std::move(tree))
    {
        path_ = dir_.path().toStdString() + "/sway-ipc.sock";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 8), 0);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeSway()
    {
        stop_ = true;
        thread_.join();
        ::close(listener_);
        for (const int fd : connections_)
            ::close(fd);
    }

    const std::string& path() const { return path_; }

    // Sends a window event to every subscribed connection.
    void Event(const std::string& json)
    {
        std::lock_guard lock(mutex_);
        for (const int fd : subscribed_) {
            const std::string frame = swayFrame(kSwayWindowEvent, json);
            ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
        }
    }
    // Sends raw bytes to every subscribed connection.
    void Raw(const std::string& bytes)
    {
        std::lock_guard lock(mutex_);
        for (const int fd : subscribed_)
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Ends every subscribed connection, as sway does when it exits.
    void Hangup()
    {
        std::lock_guard lock(mutex_);
        for (const int fd : subscribed_)
            ::shutdown(fd, SHUT_RDWR);
        subscribed_.clear();
    }
    std::vector<std::string> Commands()
    {
        std::lock_guard lock(mutex_);
        return commands_;
    }

    std::atomic<bool> acceptCommands{true};
    std::atomic<bool> answering{true};   // false: requests wait for their answers until true

private:
    void Serve()
    {
        std::map<int, std::string> inboxes;
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (const int fd : connections_)
                fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                connections_.push_back(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                char buffer[4096];
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    continue;
                std::string& inbox = inboxes[fds[i].fd];
                inbox.append(buffer, static_cast<std::size_t>(n));
                std::string_view rest = inbox;
                bool bad = false;
                while (auto message = takeSwayMessage(rest, &bad))
                    held_.emplace_back(fds[i].fd, std::move(*message));
                inbox.erase(0, inbox.size() - rest.size());
            }
            if (answering) {
                for (const auto& [fd, message] : held_)
                    Answer(fd, message);
                held_.clear();
            }
        }
    }

    void Answer(int fd, const SwayMessage& message)
    {
        std::string reply;
        std::lock_guard lock(mutex_);
        if (message.type == kSwaySubscribe) {
            subscribed_.push_back(fd);
            reply = R"({"success": true})";
        } else if (message.type == kSwayGetTree) {
            reply = tree_;
        } else if (message.type == kSwayRunCommand) {
            commands_.push_back(message.payload);
            reply = acceptCommands ? R"([{"success": true}])" : R"([{"success": false, "error": "no"}])";
        }
        const std::string frame = swayFrame(message.type, reply);
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    }

    QTemporaryDir dir_;
    std::string path_;
    std::string tree_;
    int listener_ = -1;
    std::vector<int> connections_;
    std::vector<int> subscribed_;
    std::vector<std::string> commands_;
    std::vector<std::pair<int, SwayMessage>> held_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

const char* const kTree = R"({"id": 1, "type": "root", "focus": [2], "nodes": [
  {"id": 2, "type": "workspace", "focus": [6, 5], "nodes": [
    {"id": 5, "type": "con", "name": "native foot", "pid": 1, "shell": "xdg_shell"},
    {"id": 6, "type": "con", "name": null, "pid": 60, "shell": "xwayland", "window": 4194316}]}]})";

std::string View(const char* change, int id, const char* title)
{
    return std::string(R"({"change": ")") + change + R"(", "container": {"id": )" + std::to_string(id) +
           R"(, "type": "con", "name": ")" + title + R"(", "pid": 1, "shell": "xdg_shell"}})";
}

// Waits (briefly) for what a connection has been sent to arrive.
template <class Done>
bool Eventually(Done done)
{
    for (int i = 0; i < 200 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

}  // namespace

// ---- framing ----
TEST(SwayFrames, WholeMessagesOnly)
{
    std::string buffer = swayFrame(kSwayGetTree, "{}") + swayFrame(kSwayWindowEvent, "[1]");
    std::string_view rest(buffer.data(), buffer.size() - 3);
    bool bad = true;
    auto first = takeSwayMessage(rest, &bad);
    ASSERT_TRUE(first);
    EXPECT_FALSE(bad);
    EXPECT_EQ(first->type, kSwayGetTree);
    EXPECT_EQ(first->payload, "{}");
    EXPECT_FALSE(takeSwayMessage(rest, &bad));   // cut short
    EXPECT_FALSE(bad);
    rest = std::string_view(buffer).substr(buffer.size() - rest.size() - 3);
    auto second = takeSwayMessage(rest, &bad);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->type, kSwayWindowEvent);
    EXPECT_EQ(second->payload, "[1]");
    EXPECT_TRUE(rest.empty());
}

TEST(SwayFrames, NotI3IpcOrTooLarge)
{
    for (std::string buffer : {std::string("HTTP/1.1 200 OK\r\n\r\n"), std::string("i3-x"),
                               swayFrame(kSwayWindowEvent, "").replace(6, 4, "\xff\xff\xff\x7f")}) {
        std::string_view rest = buffer;
        bool bad = false;
        EXPECT_FALSE(takeSwayMessage(rest, &bad));
        EXPECT_TRUE(bad) << buffer;
    }
}

// ---- the client ----
TEST(SwayIpc, NotOnSwayDoesNothing)
{
    SwayIpc ipc("");
    EXPECT_FALSE(ipc.onSway());
    EXPECT_TRUE(ipc.windows().empty());
    EXPECT_FALSE(ipc.command("nop"));
}

TEST(SwayIpc, TheTreeThenEventsKeepTheListCurrent)
{
    FakeSway sway(kTree);
    SwayIpc ipc(sway.path());
    ASSERT_TRUE(Eventually([&] { return ipc.windows().size() == 2; }));
    EXPECT_TRUE(ipc.windows()[0].x11);
    EXPECT_EQ(ipc.windows()[0].x11Id, 4194316u);
    EXPECT_EQ(ipc.windows()[1].title, "native foot");
    EXPECT_NE(ipc.windows()[1].identity, 0u);   // pid 1 runs: its start time is known
    EXPECT_FALSE(ipc.windows()[1].foreignPid);

    sway.Event(View("new", 7, "second foot"));
    sway.Event(View("focus", 7, "second foot"));
    EXPECT_TRUE(Eventually([&] { return ipc.windows().size() == 3; }));
    EXPECT_EQ(ipc.windows()[0].title, "second foot");
    sway.Event(View("close", 5, "native foot"));
    EXPECT_TRUE(Eventually([&] { return ipc.windows().size() == 2; }));
}

TEST(SwayIpc, NothingIsKeptOnceSwayHasGone)
{
    FakeSway sway(kTree);
    SwayIpc ipc(sway.path());
    ASSERT_TRUE(Eventually([&] { return ipc.windows().size() == 2; }));
    sway.Hangup();
    EXPECT_TRUE(Eventually([&] { return ipc.windows().empty(); }));
}

TEST(SwayIpc, CommandsGoOutOnTheSubscribedConnection)
{
    FakeSway sway(kTree);
    SwayIpc ipc(sway.path());
    EXPECT_TRUE(ipc.command("[con_id=5] focus"));
    sway.acceptCommands = false;   // sway's answer is not waited for
    EXPECT_TRUE(ipc.command("[con_id=99] focus"));
    EXPECT_TRUE(Eventually([&] { return sway.Commands().size() == 2; }));
    EXPECT_EQ(sway.Commands(), (std::vector<std::string>{"[con_id=5] focus", "[con_id=99] focus"}));
    EXPECT_TRUE(Eventually([&] { return ipc.windows().size() == 2; }));
}

TEST(SwayIpc, NoSwayBehindTheSocketCostsNothingMuch)
{
    SwayIpc ipc("/nonexistent/sway-ipc.sock");
    EXPECT_TRUE(ipc.onSway());
    EXPECT_TRUE(ipc.windows().empty());
    EXPECT_FALSE(ipc.command("nop"));
}

// ---- a peer that is slow, floods, or lies ----
namespace {

// A socket that a test answers by hand, in its own thread, one step at a time.
class Peer {
public:
    // `listenAs`: the user the listening end belongs to (only root can choose another).
    explicit Peer(int backlog = 8, uid_t listenAs = ::geteuid())
    {
        path_ = dir_.path().toStdString() + "/sway-ipc.sock";
        listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        // The kernel takes the listener's credentials when it starts listening; the thread
        // changes only its own (a raw system call, not the process-wide one).
        std::thread([&] {
            if (listenAs != ::geteuid()) {
                EXPECT_EQ(::syscall(SYS_setresuid, listenAs, listenAs, listenAs), 0);
            }
            EXPECT_EQ(::listen(listener_.get(), backlog), 0);
        }).join();
    }
    const std::string& path() const { return path_; }

    // Accepts the client and answers its subscription and tree request.
    void Start(const std::string& tree)
    {
        connection_ = UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        ASSERT_TRUE(connection_.valid());
        std::string inbox;
        while (inbox.size() < 2 * 14 + std::strlen(R"(["window"])")) {
            char buffer[256];
            const ssize_t n = ::recv(connection_.get(), buffer, sizeof buffer, 0);
            ASSERT_GT(n, 0);
            inbox.append(buffer, static_cast<std::size_t>(n));
        }
        Send(swayFrame(kSwaySubscribe, R"({"success": true})") + swayFrame(kSwayGetTree, tree));
    }
    void Send(const std::string& bytes)
    {
        ASSERT_EQ(::send(connection_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    int connection() const { return connection_.get(); }

private:
    QTemporaryDir dir_;
    std::string path_;
    UniqueFd listener_, connection_;
};

const char* const kOneView =
    R"({"id": 1, "type": "root", "nodes": [{"id": 5, "type": "con", "name": "t", "pid": 1, "shell": "xdg_shell"}]})";

std::string TitleEvent(int n)
{
    char title[32];
    std::snprintf(title, sizeof title, "title %07d", n);
    return swayFrame(kSwayWindowEvent, View("title", 5, title));
}

}  // namespace

TEST(SwayIpc, AListenerThatNeverAcceptsDoesNotHoldUpTheStart)
{
    // Its queue full, a blocking connect would wait for it forever.
    Peer peer(0);
    std::vector<UniqueFd> queued;
    for (int i = 0; i < 64; ++i) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, peer.path().c_str(), sizeof address.sun_path - 1);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            break;
        queued.push_back(std::move(fd));
    }
    auto started = std::make_shared<std::promise<bool>>();
    auto done = started->get_future();
    std::thread([started, path = peer.path()] {
        SwayIpc ipc(path);
        started->set_value(ipc.windows().empty());
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "connecting hangs";
    EXPECT_TRUE(done.get());
}

TEST(SwayIpc, ASwayThatAnswersOnlyOnceWeHaveReturnedIsListed)
{
    // Nothing of sway's is waited for: had the start waited for its answers, they would never
    // have come in time.
    FakeSway sway(kTree);
    sway.answering = false;
    SwayIpc ipc(sway.path());
    EXPECT_TRUE(ipc.windows().empty());
    sway.answering = true;
    EXPECT_TRUE(Eventually([&] { return ipc.windows().size() == 2; }));
}

TEST(SwayIpc, AFloodIsReadABoundedAmountAtATimeAndWhole)
{
    Peer peer;
    SwayIpc ipc(peer.path());
    ASSERT_NO_FATAL_FAILURE(peer.Start(kOneView));
    // Room in the socket for all of it at once (root may grow the buffer past the usual limit).
    const int bytes = 16 << 20;
    if (::setsockopt(peer.connection(), SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes) != 0)
        GTEST_SKIP() << "cannot grow the socket buffer (needs root)";
    const std::string one = TitleEvent(0);
    const int count = static_cast<int>((8u << 20) / one.size());
    std::string flood;
    for (int i = 0; i < count; ++i)
        flood += TitleEvent(i);
    peer.Send(flood);

    const auto title = [&] {
        const auto& views = ipc.views();
        return views.empty() ? -1 : std::atoi(views[0].title.c_str() + 6);
    };
    const int first = title();
    EXPECT_LE(static_cast<std::size_t>(first + 1) * one.size(), SwayIpc::kReadPerWake + 65536)
        << "one call read more than a wake-up's share";
    int calls = 1;
    while (title() != count - 1 && calls < 1000)
        ++calls;
    EXPECT_EQ(title(), count - 1) << "events lost";
}

TEST(SwayIpc, AMessageLargerThanSwayWouldSendEndsTheConnection)
{
    Peer peer;
    SwayIpc ipc(peer.path());
    ASSERT_NO_FATAL_FAILURE(peer.Start(kOneView));
    ASSERT_TRUE(Eventually([&] { return ipc.windows().size() == 1; }));
    std::string header = swayFrame(kSwayWindowEvent, "");
    const std::uint32_t length = 32u << 20;   // far beyond any tree of sway's
    std::memcpy(header.data() + 6, &length, 4);
    peer.Send(header + std::string(4096, '{'));
    EXPECT_TRUE(Eventually([&] { return ipc.windows().empty(); })) << "still waiting for the rest";
}

TEST(SwayIpc, ASocketOfAnotherUserIsNotBelievedAboutPids)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    Peer peer(8, 65534);
    SwayIpc ipc(peer.path());
    ASSERT_NO_FATAL_FAILURE(peer.Start(kOneView));
    ASSERT_TRUE(Eventually([&] { return ipc.windows().size() == 1; }));
    EXPECT_EQ(ipc.windows()[0].pid, 0u);
    EXPECT_TRUE(mergeWindows({}, ipc.windows()).empty()) << "a native row under a pid nobody vouches for";
}

TEST(SwayPeer, APeerOurPidNamespaceCannotSeeMakesForeignPids)
{
    Peer peer;
    EXPECT_FALSE(peerTrust(UniqueFd(::socket(AF_UNIX, SOCK_STREAM, 0)).get()).pids);   // no peer
    // Our own peer, seen from here and from a pid namespace of its own.
    {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, peer.path().c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const PeerTrust here = peerTrust(fd.get());
        EXPECT_TRUE(here.pids);
        EXPECT_FALSE(here.foreign);
    }
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // In a pid namespace of our own, the peer (this test's process) has no pid.
        if (::unshare(CLONE_NEWPID) != 0)
            ::_exit(77);
        const pid_t inner = ::fork();
        if (inner == 0) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, peer.path().c_str(), sizeof address.sun_path - 1);
            char verdict = 'x';
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                const PeerTrust trust = peerTrust(fd);
                verdict = trust.foreign ? (trust.pids ? 'F' : 'f') : 'n';
            }
            (void)!::write(report[1], &verdict, 1);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(inner, &status, 0);
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    char verdict = 0;
    const ssize_t n = ::read(report[0], &verdict, 1);
    ::close(report[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot make a pid namespace here";
    ASSERT_EQ(n, 1);
    EXPECT_EQ(verdict, 'F') << "f: not believed at all, n: taken for one of ours";
}

TEST(SwayPeer, RowsOfAForeignPeerSayTheirPidsAreForeign)
{
    SwayViews views([](std::uint32_t) { return 5u; });
    views.setPeer(true, true);
    views.reset({SwayView{5, 1234, "native", false, 0, 0}});
    const auto merged = mergeWindows({}, views.windows());
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_TRUE(merged[0].foreignPid);
    EXPECT_EQ(merged[0].pid, 1234u);
}

TEST(SwayPeer, AForwardersRowsCarryNoIdentity)
{
    // waypipe carries another host's windows: the compositor knows only it as their owner.
    QTemporaryDir dir;
    const std::string waypipe = dir.path().toStdString() + "/waypipe";
    std::filesystem::copy_file("/bin/sleep", waypipe);
    const pid_t forwarder = ::fork();
    if (forwarder == 0) {
        ::execl(waypipe.c_str(), "waypipe", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(forwarder, 0);
    const auto pid = static_cast<std::uint32_t>(forwarder);
    EXPECT_TRUE(Eventually([&] { return clientIdentity(pid) == 0 && readStartTime(pid) != 0; }));
    EXPECT_EQ(clientIdentity(pid), 0u);
    EXPECT_NE(clientIdentity(static_cast<std::uint32_t>(::getpid())), 0u);
    ::kill(forwarder, SIGKILL);
    ::waitpid(forwarder, nullptr, 0);
}

// ---- what the program asks of sway ----
TEST(Compositor, OurWindowsAreFloatedByTheirOwnIdsAndNoRuleIsLeft)
{
    const std::string us = std::to_string(::getpid());
    FakeSway sway(std::string(R"({"id": 1, "type": "root", "nodes": [)"
                              R"({"id": 5, "type": "con", "name": "ours", "pid": )") + us +
                  R"(, "shell": "xwayland", "window": 7},)"
                  R"({"id": 6, "type": "con", "name": "not ours", "pid": 1, "shell": "xdg_shell"}]})");
    Compositor compositor(sway.path());
    ASSERT_TRUE(Eventually([&] { return compositor.windows({}).size() == 1; }));
    sway.Event(R"({"change": "new", "container": {"id": 9, "type": "con", "name": "dialog", "pid": )" + us +
               R"(, "shell": "xdg_shell"}})");
    sway.Event(View("new", 10, "someone else's"));
    EXPECT_TRUE(Eventually([&] { return compositor.windows({}).size() == 3; }));
    EXPECT_TRUE(Eventually([&] { QCoreApplication::processEvents(); return sway.Commands().size() == 2; }));
    EXPECT_EQ(sway.Commands(), (std::vector<std::string>{"[con_id=5] floating enable", "[con_id=9] floating enable"}));
}

TEST(Compositor, TheListMergesSwaysWindowsWithTheX11Ones)
{
    FakeSway sway(kTree);
    Compositor compositor(sway.path());
    ASSERT_TRUE(Eventually([&] { return compositor.windows({}).size() == 1; }));
    const auto windows = compositor.windows({platform::WindowInfo{4194316, "日本語タイトル端末", true, 60, 6000}});
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].title, "日本語タイトル端末");
    EXPECT_EQ(windows[1].title, "native foot");
    EXPECT_EQ(windows[1].pid, 1u);
}
