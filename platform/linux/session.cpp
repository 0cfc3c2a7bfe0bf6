#include "platform/linux/session.h"

#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QtGlobal>

namespace platform::linux_impl {
namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

SessionChoice chooseSession(const SessionEnvironment& environment)
{
    SessionChoice choice;
    bool wayland = false;
    if (environment.qtPlatform && !environment.qtPlatform->empty()) {
        // The user's word stands; only a Wayland choice needs saying what it costs.
        wayland = startsWith(*environment.qtPlatform, "wayland");
    } else if (!environment.display.empty()) {
        choice.qtPlatform = "xcb";
    } else {
        // Qt takes Wayland when its plugin is installed; without either display it stops with
        // its own message.
        wayland = !environment.waylandDisplay.empty();
    }
    if (wayland) {
        choice.notice = std::string("mirebo: ") +
            (environment.display.empty() ? "no X display" : "Wayland chosen by QT_QPA_PLATFORM") +
            ": as a native Wayland client the window cannot stay on top" +
            (environment.swaySocket.empty() ? "" : " (sway floats it above tiled windows)") +
            " or keep off the taskbar, the tray menu cannot open at the icon on every tray, and "
            "other programs' " + (environment.display.empty() ? "" : "native ") +
            "windows are listed only where the compositor tells them (sway; KDE Plasma, and "
            "GNOME with its extension, to an installed mirebo)";
    }
    return choice;
}

SessionEnvironment currentSession()
{
    SessionEnvironment environment;
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"))
        environment.qtPlatform = platform;
    environment.display = variable("DISPLAY");
    environment.waylandDisplay = variable("WAYLAND_DISPLAY");
    environment.swaySocket = variable("SWAYSOCK");
    return environment;
}

SessionPlatform::SessionPlatform()
{
    const SessionChoice choice = chooseSession(currentSession());
    if (!choice.qtPlatform.empty())
        set_ = qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(choice.qtPlatform));
    if (!choice.notice.empty())
        std::fprintf(stderr, "%s\n", choice.notice.c_str());
}

void SessionPlatform::restore()
{
    // Only ever set where the user had not: putting it back means taking it away. By now Qt's
    // threads read the environment, under Qt's lock: a write must take that lock too.
    if (set_)
        qunsetenv("QT_QPA_PLATFORM");
    set_ = false;
}

}  // namespace platform::linux_impl
