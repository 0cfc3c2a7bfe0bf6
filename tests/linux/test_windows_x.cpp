#include <gtest/gtest.h>

#include <unistd.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/procfs.h"
#include "platform/linux/utf8.h"
#include "platform/linux/x11.h"

// These need a real X server (run with QT_QPA_PLATFORM=xcb and DISPLAY set); elsewhere they
// are skipped. They work with and without a window manager.

using namespace platform;
using platform::linux_impl::qtX11;
using platform::linux_impl::readStartTime;

namespace {

std::optional<WindowInfo> waitForWindow(LinuxPlatform& platform, std::uint64_t id,
                                        const std::string& title)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        for (const WindowInfo& info : platform.windows()) {
            if (info.id == id && info.title == title)
                return info;
        }
        QTest::qWait(20);
    }
    return std::nullopt;
}

// A bare X window of ours with a WM_NAME of the given type and bytes and no _NET_WM_PID.
class RawWindow {
public:
    RawWindow(const linux_impl::X11& x, xcb_atom_t type, const std::string& name) : x_(x)
    {
        id_ = xcb_generate_id(x.connection);
        xcb_create_window(x.connection, XCB_COPY_FROM_PARENT, id_, x.root, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(x.connection, XCB_PROP_MODE_REPLACE, id_, XCB_ATOM_WM_NAME, type, 8,
                            static_cast<std::uint32_t>(name.size()), name.data());
        xcb_map_window(x.connection, id_);
        xcb_flush(x.connection);
    }
    ~RawWindow()
    {
        xcb_destroy_window(x_.connection, id_);
        xcb_flush(x_.connection);
    }
    xcb_window_t id() const { return id_; }

private:
    linux_impl::X11 x_;
    xcb_window_t id_ = XCB_NONE;
};

class WindowsOnX : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs X (QT_QPA_PLATFORM=xcb)";
        x = qtX11();
        ASSERT_TRUE(x);
    }
    std::optional<linux_impl::X11> x;
    LinuxPlatform platform;
};

}  // namespace

TEST_F(WindowsOnX, ListsOwnQtWindowWithTitlePidAndIdentity)
{
    QWidget widget;
    widget.setWindowTitle(QStringLiteral("ミレボ テスト窓"));
    widget.resize(200, 100);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const auto info = waitForWindow(platform, widget.windowHandle()->winId(), "ミレボ テスト窓");
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->visible);
    EXPECT_EQ(info->pid, static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(info->identity, readStartTime(static_cast<std::uint32_t>(::getpid())));
    EXPECT_NE(info->identity, 0u);
}

TEST_F(WindowsOnX, CompoundTextTitleIsDecoded)
{
    const auto atoms = linux_impl::internAtoms(x->connection, {"COMPOUND_TEXT"});
    // "日本語" with JIS X 0208 designated to G1, as xterm writes it.
    RawWindow window(*x, atoms[0], "abc \x1b\x24\x29\x42\xc6\xfc\xcb\xdc\xb8\xec");
    const auto info = waitForWindow(platform, window.id(), "abc 日本語");
    ASSERT_TRUE(info);
    // No _NET_WM_PID on this window: the server still knows it is ours.
    EXPECT_EQ(info->pid, static_cast<std::uint32_t>(::getpid()));
}

TEST_F(WindowsOnX, Latin1TitleIsConverted)
{
    RawWindow window(*x, XCB_ATOM_STRING, "caf\xE9");
    EXPECT_TRUE(waitForWindow(platform, window.id(), "café"));
}

TEST_F(WindowsOnX, InvalidUtf8IsRepaired)
{
    const auto atoms = linux_impl::internAtoms(x->connection, {"UTF8_STRING"});
    RawWindow window(*x, atoms[0], "bad\xFF" "byte");
    EXPECT_TRUE(waitForWindow(platform, window.id(), "bad\xEF\xBF\xBD" "byte"));
}

TEST_F(WindowsOnX, HugeTitleIsCappedAtACharacterBoundary)
{
    const auto atoms = linux_impl::internAtoms(x->connection, {"UTF8_STRING", "COMPOUND_TEXT"});
    for (const std::string lead : {"", "a", "ab"}) {   // shifts where the fetched part ends
        SCOPED_TRACE("lead '" + lead + "'");
        std::string utf8 = lead;
        while (utf8.size() < 100 * 1024)
            utf8 += "端";
        RawWindow plain(*x, atoms[0], utf8);
        EXPECT_TRUE(waitForWindow(platform, plain.id(), linux_impl::cutUtf8(utf8, 1023)));

        std::string compound = lead + "\x1b\x24\x29\x42";
        std::string expected = lead;
        while (compound.size() < 100 * 1024) {
            compound += "\xc6\xfc";
            expected += "日";
        }
        RawWindow encoded(*x, atoms[1], compound);
        EXPECT_TRUE(waitForWindow(platform, encoded.id(), linux_impl::cutUtf8(expected, 1023)));
    }
}

TEST_F(WindowsOnX, ListIsTopmostFirst)
{
    QWidget lower, upper;
    lower.setWindowTitle(QStringLiteral("lower"));
    upper.setWindowTitle(QStringLiteral("upper"));
    lower.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&lower));
    upper.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&upper));
    upper.raise();
    ASSERT_TRUE(waitForWindow(platform, upper.windowHandle()->winId(), "upper"));
    QTest::qWait(100);
    int lowerAt = -1, upperAt = -1, at = 0;
    for (const WindowInfo& info : platform.windows()) {
        if (info.id == lower.windowHandle()->winId())
            lowerAt = at;
        if (info.id == upper.windowHandle()->winId())
            upperAt = at;
        ++at;
    }
    ASSERT_GE(lowerAt, 0);
    ASSERT_GE(upperAt, 0);
    EXPECT_LT(upperAt, lowerAt);
}
