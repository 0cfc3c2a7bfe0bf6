#include <gtest/gtest.h>

#include <unistd.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/proc/names.h"
#include "platform/linux/proc/procfs.h"
#include "platform/linux/text/utf8.h"
#include "platform/linux/x11/windows.h"
#include "platform/linux/x11/x11.h"

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
        EXPECT_TRUE(waitForWindow(platform, plain.id(), linux_impl::cutUtf8(utf8, kMaxTitleBytes)));

        std::string compound = lead + "\x1b\x24\x29\x42";
        std::string expected = lead;
        while (compound.size() < 100 * 1024) {
            compound += "\xc6\xfc";
            expected += "日";
        }
        RawWindow encoded(*x, atoms[1], compound);
        EXPECT_TRUE(waitForWindow(platform, encoded.id(), linux_impl::cutUtf8(expected, kMaxTitleBytes)));
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

// ---- whose window, and in which order: the X server's word ----
namespace {

// A plain window of one colour, as a client of the given kind leaves it on screen.
class ColourWindow {
public:
    ColourWindow(const linux_impl::X11& x, std::uint32_t pixel, const std::string& title,
                 std::initializer_list<xcb_atom_t> states = {})
        : x_(x)
    {
        id_ = xcb_generate_id(x.connection);
        const std::uint32_t values[] = {pixel};
        xcb_create_window(x.connection, XCB_COPY_FROM_PARENT, id_, x.root, 300, 200, 200, 150, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                          values);
        Set(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.size(), title.data());
        // Placed where asked (USPosition, USSize), so that the windows overlap.
        std::uint32_t hints[18] = {1 | 2, 300, 200, 200, 150};
        Set(XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        const auto atoms = linux_impl::internAtoms(x.connection, {"_NET_WM_STATE"});
        const std::vector<xcb_atom_t> list(states);
        if (!list.empty())
            Set(atoms[0], XCB_ATOM_ATOM, 32, list.size(), list.data());
        xcb_map_window(x.connection, id_);
        xcb_flush(x.connection);
    }
    ~ColourWindow()
    {
        xcb_destroy_window(x_.connection, id_);
        xcb_flush(x_.connection);
    }
    void Set(xcb_atom_t property, xcb_atom_t type, int format, std::size_t count, const void* data)
    {
        xcb_change_property(x_.connection, XCB_PROP_MODE_REPLACE, id_, property, type,
                            static_cast<std::uint8_t>(format), static_cast<std::uint32_t>(count),
                            data);
        xcb_flush(x_.connection);
    }
    void Raise()
    {
        const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(x_.connection, id_, XCB_CONFIG_WINDOW_STACK_MODE, above);
        xcb_flush(x_.connection);
    }
    xcb_window_t id() const { return id_; }
    // Where the window's middle is on the screen.
    QPoint Middle() const
    {
        linux_impl::XReply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
            x_.connection, xcb_translate_coordinates(x_.connection, id_, x_.root, 100, 75),
            nullptr));
        return at ? QPoint(at->dst_x, at->dst_y) : QPoint();
    }

private:
    linux_impl::X11 x_;
    xcb_window_t id_ = XCB_NONE;
};

// The colour the screen shows at one point: what a user sees there.
std::uint32_t screenPixel(const linux_impl::X11& x, int px, int py)
{
    linux_impl::XReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        x.connection,
        xcb_get_image(x.connection, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root, static_cast<std::int16_t>(px),
                      static_cast<std::int16_t>(py), 1, 1, ~0u),
        nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < 4)
        return 0;
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, xcb_get_image_data(image.get()), 4);
    return pixel & 0xFFFFFF;
}

