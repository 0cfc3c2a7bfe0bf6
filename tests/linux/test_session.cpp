#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QtGlobal>

#include "platform/linux/session.h"

using platform::linux_impl::chooseSession;
using platform::linux_impl::SessionEnvironment;

namespace {

SessionEnvironment Session(const char* display, const char* wayland, const char* sway = "")
{
    SessionEnvironment environment;
    environment.display = display;
    environment.waylandDisplay = wayland;
    environment.swaySocket = sway;
    return environment;
}

}  // namespace

TEST(Session, AnXDisplayMeansX11WindowsEvenOnAWaylandSession)
{
    for (const auto& environment : {Session(":0", ""), Session(":0", "wayland-0"),
                                    Session(":1", "wayland-1", "/run/user/1000/sway-ipc.sock")}) {
        const auto choice = chooseSession(environment);
        EXPECT_EQ(choice.qtPlatform, "xcb");
        EXPECT_EQ(choice.notice, "");
    }
}

TEST(Session, TheUsersChoiceStands)
{
    auto environment = Session(":0", "wayland-0");
    environment.qtPlatform = "offscreen";
    EXPECT_EQ(chooseSession(environment).qtPlatform, "");
    EXPECT_EQ(chooseSession(environment).notice, "");
}

TEST(Session, AnEmptyChoiceIsNone)
{
    auto environment = Session(":0", "");
    environment.qtPlatform = "";
    EXPECT_EQ(chooseSession(environment).qtPlatform, "xcb");
}

TEST(Session, WaylandWithoutXSaysOnceWhatItCannotDo)
{
    const auto choice = chooseSession(Session("", "wayland-0"));
    EXPECT_EQ(choice.qtPlatform, "");   // Qt's own choice: its Wayland plugin
    EXPECT_EQ(choice.notice.rfind("mirebo: no X display: ", 0), 0u);
    EXPECT_NE(choice.notice.find("cannot stay on top"), std::string::npos);
    EXPECT_NE(choice.notice.find("listed only where the compositor tells them"), std::string::npos);
    EXPECT_EQ(choice.notice.find("sway floats"), std::string::npos);
    EXPECT_EQ(choice.notice.find('\n'), std::string::npos);
}

TEST(Session, OnSwayTheNoticeSaysWhatStillWorks)
{
    const auto choice = chooseSession(Session("", "wayland-1", "/run/user/1000/sway-ipc.sock"));
    EXPECT_NE(choice.notice.find("sway floats it"), std::string::npos);
}

TEST(Session, WaylandChosenByTheUserIsSaidToo)
{
    auto environment = Session(":0", "wayland-0");
    environment.qtPlatform = "wayland";
    const auto choice = chooseSession(environment);
    EXPECT_EQ(choice.qtPlatform, "");
    EXPECT_EQ(choice.notice.rfind("mirebo: Wayland chosen by QT_QPA_PLATFORM: ", 0), 0u);
    // The X display still lists the X11 windows.
    EXPECT_NE(choice.notice.find("other programs' native windows are listed only"), std::string::npos);
}

TEST(Session, NoDisplayAtAllIsLeftToQt)
{
    const auto choice = chooseSession(Session("", ""));
    EXPECT_EQ(choice.qtPlatform, "");
    EXPECT_EQ(choice.notice, "");
}

// ---- the environment is written under Qt's lock ----
// Once the application object exists, Qt's threads read the environment under Qt's lock; a
// write that bypasses it can make such a read miss a variable or follow a freed array. Each
// write of the program's variable is caught here and a reader that takes Qt's lock is sent at
// that moment: it can finish only if the writer does not hold the lock.
namespace {

bool watching = false;
int unlockedWrites = 0;
std::vector<std::thread> readers;

void noteWrite(const char* name)
{
    if (!watching || std::strcmp(name, "QT_QPA_PLATFORM") != 0)
        return;
    auto done = std::make_shared<std::atomic<bool>>(false);
    readers.emplace_back([done] {
        qEnvironmentVariableIsSet("MIREBO_READER");
        *done = true;
    });
    for (int i = 0; i < 100 && !*done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    unlockedWrites += *done ? 1 : 0;
}

}  // namespace

extern "C" int setenv(const char* name, const char* value, int overwrite) noexcept
{
    noteWrite(name);
    using Next = int (*)(const char*, const char*, int);
    static const auto next = reinterpret_cast<Next>(::dlsym(RTLD_NEXT, "setenv"));
    return next(name, value, overwrite);
}

extern "C" int unsetenv(const char* name) noexcept
{
    noteWrite(name);
    static const auto next = reinterpret_cast<int (*)(const char*)>(::dlsym(RTLD_NEXT, "unsetenv"));
    return next(name);
}

TEST(Session, ThePlatformChoiceIsWrittenAndTakenBackUnderQtsLock)
{
    const auto userChoice = qEnvironmentVariableIsSet("QT_QPA_PLATFORM")
        ? std::optional(qgetenv("QT_QPA_PLATFORM")) : std::nullopt;
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("QT_QPA_PLATFORM");
    qputenv("DISPLAY", display.isEmpty() ? QByteArray(":0") : display);
    watching = true;
    {
        platform::linux_impl::SessionPlatform session;
        EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb");
        session.restore();
        EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
    }
    watching = false;
    for (std::thread& reader : readers)
        reader.join();
    if (display.isEmpty())
        qunsetenv("DISPLAY");
    if (userChoice)
        qputenv("QT_QPA_PLATFORM", *userChoice);
    EXPECT_EQ(unlockedWrites, 0);
}
