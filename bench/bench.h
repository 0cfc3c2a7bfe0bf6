#pragma once
// Small helpers the benchmarks share.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QtTest/QTest>

#include "platform/Platform.h"
#include "untMain.h"

namespace bench {

// `count` top-level windows as a desktop lists them: titled, mapped, each of its own process.
inline std::vector<platform::WindowInfo> FakeWindows(int count)
{
    std::vector<platform::WindowInfo> windows;
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<std::uint32_t>(i);
        windows.push_back({0x1000000u + n, "文書" + std::to_string(i) + ".txt - テキストエディタ",
                           true, 2000 + n, 100000 + n});
    }
    return windows;
}

// Shows the main window as the program does at start-up and waits until it is on screen; the
// refresh timer is stopped, since the benchmark drives the cycle itself.
inline bool ShowStill(TfrmMain& form)
{
    form.ShowMain();
    const bool exposed = QTest::qWaitForWindowExposed(&form);
    form.timRef()->stop();
    return exposed;
}

// The resident set of this process, in KiB.
inline double RssKiB()
{
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1024.0;
}

// The X11 benchmarks need Qt on an X display (a private desktop with a window manager).
inline bool OnX()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace bench