int positionOf(const std::vector<WindowInfo>& list, xcb_window_t id)
{
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].id == id)
            return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST_F(WindowsOnX, TheWindowOnScreenLeadsTheList)
{
    // An always-on-top window stays above a newer window that asks to be raised; window
    // managers that keep layers may leave the layer out of their own stacking list.
    const auto atoms = linux_impl::internAtoms(x->connection, {"_NET_WM_STATE_ABOVE"});
    ColourWindow above(*x, 0xFF0000, "above", {atoms[0]});
    ASSERT_TRUE(waitForWindow(platform, above.id(), "above"));
    ColourWindow normal(*x, 0x00FF00, "normal");
    ASSERT_TRUE(waitForWindow(platform, normal.id(), "normal"));
    normal.Raise();
    QTest::qWait(300);
    ASSERT_EQ(above.Middle(), normal.Middle()) << "the windows overlap";
    const std::uint32_t seen = screenPixel(*x, above.Middle().x(), above.Middle().y());
    ASSERT_TRUE(seen == 0xFF0000 || seen == 0x00FF00) << std::hex << seen;
    const auto list = platform.windows();
    const int abovePos = positionOf(list, above.id()), normalPos = positionOf(list, normal.id());
    ASSERT_GE(abovePos, 0);
    ASSERT_GE(normalPos, 0);
    if (seen == 0xFF0000)
        EXPECT_LT(abovePos, normalPos) << "the always-on-top window covers the other";
    else
        EXPECT_LT(normalPos, abovePos) << "the raised window covers the other";
}

TEST_F(WindowsOnX, TheServersOwnerIsBelievedBeforeTheWindowsOwnWord)
{
    // Any client may write any _NET_WM_PID; ending that process would hit an innocent one.
    const auto atoms = linux_impl::internAtoms(x->connection, {"_NET_WM_PID"});
    ColourWindow liar(*x, 0x0000FF, "liar");
    const std::uint32_t other = 1;
    liar.Set(atoms[0], XCB_ATOM_CARDINAL, 32, 1, &other);
    const auto info = waitForWindow(platform, liar.id(), "liar");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->pid, static_cast<std::uint32_t>(::getpid()));
}

TEST(WindowsStacking, ClientsFollowTheServersOrderOfTheirFrames)
{
    // Root children bottom first: frames 1..4; client 10 in frame 3, 20 in 1, 30 in 4 (shared
    // with 31), 40 framed by a window that has gone.
    const std::vector<xcb_window_t> root = {1, 2, 3, 4};
    const std::unordered_map<xcb_window_t, xcb_window_t> frames = {
        {10, 3}, {20, 1}, {30, 4}, {31, 4}, {40, 99}};
    const std::vector<xcb_window_t> wmOrder = {20, 40, 31, 10, 30};
    const std::vector<xcb_window_t> expected = {31, 30, 10, 20, 40};
    EXPECT_EQ(linux_impl::serverStackingOrder(root, wmOrder, frames), expected);
}

