#pragma once
// Our own StatusNotifierItem: the tray icon where a StatusNotifierWatcher runs (swaybar, KDE
// Plasma, GNOME with its AppIndicator extension, Xfce's and LXQt's panels). Qt has one too, but
// it drops the position a host gives with ContextMenu(x, y), and on a Wayland session nothing
// else tells a program where the icon is: Xwayland's pointer is wherever it last left an X11
// window, and a Wayland client learns no screen positions at all. So this item passes the
// position on with the click. Its menu goes out over dbusmenu too, for the hosts that draw an
// item's menu themselves rather than asking the item to.

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include "platform/linux/tray/dbustypes.h"

class QDBusServiceWatcher;

namespace platform::linux_impl {

class DBusMenuExporter;
class SniAdaptor;

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    // A watcher runs on the session bus: hosts show items there. Qt itself makes the same
    // choice (SNI, else XEmbed) once, at start-up.
    static bool watcherPresent();

    explicit StatusNotifierItem(QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Puts the item on the bus and tells the watcher (again whenever a watcher starts).
    bool show();
    void setIcon(const QIcon& icon);
    void setToolTip(const QString& tip);
    void setMenu(QMenu* menu);
    QString serviceName() const { return service_; }

    // What the adaptor tells hosts.
    SniPixmaps pixmaps() const { return pixmaps_; }
    SniToolTip toolTip() const { return {{}, {}, tip_, {}}; }
    bool hasMenu() const { return menu_ != nullptr; }

signals:
    // A click on the icon, with where the host says it happened (screen coordinates); a
    // ContextMenu request comes as Context.
    void activated(QSystemTrayIcon::ActivationReason reason, QPoint at);

private:
    void registerWithWatcher();

    SniAdaptor* adaptor_ = nullptr;
    DBusMenuExporter* menuExporter_ = nullptr;
    QPointer<QMenu> menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QString service_;
    bool shown_ = false;
    SniPixmaps pixmaps_;
    QString tip_;
};

// org.kde.StatusNotifierItem on the item's object.
class SniAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(platform::linux_impl::SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(platform::linux_impl::SniPixmaps OverlayIconPixmap READ none)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(platform::linux_impl::SniPixmaps AttentionIconPixmap READ none)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(platform::linux_impl::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    // Asked by GNOME's AppIndicator host with the icon (a script error there when missing):
    // what a screen reader says for the icon, which is what its tip says.
    Q_PROPERTY(QString IconAccessibleDesc READ iconAccessibleDesc)
    Q_PROPERTY(QString AttentionAccessibleDesc READ empty)
public:
    explicit SniAdaptor(StatusNotifierItem* item);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const;
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    platform::linux_impl::SniPixmaps iconPixmap() const { return item_->pixmaps(); }
    platform::linux_impl::SniPixmaps none() const { return {}; }
    platform::linux_impl::SniToolTip toolTip() const { return item_->toolTip(); }
    bool itemIsMenu() const { return false; }
    QString iconAccessibleDesc() const;
    QDBusObjectPath menu() const;

public slots:
    void ContextMenu(int x, int y);
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem* item_;
};

}  // namespace platform::linux_impl
