#include <QMenu>

#include "fixture.h"

using namespace platform;

namespace {

QString Tip(const platform::TrayData& data)
{
    return QString::fromUtf8(data.tip);
}

}  // namespace

TEST_F(MainWindowTest, TheIconIsRegisteredWhileTheWindowIsCreated)
{
    ASSERT_FALSE(fake.trayCalls.empty());
    const auto& [op, data] = fake.trayCalls.front();
    EXPECT_EQ(op, TrayOp::Add);
    EXPECT_EQ(data.size, 88u);
    EXPECT_EQ(data.window, form.get());
    EXPECT_EQ(data.id, 100u);
    EXPECT_EQ(data.flags, 7u);
    EXPECT_EQ(data.callbackMessage, kTrayCallbackMessage);
    EXPECT_EQ(data.icon.cacheKey(), form->windowIcon().cacheKey());
    EXPECT_EQ(Tip(data), QStringLiteral("ソラトキ"));
    EXPECT_EQ(data.menu, form->popExt());
    // Registered first, then kept off the taskbar.
    const auto added = std::find(fake.calls.begin(), fake.calls.end(), "notifyIcon 0");
    const auto hidden = std::find(fake.calls.begin(), fake.calls.end(), "hideTaskbarButton 1");
    EXPECT_LT(added, hidden);
}

TEST_F(MainWindowTest, EachTickShowsTheLoadInWholeFifths)
{
    Show();
    const std::pair<std::int32_t, int> cases[] = {
        {19, 0}, {20, 1}, {50, 2}, {59, 2}, {60, 3}, {70, 3}, {99, 4}, {100, 5}, {119, 5},
        {-19, 0}, {120, -1}, {-20, -1}, {1000, -1},
    };
    for (const auto& [load, level] : cases) {
        fake.setCpuUsage(load);
        form->timRefTimer();
        const auto& [op, data] = fake.trayCalls.back();
        EXPECT_EQ(op, TrayOp::Modify);
        EXPECT_EQ(data.icon.cacheKey(), form->TrayIcon(level).cacheKey()) << load;
        EXPECT_EQ(Tip(data), QStringLiteral("CPU 使用率 %1%").arg(load));
    }
}

TEST_F(MainWindowTest, ALoadOutsideTheLevelsShowsAnEmptyIconNotNoIcon)
{
    const QIcon& empty = form->TrayIcon(6);
    ASSERT_FALSE(empty.isNull());
    const QImage picture = empty.pixmap(16, 16).toImage();
    EXPECT_EQ(picture.size(), QSize(16, 16));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(qAlpha(picture.pixel(x, y)), 0) << x << "," << y;
}

TEST_F(MainWindowTest, EachLevelIconFillsTheScreenFromTheBottom)
{
    // The screen is 7 wide and 5 high, at columns 4-10 and rows 3-7.
    QImage level[6];
    for (int k = 0; k < 6; ++k) {
        level[k] = QImage(QStringLiteral(":/icons/tray%1.xpm").arg(k)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(level[k].size(), QSize(16, 16)) << k;
    }
    for (int k = 0; k < 6; ++k) {
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const bool screen = x >= 4 && x <= 10 && y >= 3 && y <= 7;
                const QRgb pixel = level[k].pixel(x, y);
                if (!screen) {
                    EXPECT_EQ(pixel, level[0].pixel(x, y)) << k << ": " << x << "," << y;
                    continue;
                }
                const bool lit = y > 7 - k;
                EXPECT_EQ(pixel, lit ? 0xFF00FF00u : 0xFF000000u) << k << ": " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(qAlpha(level[0].pixel(0, 0)), 0) << "transparent background";
}

// ---- mouse on the icon ----
TEST_F(MainWindowTest, ARightClickBringsTheWindowForwardAndOpensTheMenuAtTheCursor)
{
    Show();
    fake.cursor = QPoint(300, 250);
    form->trayMessage(kTrayCallbackMessage, 100, kRButtonDown);
    EXPECT_EQ(fake.calls.front(), "cursorPos");
    EXPECT_EQ(fake.foreground, form.get());
    QMenu* menu = form->popExt();
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->pos(), QPoint(300, 250));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("終了"));
    menu->hide();
}

TEST_F(MainWindowTest, EveryOtherMouseMessageIsIgnored)
{
    Show();
    for (std::uint32_t message : {kMouseMove, kLButtonDown, kLButtonUp, kLButtonDblClk, kRButtonUp,
                                  kMButtonDown}) {
        form->trayMessage(kTrayCallbackMessage, 100, message);
        EXPECT_TRUE(fake.calls.empty()) << message;
        EXPECT_FALSE(form->popExt()->isVisible()) << message;
    }
    form->trayMessage(kTrayCallbackMessage + 1, 100, kRButtonDown);
    EXPECT_TRUE(fake.calls.empty()) << "another message number";
}

TEST_F(MainWindowTest, TheMenusExitClosesThroughTheCloseQuery)
{
    Show();
    form->popExt()->actions()[0]->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(fake.trayCalls.back().op, TrayOp::Delete);
    EXPECT_EQ(fake.trayCalls.back().data.id, 100u);
    EXPECT_EQ(form->StatReg(), nullptr);
}

TEST_F(MainWindowTest, TheIconStaysWithTheWindowThroughAlwaysOnTop)
{
    Show();
    Find<QAction>("btnTop")->trigger();
    fake.setCpuUsage(80);
    form->timRefTimer();
    const auto& [op, data] = fake.trayCalls.back();
    EXPECT_EQ(op, TrayOp::Modify);
    EXPECT_EQ(data.window, form.get());
    EXPECT_EQ(Tip(data), QStringLiteral("CPU 使用率 80%"));
    form->trayMessage(kTrayCallbackMessage, 100, kRButtonDown);
    EXPECT_TRUE(form->popExt()->isVisible());
    form->popExt()->hide();
}