TEST_F(WindowsOnX, AManagerWithoutListsIsReadThroughWmState)
{
    const auto atoms =
        linux_impl::internAtoms(x->connection, {"_NET_SUPPORTING_WM_CHECK", "WM_STATE"});
    linux_impl::XReply<xcb_get_property_reply_t> check(xcb_get_property_reply(
        x->connection,
        xcb_get_property(x->connection, 0, x->root, atoms[0], XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (check && check->type != XCB_NONE)
        GTEST_SKIP() << "a window manager runs here: it would frame the windows itself";
    // What a reparenting manager without the EWMH lists leaves: an untitled frame on the root
    // and, inside it, the client with WM_STATE.
    ColourWindow frame(*x, 0x808080, "");
    const xcb_window_t client = xcb_generate_id(x->connection);
    xcb_create_window(x->connection, XCB_COPY_FROM_PARENT, client, frame.id(), 0, 20, 200, 130, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string title = "framed";
    xcb_change_property(x->connection, XCB_PROP_MODE_REPLACE, client, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(title.size()), title.data());
    const std::uint32_t normal[] = {1, XCB_NONE};
    xcb_change_property(x->connection, XCB_PROP_MODE_REPLACE, client, atoms[1], atoms[1], 32, 2,
                        normal);
    xcb_map_window(x->connection, client);
    xcb_flush(x->connection);
    const auto info = waitForWindow(platform, client, title);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->visible);
    EXPECT_EQ(info->pid, static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(positionOf(platform.windows(), frame.id()), -1) << "the frame is not a client";
}

// ---- the copy kept from events, against a fresh read ----
namespace {

std::string describe(const std::vector<WindowInfo>& rows)
{
    std::string text;
    for (const WindowInfo& row : rows)
        text += std::to_string(row.id) + " '" + row.title + "' v" + std::to_string(row.visible) +
                " pid " + std::to_string(row.pid) + " id " + std::to_string(row.identity) +
                (row.foreignPid ? " foreign" : "") + "\n";
    return text;
}

bool sameRows(const std::vector<WindowInfo>& a, const std::vector<WindowInfo>& b)
{
    return std::ranges::equal(a, b, [](const WindowInfo& x, const WindowInfo& y) {
        return x.id == y.id && x.title == y.title && x.visible == y.visible && x.pid == y.pid &&
               x.identity == y.identity && x.foreignPid == y.foreignPid;
    });
}

// The copy and a fresh read agree once the window manager has settled (it reacts to the
// changes on its own time, so a few tries are allowed).
::testing::AssertionResult agreesWithAFreshRead(linux_impl::WindowLister& copy)
{
    std::vector<WindowInfo> kept, fresh;
    for (int attempt = 0; attempt < 40; ++attempt) {
        copy.catchUp();
        kept = copy.list();
        linux_impl::WindowLister reader;
        fresh = reader.list();
        if (sameRows(kept, fresh))
            return ::testing::AssertionSuccess();
        QTest::qWait(50);
    }
    return ::testing::AssertionFailure() << "kept:\n" << describe(kept) << "fresh:\n" << describe(fresh);
}

// Clients of their own (each X connection is a client to the server) that make, retitle,
// restack, withdraw and end windows at random.
class Stirrer {
public:
    explicit Stirrer(const linux_impl::X11& x) : root_(x.root)
    {
        for (auto& c : connections_) {
            c = xcb_connect(x.displayName, nullptr);
            EXPECT_EQ(xcb_connection_has_error(c), 0);
        }
        const auto atoms = linux_impl::internAtoms(
            connections_[0], {"_NET_WM_NAME", "UTF8_STRING", "COMPOUND_TEXT", "_NET_WM_PID"});
        netName_ = atoms[0], utf8_ = atoms[1], compound_ = atoms[2], netPid_ = atoms[3];
    }
    ~Stirrer()
    {
        for (auto* c : connections_)
            xcb_disconnect(c);
    }

    void Step(std::mt19937& random)
    {
        const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
        for (int change = 0; change < 4; ++change) {
            const std::size_t what = windows_.size() < 4 ? 0 : pick(8);
            if (what == 0 || (what == 1 && windows_.size() < 12)) {
                Make(connections_[pick(connections_.size())], pick(1000));
                continue;
            }
            auto& [c, w] = windows_[pick(windows_.size())];
            const std::string title = "窓 " + std::to_string(pick(1000));
            switch (what) {
            case 1:
                xcb_destroy_window(c, w);
                windows_.erase(std::ranges::find(windows_, std::pair{c, w}));
                break;
            case 2:
                Text(c, w, netName_, utf8_, title);
                break;
            case 3:
                if (pick(2) == 0)
                    xcb_delete_property(c, w, netName_);
                Text(c, w, XCB_ATOM_WM_NAME, pick(2) ? xcb_atom_t{XCB_ATOM_STRING} : compound_, "name " + title);
                break;
            case 4:
            case 5: {
                const std::uint32_t mode[] = {what == 4 ? XCB_STACK_MODE_ABOVE : XCB_STACK_MODE_BELOW};
                xcb_configure_window(c, w, XCB_CONFIG_WINDOW_STACK_MODE, mode);
                break;
            }
            case 6:
                Text(c, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING,
                     pick(2) ? "elsewhere.invalid" : linux_impl::hostName());
                break;
            default:
                if (pick(2) == 0)
                    xcb_unmap_window(c, w);
                else
                    xcb_map_window(c, w);
                break;
            }
        }
        for (auto* c : connections_)
            linux_impl::XReply<xcb_get_input_focus_reply_t>(
                xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

private:
    void Make(xcb_connection_t* c, std::size_t n)
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root_, static_cast<std::int16_t>(n % 700),
                          static_cast<std::int16_t>(n % 500), 120, 40, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        Text(c, w, netName_, utf8_, "新しい窓 " + std::to_string(n));
        if (n % 2 == 0) {
            const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netPid_, XCB_ATOM_CARDINAL, 32, 1, &pid);
        }
        xcb_map_window(c, w);
        windows_.emplace_back(c, w);
    }
    static void Text(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                     const std::string& text)
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8,
                            static_cast<std::uint32_t>(text.size()), text.data());
    }

    xcb_window_t root_;
    std::array<xcb_connection_t*, 3> connections_{};
    std::vector<std::pair<xcb_connection_t*, xcb_window_t>> windows_;
    xcb_atom_t netName_, utf8_, compound_, netPid_;
};

}  // namespace

TEST_F(WindowsOnX, TheCopyFollowsTitlesOrderAndClientsAsAFreshReadSeesThem)
{
    linux_impl::WindowLister copy;
    copy.list();
    Stirrer stirrer(*x);
    std::mt19937 random(19);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        stirrer.Step(random);
        ASSERT_TRUE(agreesWithAFreshRead(copy));
    }
}

TEST_F(WindowsOnX, AWindowFromAnotherMachineHasNoProcessToEnd)
{
    // Forwarded from elsewhere (ssh -X, a proxy): the process the server names only carries the
    // connection; ending it would end every window it carries.
    const auto atoms = linux_impl::internAtoms(x->connection, {"_NET_WM_PID"});
    ColourWindow remote(*x, 0x0000FF, "remote");
    remote.Set(XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, 17, "elsewhere.invalid");
    const std::uint32_t claimed = 1;
    remote.Set(atoms[0], XCB_ATOM_CARDINAL, 32, 1, &claimed);
    auto info = waitForWindow(platform, remote.id(), "remote");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->pid, static_cast<std::uint32_t>(::getpid())) << "listed under its carrier";
    EXPECT_EQ(info->identity, 0u);

    // Said to be from here after all: an ordinary row again.
    const std::string here = linux_impl::hostName();
    remote.Set(XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, here.size(), here.data());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000 && (info = waitForWindow(platform, remote.id(), "remote")) &&
           info->identity == 0)
        QTest::qWait(20);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->identity, readStartTime(static_cast<std::uint32_t>(::getpid())));
}

