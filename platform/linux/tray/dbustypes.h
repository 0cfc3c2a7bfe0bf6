#pragma once
// The D-Bus structures of a StatusNotifierItem (its icon pictures and tooltip) and of the
// com.canonical.dbusmenu interface that carries its menu, with their marshalling.

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QIcon;

namespace platform::linux_impl {

// One picture of the icon: ARGB32, each pixel's bytes in network order (A, R, G, B).
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;   // a(iiay)

// Every size the icon has (16 and 32 when it names none).
SniPixmaps sniPixmaps(const QIcon& icon);

struct SniToolTip {   // (sa(iiay)ss): icon name, pictures, title, text
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};

// A menu item and, to the depth asked for, those below it: (ia{sv}av), each child a variant
// holding the same structure.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};

struct DBusMenuItem {   // (ia{sv})
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItems = QList<DBusMenuItem>;

struct DBusMenuItemKeys {   // (ias)
    int id = 0;
    QStringList names;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

struct DBusMenuEvent {   // (isvu)
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEvents = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

// Makes the types known to Qt's D-Bus; once is enough, more is harmless.
void registerTrayDBusTypes();

}  // namespace platform::linux_impl

Q_DECLARE_METATYPE(platform::linux_impl::SniPixmap)
Q_DECLARE_METATYPE(platform::linux_impl::SniToolTip)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuLayout)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuItem)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuItemKeys)
Q_DECLARE_METATYPE(platform::linux_impl::DBusMenuEvent)
