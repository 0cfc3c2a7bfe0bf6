#include "platform/linux/tray/sni.h"

#include <algorithm>

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>

#include "platform/linux/tray/dbusmenu.h"

namespace platform::linux_impl {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");

}  // namespace

bool StatusNotifierItem::watcherPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() != nullptr &&
           bus.interface()->isServiceRegistered(kWatcher).value();
}

StatusNotifierItem::StatusNotifierItem(QObject* parent) : QObject(parent)
{
    registerTrayDBusTypes();
    adaptor_ = new SniAdaptor(this);
    static int count = 0;
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(::getpid()).arg(++count);
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!shown_)
        return;
    // Hosts drop the item when its name goes.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kItemPath);
    if (menuExporter_ != nullptr)
        bus.unregisterObject(kMenuPath);
    bus.unregisterService(service_);
}

bool StatusNotifierItem::show()
{
    if (shown_)
        return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(service_))
        return false;
    if (!bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors)) {
        bus.unregisterService(service_);
        return false;
    }
    if (menuExporter_ != nullptr)
        bus.registerObject(kMenuPath, menuExporter_, QDBusConnection::ExportAdaptors);
    shown_ = true;
    // A watcher that starts later (a panel restarted) knows nothing of us until told.
    watcher_ = new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierItem::registerWithWatcher);
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::registerWithWatcher()
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"),
                                                       kWatcher, QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    // A new icon object with the same picture (the caller makes one a tick) is no news: every
    // NewIcon has the host fetch and decode the pictures again (GNOME Shell's in script).
    SniPixmaps pixmaps = sniPixmaps(icon);
    const auto same = [](const SniPixmap& a, const SniPixmap& b) {
        return a.width == b.width && a.height == b.height && a.argb == b.argb;
    };
    if (std::equal(pixmaps.begin(), pixmaps.end(), pixmaps_.begin(), pixmaps_.end(), same))
        return;
    pixmaps_ = std::move(pixmaps);
    emit adaptor_->NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& tip)
{
    tip_ = tip;
    emit adaptor_->NewToolTip();
}

void StatusNotifierItem::setMenu(QMenu* menu)
{
    if (menu_ == menu)
        return;
    menu_ = menu;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (menuExporter_ != nullptr) {
        if (shown_)
            bus.unregisterObject(kMenuPath);
        delete menuExporter_;
        menuExporter_ = nullptr;
    }
    if (menu != nullptr) {
        menuExporter_ = new DBusMenuExporter(menu, this);
        if (shown_)
            bus.registerObject(kMenuPath, menuExporter_, QDBusConnection::ExportAdaptors);
    }
}

SniAdaptor::SniAdaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), item_(item) {}

QString SniAdaptor::id() const
{
    return QCoreApplication::applicationName();
}

QString SniAdaptor::title() const
{
    return QGuiApplication::applicationDisplayName();
}

QString SniAdaptor::iconAccessibleDesc() const
{
    const QString tip = item_->toolTip().title;
    return tip.isEmpty() ? title() : tip;
}

QDBusObjectPath SniAdaptor::menu() const
{
    return QDBusObjectPath(item_->hasMenu() ? kMenuPath : QStringLiteral("/NO_DBUSMENU"));
}

void SniAdaptor::ContextMenu(int x, int y)
{
    emit item_->activated(QSystemTrayIcon::Context, QPoint(x, y));
}

void SniAdaptor::Activate(int x, int y)
{
    emit item_->activated(QSystemTrayIcon::Trigger, QPoint(x, y));
}

void SniAdaptor::SecondaryActivate(int x, int y)
{
    emit item_->activated(QSystemTrayIcon::MiddleClick, QPoint(x, y));
}

void SniAdaptor::Scroll(int, const QString&) {}

}  // namespace platform::linux_impl
