#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <cstring>

#include "platform/linux/tray/tray.h"

using namespace platform;
using platform::linux_impl::TrayIcons;

namespace {

struct Receiver final : TrayReceiver {
    void trayMessage(std::uint32_t, std::uint32_t, std::uint32_t) override { ++messages; }
    int messages = 0;
};

TrayData record(Receiver& receiver, std::uint32_t id, const char* tip)
{
    TrayData data;
    data.size = sizeof data;
    data.window = &receiver;
    data.id = id;
    data.flags = kNifMessage | kNifIcon | kNifTip;
    data.callbackMessage = 0x8001;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::green);
    data.icon = QIcon(pixmap);
    std::strncpy(data.tip, tip, sizeof data.tip - 1);
    return data;
}

// The icons standing now: each is a child of the application.
QList<QSystemTrayIcon*> ourIcons()
{
    return QCoreApplication::instance()->findChildren<QSystemTrayIcon*>(Qt::FindDirectChildrenOnly);
}

}  // namespace

// These run without a tray host (offscreen, or X with no tray): the icon does not show, but
// every call must behave.
TEST(Tray, AddModifyDelete)
{
    Receiver receiver;
    TrayIcons tray;
    QMenu menu;
    TrayData data = record(receiver, 1, "ミレボ");
    data.menu = &menu;
    EXPECT_TRUE(tray.apply(TrayOp::Add, data));
    std::strncpy(data.tip, "CPU 50%", sizeof data.tip - 1);
    EXPECT_TRUE(tray.apply(TrayOp::Modify, data));
    EXPECT_TRUE(tray.apply(TrayOp::Modify, data));   // unchanged: nothing pushed, still fine
    EXPECT_TRUE(tray.apply(TrayOp::Delete, data));
    EXPECT_FALSE(tray.apply(TrayOp::Delete, data));
}

TEST(Tray, UnknownIconsAreRefused)
{
    Receiver receiver, other;
    TrayIcons tray;
    EXPECT_FALSE(tray.apply(TrayOp::Modify, record(receiver, 1, "x")));
    EXPECT_TRUE(tray.apply(TrayOp::Add, record(receiver, 1, "x")));
    EXPECT_FALSE(tray.apply(TrayOp::Modify, record(receiver, 2, "x")));
    EXPECT_FALSE(tray.apply(TrayOp::Delete, record(other, 1, "x")));
    EXPECT_FALSE(tray.apply(TrayOp::Add, record(receiver, 1, "x")));   // already there
    EXPECT_TRUE(tray.apply(static_cast<TrayOp>(7), record(receiver, 1, "x")) == false);
}

TEST(Tray, TipWithoutNulIsBounded)
{
    Receiver receiver;
    TrayIcons tray;
    TrayData data = record(receiver, 1, "");
    std::memset(data.tip, 'a', sizeof data.tip);
    ASSERT_TRUE(tray.apply(TrayOp::Add, data));
    const QList<QSystemTrayIcon*> icons = ourIcons();
    ASSERT_EQ(icons.size(), 1);
    EXPECT_EQ(icons[0]->toolTip(), QString(qsizetype(sizeof data.tip), u'a'));
    EXPECT_TRUE(tray.apply(TrayOp::Delete, data));
}

TEST(Tray, IconsLeftAtTheEndAreRemoved)
{
    Receiver receiver;
    auto tray = std::make_unique<TrayIcons>();
    EXPECT_TRUE(tray->apply(TrayOp::Add, record(receiver, 1, "a")));
    EXPECT_TRUE(tray->apply(TrayOp::Add, record(receiver, 2, "b")));
    EXPECT_EQ(ourIcons().size(), 2);
    tray.reset();
    EXPECT_TRUE(ourIcons().isEmpty());
    EXPECT_EQ(receiver.messages, 0);
}
