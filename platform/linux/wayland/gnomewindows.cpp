#include "platform/linux/wayland/gnomewindows.h"

#include <cstdio>
#include <unordered_map>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include "platform/linux/proc/procfs.h"
#include "platform/linux/text/utf8.h"

namespace platform::linux_impl {
namespace {

constexpr std::size_t kTitleBytes = 1023;
constexpr char kShellService[] = "org.gnome.Shell";

}  // namespace

GnomeWindows::GnomeWindows(QDBusConnection bus) : bus_(std::move(bus))
{
    if (!bus_.isConnected())
        return;
    watcher_ = new QDBusServiceWatcher(QString::fromLatin1(kGnomeWindowsService), bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                refused_ = false;   // a new extension, perhaps with a new callers file
                if (owner.isEmpty())
                    gone();
                else
                    fetch();
            });
    bus_.connect(QString::fromLatin1(kGnomeWindowsService), QString::fromLatin1(kGnomeWindowsPath),
                 QString::fromLatin1(kGnomeWindowsInterface), QStringLiteral("Changed"), this,
                 SLOT(changed()));
    fetch();
}

GnomeWindows::~GnomeWindows() = default;

void GnomeWindows::changed()
{
    fetch();
}

void GnomeWindows::gone()
{
    windows_.clear();
}

void GnomeWindows::fetch()
{
    // Refused once, refused until the extension changes: this program's path stays what it is.
    if (refused_)
        return;
    // One question at a time: a change told while one is on its way asks again once it is back.
    if (inFlight_) {
        again_ = true;
        return;
    }
    inFlight_ = true;
    ++fetches_;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kGnomeWindowsService), QString::fromLatin1(kGnomeWindowsPath),
        QString::fromLatin1(kGnomeWindowsInterface), QStringLiteral("List"));
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, kTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, &GnomeWindows::received);
}

void GnomeWindows::received(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    inFlight_ = false;
    const QDBusMessage reply = call->reply();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        windows_.clear();
        refused_ = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.AccessDenied");
        if (refused_ || !again_)
            tellHowToEnable(reply.errorName());
    } else if (reply.signature() == QLatin1String("a(tubts)")) {
        // The owner's start time is read once per window: a pid that stays with its window
        // keeps it, a new window or a new pid is looked up.
        std::unordered_map<std::uint64_t, const CompositorWindow*> known;
        for (const CompositorWindow& window : windows_)
            known.emplace(window.id, &window);
        std::vector<CompositorWindow> windows;
        const auto list = reply.arguments().at(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            qulonglong id = 0, xid = 0;
            uint pid = 0;
            bool x11 = false;
            QString title;
            list.beginStructure();
            list >> id >> pid >> x11 >> xid >> title;
            list.endStructure();
            if (windows.size() == kMaxWindows)
                continue;   // read to the end, keep no more
            CompositorWindow window{id, x11, x11 ? xid : 0,
                                    cutUtf8(repairUtf8(title.toStdString()), kTitleBytes), pid, 0};
            if (!x11 && pid != 0) {
                const auto it = known.find(id);
                window.identity = it != known.end() && it->second->pid == pid && it->second->identity != 0
                                      ? it->second->identity
                                      : readStartTime(pid);
            }
            windows.push_back(std::move(window));
        }
        list.endArray();
        windows_ = std::move(windows);
    } else {
        windows_.clear();   // not the list we know: trust none of it
    }
    if (again_) {
        again_ = false;
        fetch();
    }
}

// Said once, and only on GNOME: elsewhere nobody answers on this name, and rightly so.
void GnomeWindows::tellHowToEnable(const QString& error)
{
    if (told_)
        return;
    const bool refused = error == QLatin1String("org.freedesktop.DBus.Error.AccessDenied");
    if (!refused) {
        QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        ask << QString::fromLatin1(kShellService);
        auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kTimeoutMs), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<bool> onGnome = *call;
            if (told_ || !onGnome.isValid() || !onGnome.value() || !windows_.empty())
                return;
            told_ = true;
            std::fprintf(stderr,
                         "mirebo: GNOME Shell lists only X11 windows to this program until its extension is "
                         "enabled: gnome-extensions enable %s (installed with the package; on Wayland, "
                         "GNOME Shell finds a newly installed extension at the next login)\n",
                         kGnomeExtensionUuid);
        });
        return;
    }
    told_ = true;
    std::fprintf(stderr,
                 "mirebo: GNOME's window list answers only the installed program (/proc/PID/exe as its "
                 "extension's callers file names it); this one lists only X11 windows\n");
}

}  // namespace platform::linux_impl
