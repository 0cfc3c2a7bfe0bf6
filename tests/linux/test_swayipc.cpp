// sway's IPC client against a stand-in sway: a thread that answers on a Unix socket the way
// sway does (subscribe, get_tree, run_command) and sends window events when told to.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include <QTemporaryDir>

#include "platform/linux/wayland/compositor.h"
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
                bool bad = false;
                while (auto message = takeSwayMessage(inbox, &bad))
                    Answer(fds[i].fd, *message);
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
            commands_.push_back(message.payload.toStdString());
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
    const std::string tail = buffer.substr(buffer.size() - 3);
    buffer.resize(buffer.size() - 3);
    bool bad = true;
    auto first = takeSwayMessage(buffer, &bad);
    ASSERT_TRUE(first);
    EXPECT_FALSE(bad);
    EXPECT_EQ(first->type, kSwayGetTree);
    EXPECT_EQ(first->payload, "{}");
    EXPECT_FALSE(takeSwayMessage(buffer, &bad));   // cut short
    EXPECT_FALSE(bad);
    buffer += tail;
    auto second = takeSwayMessage(buffer, &bad);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->type, kSwayWindowEvent);
    EXPECT_EQ(second->payload, "[1]");
    EXPECT_TRUE(buffer.empty());
}

TEST(SwayFrames, NotI3Ipc)
{
    std::string buffer = "HTTP/1.1 200 OK\r\n\r\n";
    bool bad = false;
    EXPECT_FALSE(takeSwayMessage(buffer, &bad));
    EXPECT_TRUE(bad);
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
    ASSERT_EQ(ipc.windows().size(), 2u);
    EXPECT_TRUE(ipc.windows()[0].x11);
    EXPECT_EQ(ipc.windows()[0].x11Id, 4194316u);
    EXPECT_EQ(ipc.windows()[1].title, "native foot");
    EXPECT_NE(ipc.windows()[1].identity, 0u);   // pid 1 runs: its start time is known

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
    ASSERT_EQ(ipc.windows().size(), 2u);
    sway.Hangup();
    EXPECT_TRUE(Eventually([&] { return ipc.windows().empty(); }));
}

TEST(SwayIpc, Commands)
{
    FakeSway sway(kTree);
    SwayIpc ipc(sway.path());
    EXPECT_TRUE(ipc.command("[con_id=5] focus"));
    sway.acceptCommands = false;
    EXPECT_FALSE(ipc.command("[con_id=99] focus"));
    EXPECT_EQ(sway.Commands(), (std::vector<std::string>{"[con_id=5] focus", "[con_id=99] focus"}));
}

TEST(SwayIpc, NoSwayBehindTheSocketCostsNothingMuch)
{
    SwayIpc ipc("/nonexistent/sway-ipc.sock");
    EXPECT_TRUE(ipc.onSway());
    EXPECT_TRUE(ipc.windows().empty());
    EXPECT_FALSE(ipc.command("nop"));
}

// ---- what the program asks of sway ----
TEST(Compositor, OurWindowsFloatFromTheFirstMap)
{
    FakeSway sway(kTree);
    Compositor compositor(sway.path());
    EXPECT_EQ(sway.Commands(),
              std::vector<std::string>{"for_window [pid=" + std::to_string(::getpid()) + "] floating enable"});
}

TEST(Compositor, TheListMergesSwaysWindowsWithTheX11Ones)
{
    FakeSway sway(kTree);
    Compositor compositor(sway.path());
    const auto windows = compositor.windows({platform::WindowInfo{4194316, "日本語タイトル端末", true, 60, 6000}});
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].title, "日本語タイトル端末");
    EXPECT_EQ(windows[1].title, "native foot");
    EXPECT_EQ(windows[1].pid, 1u);
}
