#include <gtest/gtest.h>

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
