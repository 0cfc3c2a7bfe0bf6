#pragma once
// Notification-area icons, known by (receiver, id), each a QSystemTrayIcon of ours.

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include <QPointer>
#include <QString>

#include "platform/Platform.h"

class QSystemTrayIcon;

namespace platform::linux_impl {

class TrayIcons {
public:
    TrayIcons();
    ~TrayIcons();
    TrayIcons(const TrayIcons&) = delete;
    TrayIcons& operator=(const TrayIcons&) = delete;

    bool apply(TrayOp op, const TrayData& data);

private:
    struct Entry {
        QPointer<QSystemTrayIcon> icon;   // parented to the application, which may go first
        std::uint32_t callbackMessage = 0;
        bool sendsMessages = false;
        qint64 iconKey = 0;               // what was last handed to the icon, to skip repeats
        QString tip;
    };
    using Key = std::pair<TrayReceiver*, std::uint32_t>;

    bool add(const Key& key, const TrayData& data);
    void update(Entry& entry, const TrayData& data);

    std::map<Key, std::unique_ptr<Entry>> entries_;
};

}  // namespace platform::linux_impl
