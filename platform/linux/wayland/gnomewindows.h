#pragma once
// GNOME's windows, from the program's own GNOME Shell extension (gnome/): every window's
// process, title, kind (X11 with its X id, or native) and the stacking order, over the session
// bus. The list is fetched once and again on each of the extension's Changed signals, always
// asynchronously and with a deadline; between them the windows come from the copy kept here,
// so a tick never waits for the shell.
//
// The extension answers only the installed program (its `callers` file names it by the path
// /proc/PID/exe shows). Without the extension on GNOME, the program says once on standard error
// how to enable it, and the list is the X11 one, as anywhere else.

#include <cstdint>
#include <vector>

#include <QDBusConnection>
#include <QObject>

#include "platform/linux/merge/mergewindows.h"

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace platform::linux_impl {

inline constexpr char kGnomeWindowsService[] = "io.github.mirebo.Windows";
inline constexpr char kGnomeWindowsPath[] = "/io/github/mirebo/Windows";
inline constexpr char kGnomeWindowsInterface[] = "io.github.mirebo.Windows1";
inline constexpr char kGnomeExtensionUuid[] = "mirebo-windows@mirebo.github.io";

class GnomeWindows : public QObject {
    Q_OBJECT
public:
    // Starts watching for the extension on `bus`; asks nothing that waits.
    explicit GnomeWindows(QDBusConnection bus = QDBusConnection::sessionBus());
    ~GnomeWindows() override;

    // GNOME's windows, topmost first, as last told; empty while the extension does not answer.
    const std::vector<CompositorWindow>& windows() const { return windows_; }

    // How many lists have been asked for: one at the start and one per change, not one a tick.
    int fetches() const { return fetches_; }

    // At most this many rows are kept of an answer: a peer may claim anything.
    static constexpr std::size_t kMaxWindows = 2048;
    // How long an answer may take before it counts as none.
    static constexpr int kTimeoutMs = 1000;

private:
    void fetch();
    void received(QDBusPendingCallWatcher* call);
    void gone();
    void tellHowToEnable(const QString& error);
    Q_SLOT void changed();

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool inFlight_ = false;
    bool again_ = false;
    bool told_ = false;
    bool refused_ = false;
    int fetches_ = 0;
    std::vector<CompositorWindow> windows_;
};

}  // namespace platform::linux_impl
