#pragma once
// A QMenu offered over D-Bus as com.canonical.dbusmenu, so that a StatusNotifierItem host that
// draws an item's menu itself (KDE Plasma, GNOME's AppIndicator extension) can show it and
// have its items chosen. Separators, check marks, disabled and hidden items and submenus are
// carried; pictures are not. A host's "about to show" reaches the menu as its aboutToShow()
// signal, as when Qt shows the menu itself, and a chosen item is triggered from the event loop.

#include <map>

#include <QDBusAbstractAdaptor>
#include <QDBusVariant>
#include <QMenu>
#include <QObject>
#include <QPointer>

#include "platform/linux/tray/dbustypes.h"


namespace platform::linux_impl {

class DBusMenuExporter : public QObject {
    Q_OBJECT
public:
    // The object to register on the bus; the menu is not owned.
    explicit DBusMenuExporter(QMenu* menu, QObject* parent = nullptr);

    uint layout(int parentId, int depth, const QStringList& names, DBusMenuLayout& out);
    DBusMenuItems groupProperties(const QList<int>& ids, const QStringList& names);
    QVariant itemProperty(int id, const QString& name);
    bool handleEvent(int id, const QString& eventId);
    bool aboutToShow(int id);
    uint revision() const { return revision_; }

signals:
    void layoutChanged(uint revision, int parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenu* menuOf(int id) const;
    QAction* actionOf(int id) const;
    int idOf(QAction* action);
    void watch(QMenu* menu);
    DBusMenuLayout build(int id, int depth, const QStringList& names);
    QVariantMap properties(int id, const QStringList& names);
    void changed();

    QPointer<QMenu> menu_;
    std::map<int, QPointer<QAction>> actions_;
    std::map<QAction*, int> ids_;
    int nextId_ = 1;
    uint revision_ = 1;
    bool announced_ = false;   // the host has said the menu opens (closed: reset)
};

class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit DBusMenuAdaptor(DBusMenuExporter* exporter);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   platform::linux_impl::DBusMenuLayout& layout);
    platform::linux_impl::DBusMenuItems GetGroupProperties(const QList<int>& ids,
                                                           const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const platform::linux_impl::DBusMenuEvents& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void ItemsPropertiesUpdated(const platform::linux_impl::DBusMenuItems& updatedProps,
                                const platform::linux_impl::DBusMenuItemKeysList& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    DBusMenuExporter* exporter_;
};

}  // namespace platform::linux_impl
