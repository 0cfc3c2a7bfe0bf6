#pragma once
// Which of Qt's platform plugins the program runs on, chosen before the application object
// exists. Wherever the session offers an X display the windows are X11 windows (through
// Xwayland on a Wayland session): X11 lets them stay on top, keep off the taskbar and list the
// other X11 programs' windows, which a Wayland client cannot. Without an X display the program
// is a native Wayland client and says once what it cannot do there.

#include <optional>
#include <string>

namespace platform::linux_impl {

struct SessionEnvironment {
    std::optional<std::string> qtPlatform;   // QT_QPA_PLATFORM; set (even to "") = the user's
    std::string display;                     // DISPLAY
    std::string waylandDisplay;              // WAYLAND_DISPLAY
    std::string swaySocket;                  // SWAYSOCK
};

struct SessionChoice {
    std::string qtPlatform;   // the plugin to ask Qt for; "" = leave Qt's own choice alone
    std::string notice;       // one line for standard error; "" = nothing to say
};

// Pure: the environment in, the choice out.
SessionChoice chooseSession(const SessionEnvironment& environment);

// This process's environment.
SessionEnvironment currentSession();

// Makes the choice for this process, before the application object is made: prints the notice
// and sets QT_QPA_PLATFORM for Qt to read. Once the application exists, restore() puts the
// variable back as it was, so that programs started from the run dialog get the session's own.
class SessionPlatform {
public:
    SessionPlatform();
    ~SessionPlatform() { restore(); }
    SessionPlatform(const SessionPlatform&) = delete;
    SessionPlatform& operator=(const SessionPlatform&) = delete;

    void restore();

private:
    bool set_ = false;
};

}  // namespace platform::linux_impl
