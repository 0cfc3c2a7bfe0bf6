#include "platform/linux/tray/tray.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaObject>

#include <cstring>

#include "platform/linux/tray/sni.h"

namespace platform::linux_impl {
namespace {

std::optional<std::uint32_t> mouseMessageFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        return kRButtonDown;
    case QSystemTrayIcon::Trigger:
        return kLButtonDown;
    case QSystemTrayIcon::DoubleClick:
        return kLButtonDblClk;
    case QSystemTrayIcon::MiddleClick:
        return kMButtonDown;
    default:
        return std::nullopt;
    }
}

QString tipOf(const TrayData& data)
{
    const std::size_t length = ::strnlen(data.tip, sizeof data.tip);
    return QString::fromUtf8(data.tip, static_cast<qsizetype>(length));
}

QObject* objectOf(const QPointer<QSystemTrayIcon>& icon, const QPointer<StatusNotifierItem>& item)
{
    return item ? static_cast<QObject*>(item.data()) : static_cast<QObject*>(icon.data());
}

}  // namespace

TrayIcons::TrayIcons() = default;

TrayIcons::~TrayIcons()
{
    for (auto& [key, entry] : entries_)
        delete objectOf(entry->icon, entry->item);
}

bool TrayIcons::apply(TrayOp op, const TrayData& data)
{
    const Key key{data.window, data.id};
    if (op == TrayOp::Add)
        return add(key, data);

    const auto it = entries_.find(key);
    if (it == entries_.end())
        return false;
    if (op == TrayOp::Modify) {
        update(*it->second, data);
        return true;
    }
    if (op == TrayOp::Delete) {
        if (QSystemTrayIcon* icon = it->second->icon)
            icon->hide();
        delete objectOf(it->second->icon, it->second->item);
        entries_.erase(it);
        return true;
    }
    return false;
}

void TrayIcons::deliver(Entry* entry, TrayReceiver* receiver, std::uint32_t id,
                        QSystemTrayIcon::ActivationReason reason, std::optional<QPoint> at)
{
    const auto mouse = mouseMessageFor(reason);
    if (!mouse || !entry->sendsMessages || receiver == nullptr)
        return;
    const std::uint32_t message = entry->callbackMessage;
    // Delivered later from the event loop, the way a posted window message would be.
    QMetaObject::invokeMethod(
        objectOf(entry->icon, entry->item),
        [this, receiver, message, id, m = *mouse, at] {
            clickPoint_ = at;
            receiver->trayMessage(message, id, m);
            clickPoint_.reset();
        },
        Qt::QueuedConnection);
}

bool TrayIcons::add(const Key& key, const TrayData& data)
{
    if (entries_.contains(key) || QCoreApplication::instance() == nullptr)
        return false;
    auto entry = std::make_unique<Entry>();
    Entry* const state = entry.get();
    TrayReceiver* const receiver = data.window;
    const std::uint32_t id = data.id;

    if (StatusNotifierItem::watcherPresent()) {
        auto* item = new StatusNotifierItem(QCoreApplication::instance());
        entry->item = item;
        QObject::connect(item, &StatusNotifierItem::activated, item,
                         [this, state, receiver, id](QSystemTrayIcon::ActivationReason reason, QPoint at) {
                             deliver(state, receiver, id, reason, at);
                         });
        update(*entry, data);
        if (!item->show()) {
            delete item;
            return false;
        }
    } else if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // A native Wayland client has no XEmbed tray to dock in, ever.
        return false;
    } else {
        auto* icon = new QSystemTrayIcon(QCoreApplication::instance());
        entry->icon = icon;
        QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                         [this, state, receiver, id](QSystemTrayIcon::ActivationReason reason) {
                             deliver(state, receiver, id, reason, std::nullopt);
                         });
        entry->iconKey = icon->icon().cacheKey();
        update(*entry, data);
        icon->show();
    }
    entries_.emplace(key, std::move(entry));
    return true;
}

void TrayIcons::update(Entry& entry, const TrayData& data)
{
    QSystemTrayIcon* const icon = entry.icon;
    StatusNotifierItem* const item = entry.item;
    if (icon == nullptr && item == nullptr)
        return;
    if ((data.flags & kNifMessage) != 0) {
        entry.sendsMessages = true;
        entry.callbackMessage = data.callbackMessage;
    }
    if (data.menu != nullptr && entry.menu != data.menu) {
        entry.menu = data.menu;
        if (item != nullptr)
            item->setMenu(data.menu);
        else
            icon->setContextMenu(data.menu);
    }
    // Pushing an unchanged icon or tip still costs a repaint of the tray; callers do this often.
    if ((data.flags & kNifIcon) != 0 && data.icon.cacheKey() != entry.iconKey) {
        if (item != nullptr)
            item->setIcon(data.icon);
        else
            icon->setIcon(data.icon);
        entry.iconKey = data.icon.cacheKey();
    }
    if ((data.flags & kNifTip) != 0) {
        if (QString tip = tipOf(data); tip != entry.tip) {
            if (item != nullptr)
                item->setToolTip(tip);
            else
                icon->setToolTip(tip);
            entry.tip = std::move(tip);
        }
    }
}

}  // namespace platform::linux_impl
