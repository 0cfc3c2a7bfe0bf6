#include "platform/linux/tray.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMetaObject>
#include <QSystemTrayIcon>

#include <cstring>

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

}  // namespace

TrayIcons::TrayIcons() = default;

TrayIcons::~TrayIcons()
{
    for (auto& [key, entry] : entries_)
        delete entry->icon.data();
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
        if (QSystemTrayIcon* icon = it->second->icon) {
            icon->hide();
            delete icon;
        }
        entries_.erase(it);
        return true;
    }
    return false;
}

bool TrayIcons::add(const Key& key, const TrayData& data)
{
    if (entries_.contains(key) || QCoreApplication::instance() == nullptr)
        return false;
    auto entry = std::make_unique<Entry>();
    auto* icon = new QSystemTrayIcon(QCoreApplication::instance());
    entry->icon = icon;

    // Delivered later from the event loop, the way a posted window message would be.
    Entry* const state = entry.get();
    TrayReceiver* const receiver = data.window;
    const std::uint32_t id = data.id;
    QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                     [state, receiver, id](QSystemTrayIcon::ActivationReason reason) {
                         const auto mouse = mouseMessageFor(reason);
                         if (!mouse || !state->sendsMessages || receiver == nullptr)
                             return;
                         const std::uint32_t message = state->callbackMessage;
                         QMetaObject::invokeMethod(
                             state->icon, [receiver, message, id, m = *mouse] {
                                 receiver->trayMessage(message, id, m);
                             },
                             Qt::QueuedConnection);
                     });

    entry->iconKey = icon->icon().cacheKey();
    update(*entry, data);
    icon->show();
    entries_.emplace(key, std::move(entry));
    return true;
}

void TrayIcons::update(Entry& entry, const TrayData& data)
{
    QSystemTrayIcon* const icon = entry.icon;
    if (icon == nullptr)
        return;
    if ((data.flags & kNifMessage) != 0) {
        entry.sendsMessages = true;
        entry.callbackMessage = data.callbackMessage;
    }
    if (data.menu != nullptr && icon->contextMenu() != data.menu)
        icon->setContextMenu(data.menu);
    // Pushing an unchanged icon or tip still costs a repaint of the tray; callers do this often.
    if ((data.flags & kNifIcon) != 0 && data.icon.cacheKey() != entry.iconKey) {
        icon->setIcon(data.icon);
        entry.iconKey = data.icon.cacheKey();
    }
    if ((data.flags & kNifTip) != 0) {
        if (QString tip = tipOf(data); tip != entry.tip) {
            icon->setToolTip(tip);
            entry.tip = std::move(tip);
        }
    }
}

}  // namespace platform::linux_impl
