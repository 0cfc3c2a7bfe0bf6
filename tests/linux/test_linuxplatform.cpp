#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "platform/linux/LinuxPlatform.h"

using namespace platform;

namespace {

bool onX()
{
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

}  // namespace

TEST(LinuxPlatform, WithoutXThereAreNoWindowsAndXRequestsDoNothing)
{
    if (onX())
        GTEST_SKIP() << "running on X";
    LinuxPlatform platform;
    EXPECT_TRUE(platform.windows().empty());
    QWidget window;
    window.show();
    platform.hideTaskbarButton(&window, true);
    platform.hideTaskbarButton(&window, false);
    platform.setForegroundWindow(&window);
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
