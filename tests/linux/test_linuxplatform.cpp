#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtTest/QTest>

#include "platform/linux/LinuxPlatform.h"

using namespace platform;

namespace {

bool onX()
{
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

}  // namespace

TEST(LinuxPlatform, WithoutXThereAreNoWindowsAndTheWindowRequestsStillHoldOrDoNoHarm)
{
    if (onX())
        GTEST_SKIP() << "running on X";
    LinuxPlatform platform;
    EXPECT_TRUE(platform.windows().empty());

    // The taskbar flag has nothing to go on: the window keeps its native window and its state.
    QWidget window;
    platform.hideTaskbarButton(&window, true);   // before the first show, as at start-up
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPlatformWindow* native = window.windowHandle()->handle();
    platform.hideTaskbarButton(&window, true);
    platform.hideTaskbarButton(&window, false);
    EXPECT_EQ(window.windowHandle()->handle(), native);
    EXPECT_TRUE(window.isVisible());

    // Bringing a window forward is Qt's own raise and activate there.
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    platform.setForegroundWindow(&window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    // A minimised window stays so: bringing it forward is the user's restore.
    other.showMinimized();
    platform.setForegroundWindow(&other);
    QTest::qWait(50);
    EXPECT_TRUE(other.isMinimized());
    EXPECT_EQ(QApplication::activeWindow(), &window);

    platform.hideTaskbarButton(nullptr, true);
    platform.setForegroundWindow(nullptr);
}

TEST(LinuxPlatform, TimerStartsOrIsRefused)
{
    LinuxPlatform platform;
    QTimer timer;
    EXPECT_TRUE(platform.startTimer(timer, 100));
    EXPECT_EQ(timer.interval(), 100);
    EXPECT_TRUE(platform.startTimer(timer, 1000));
    EXPECT_EQ(timer.interval(), 1000);
    EXPECT_TRUE(timer.isActive());
    timer.stop();
    // An interval the event loop cannot run is refused, and leaves no timer running.
    EXPECT_FALSE(platform.startTimer(timer, -1));
    EXPECT_FALSE(timer.isActive());
}

TEST(LinuxPlatform, FiguresComeThrough)
{
    LinuxPlatform platform;
    EXPECT_TRUE(platform.memoryStatus().has_value());
    EXPECT_NE(platform.processorType(), 0u);   // the machines this is built for are all known
    StatKey key = 0;
    ASSERT_EQ(platform.regOpenKey(kDynDataRoot, "PerfStats\\StatData", &key), kErrorSuccess);
    std::int32_t load = -1;
    std::uint32_t size = sizeof load;
    EXPECT_EQ(platform.regQueryValue(key, "KERNEL\\CPUUsage", nullptr, &load, &size),
              kErrorSuccess);
    EXPECT_GE(load, 0);
    platform.regCloseKey(key);
}