TEST_F(WindowsOnX, IdsFromAnotherPidNamespaceAreMarked)
{
    // Inside a container the server names our connection by the host's id, not by ours.
    QWidget widget;
    widget.setWindowTitle(QStringLiteral("namespace"));
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const auto ours = static_cast<std::uint32_t>(::getpid());
    for (const std::uint32_t self : {ours, ours + 1}) {
        linux_impl::WindowLister lister(self);
        std::vector<WindowInfo> rows;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000 && positionOf(rows = lister.list(), widget.winId()) < 0)
            QTest::qWait(20);
        ASSERT_GE(positionOf(rows, widget.winId()), 0);
        for (const WindowInfo& row : rows)
            EXPECT_EQ(row.foreignPid, self != ours && row.pid != 0) << row.title;
    }
}

TEST_F(WindowsOnX, AWindowManagerThatComesOrGoesIsFollowed)
{
    if (qEnvironmentVariable("MIREBO_WM") != QStringLiteral("none"))
        GTEST_SKIP() << "needs a desktop without a window manager, to start one";
    linux_impl::WindowLister copy;
    ColourWindow window(*x, 0x00FF00, "managed later");
    ASSERT_TRUE(waitForWindow(platform, window.id(), "managed later"));
    copy.list();
    // The manager frames every window, publishes its lists and names its check window; one
    // that replaces it frames them anew; when the last goes, its lists stay behind on the root.
    const auto atoms = linux_impl::internAtoms(x->connection, {"_NET_SUPPORTING_WM_CHECK"});
    const auto checkWindow = [&] {
        linux_impl::XReply<xcb_get_property_reply_t> check(xcb_get_property_reply(
            x->connection, xcb_get_property(x->connection, 0, x->root, atoms[0], XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        return check && xcb_get_property_value_length(check.get()) == 4
                   ? *static_cast<const xcb_window_t*>(xcb_get_property_value(check.get()))
                   : XCB_NONE;
    };
    QProcess first, second;
    for (QProcess* manager : {&first, &second}) {
        const xcb_window_t before = checkWindow();
        QStringList arguments = {QStringLiteral("--sm-disable")};
        if (manager == &second)
            arguments << QStringLiteral("--replace");
        manager->start(QStringLiteral("openbox"), arguments);
        ASSERT_TRUE(manager->waitForStarted(5000));
        QElapsedTimer clock;
        clock.start();
        while (checkWindow() == before || checkWindow() == XCB_NONE) {
            ASSERT_LT(clock.elapsed(), 10000) << "openbox did not come up";
            QTest::qWait(50);
        }
        EXPECT_TRUE(agreesWithAFreshRead(copy));
    }
    second.kill();
    second.waitForFinished(5000);
    first.waitForFinished(5000);
    EXPECT_TRUE(agreesWithAFreshRead(copy));
    EXPECT_GE(positionOf(copy.list(), window.id()), 0);
}
