#pragma once
// Notification-area icons, known by (receiver, id): our own StatusNotifierItem where a
// StatusNotifierWatcher runs (tray_sni.h), else a QSystemTrayIcon, which docks in an XEmbed tray.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include "platform/Platform.h"

namespace platform::linux_impl {

class StatusNotifierItem;

class TrayIcons {
public:
    TrayIcons();
    ~TrayIcons();
    TrayIcons(const TrayIcons&) = delete;
    TrayIcons& operator=(const TrayIcons&) = delete;

    bool apply(TrayOp op, const TrayData& data);

    // While a click's message is being delivered: where the tray host said the click was (a
    // StatusNotifierItem host tells; an XEmbed tray does not, the pointer is there anyway).
    std::optional<QPoint> clickPoint() const { return clickPoint_; }

private:
    struct Entry {
        // One of the two; parented to the application, which may go first.
        QPointer<QSystemTrayIcon> icon;
        QPointer<StatusNotifierItem> item;
        std::uint32_t callbackMessage = 0;
        bool sendsMessages = false;
        qint64 iconKey = 0;               // what was last handed to the icon, to skip repeats
        QString tip;
        QMenu* menu = nullptr;
    };
    using Key = std::pair<TrayReceiver*, std::uint32_t>;

    bool add(const Key& key, const TrayData& data);
    void update(Entry& entry, const TrayData& data);
    void deliver(Entry* entry, TrayReceiver* receiver, std::uint32_t id,
                 QSystemTrayIcon::ActivationReason reason, std::optional<QPoint> at);

    std::map<Key, std::unique_ptr<Entry>> entries_;
    std::optional<QPoint> clickPoint_;
};

}  // namespace platform::linux_impl
