// The X11 list and a Wayland compositor's list merged (platform/linux/mergewindows), and the
// rows the application list makes of the result.
#include "fixture.h"
#include "platform/linux/merge/mergewindows.h"

#include <functional>
#include <map>

using platform::WindowInfo;
using platform::linux_impl::CompositorWindow;
using platform::linux_impl::mergeWindows;

namespace {

WindowInfo X11(std::uint64_t id, const char* title, std::uint32_t pid, bool visible = true)
{
    return WindowInfo{id, title, visible, pid, pid * 1000ull};
}

// sway's entry for an X11 window: its X id, the pid the program wrote, no title it could read.
CompositorWindow Xwayland(std::uint64_t x11Id, std::uint32_t writtenPid)
{
    return CompositorWindow{900 + x11Id, true, x11Id, "", writtenPid, 0};
}

CompositorWindow Native(std::uint64_t id, const char* title, std::uint32_t pid)
{
    return CompositorWindow{id, false, 0, title, pid, pid * 1000ull + 1};
}

std::vector<std::string> Titles(const std::vector<WindowInfo>& windows)
{
    std::vector<std::string> titles;
    for (const WindowInfo& window : windows)
        titles.push_back(window.title);
    return titles;
}

using Strings = std::vector<std::string>;

}  // namespace

// ---- order ----
TEST(MergeWindows, WithoutACompositorListTheX11ListStaysAsItWas)
{
    const std::vector<WindowInfo> x11{X11(1, "a", 10), X11(2, "b", 20, false)};
    const auto merged = mergeWindows(x11, {});
    EXPECT_EQ(Titles(merged), (Strings{"a", "b"}));
    EXPECT_FALSE(merged[1].visible);
}

TEST(MergeWindows, TheCompositorsOrderInterleavesBothKinds)
{
    const auto merged = mergeWindows({X11(1, "xterm", 10), X11(2, "xclock", 20)},
                                     {Native(50, "foot", 30), Xwayland(2, 20), Native(51, "firefox", 40),
                                      Xwayland(1, 10)});
    EXPECT_EQ(Titles(merged), (Strings{"foot", "xclock", "firefox", "xterm"}));
}

TEST(MergeWindows, X11WindowsTheCompositorDoesNotNameKeepTheirNeighbours)
{
    // Hidden and not yet managed X11 windows are in the X11 list only.
    const auto merged =
        mergeWindows({X11(1, "early", 10), X11(2, "a", 20), X11(3, "hidden", 30, false), X11(4, "b", 40),
                      X11(5, "late", 50)},
                     {Xwayland(4, 40), Native(60, "foot", 60), Xwayland(2, 20)});
    EXPECT_EQ(Titles(merged), (Strings{"b", "late", "foot", "early", "a", "hidden"}));
}

TEST(MergeWindows, X11WindowsGoLastWhenTheCompositorNamesNoneOfThem)
{
    const auto merged = mergeWindows({X11(1, "xterm", 10)}, {Native(50, "foot", 30)});
    EXPECT_EQ(Titles(merged), (Strings{"foot", "xterm"}));
}

// ---- which source speaks ----
TEST(MergeWindows, TheX11ListSpeaksForX11Windows)
{
    // sway reads neither COMPOUND_TEXT titles nor the owner from the X server.
    const auto merged = mergeWindows({X11(7, "日本語タイトル端末", 700)}, {Xwayland(7, 1)});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].title, "日本語タイトル端末");
    EXPECT_EQ(merged[0].pid, 700u);
    EXPECT_EQ(merged[0].identity, 700000u);
    EXPECT_EQ(merged[0].id, 7u);
}

TEST(MergeWindows, X11WindowsOnlyTheCompositorKnowsAreLeftOut)
{
    // Not on X ourselves: the only pid there is the one the program wrote.
    EXPECT_TRUE(mergeWindows({}, {Xwayland(7, 700)}).empty());
}

TEST(MergeWindows, WithoutAnX11IdTheOwnerMatches)
{
    const auto merged = mergeWindows({X11(1, "a", 10), X11(2, "b", 20)},
                                     {Native(5, "n", 5), Xwayland(0, 20)});
    // b is placed by its owner; a, unnamed, stays right above it as in the X11 list.
    EXPECT_EQ(Titles(merged), (Strings{"n", "a", "b"}));
}

TEST(MergeWindows, NativeWindowsWithoutAPidAreLeftOut)
{
    EXPECT_TRUE(mergeWindows({}, {Native(5, "unknown owner", 0)}).empty());
}

TEST(MergeWindows, NativeRowsCarryTheCompositorsPidAndTheStartTime)
{
    const auto merged = mergeWindows({}, {Native(5, "foot", 30)});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].pid, 30u);
    EXPECT_EQ(merged[0].identity, 30001u);
    EXPECT_TRUE(merged[0].visible);
}

// ---- the rows made of it ----
class MergedApplistTest : public MainWindowTest {
protected:
    QStringList Rows(std::vector<WindowInfo> x11, const std::vector<CompositorWindow>& compositor)
    {
        fake.windowList = mergeWindows(std::move(x11), compositor);
        form->Applist();
        QStringList rows;
        for (int r = 1; r < Grid().RowCount(); ++r)
            rows << Grid().Cell(0, r) + QLatin1Char('|') + Grid().Cell(1, r);
        return rows;
    }
};

TEST_F(MergedApplistTest, OneRowPerProcessUnderItsFirstWindowInTheCompositorsOrder)
{
    EXPECT_EQ(Rows({X11(1, "ミレボ", 42), X11(2, "xterm 2", 10), X11(3, "xterm 1", 10)},
                   {Native(50, "foot 1", 30), Xwayland(3, 10), Native(51, "foot 2", 30), Xwayland(1, 42),
                    Xwayland(2, 10)}),
              (QStringList{QStringLiteral("foot 1|30"), QStringLiteral("xterm 1|10"), QStringLiteral("ミレボ|42")}));
}

TEST_F(MergedApplistTest, APidListedByBothSourcesHasOneRow)
{
    // One program with an X11 window and a native one (a browser's helper, say).
    EXPECT_EQ(Rows({X11(1, "x11 window", 10)}, {Native(50, "native window", 10), Xwayland(1, 10)}),
              QStringList{QStringLiteral("native window|10")});
    EXPECT_EQ(Rows({X11(1, "x11 window", 10)}, {Xwayland(1, 10), Native(50, "native window", 10)}),
              QStringList{QStringLiteral("x11 window|10")});
}

TEST_F(MergedApplistTest, EndTaskOnANativeRowUsesItsPidAndStartTime)
{
    fake.processes[30] = {30001, true};
    Rows({X11(1, "ミレボ", 42)}, {Native(50, "foot", 30), Xwayland(1, 42)});
    Grid().SetRow(1);
    form->BitBtn1Click();
    EXPECT_EQ(fake.terminated, std::vector<std::uint32_t>{30});
}

// ---- a compositor that does not say which windows are X11 ones (KWin) ----
namespace {

// What the X11 windows wrote as their pids (_NET_WM_PID), by X id, and which were asked.
struct Written {
    std::map<std::uint64_t, std::uint32_t> pids;
    std::vector<std::uint64_t> asked;
    std::function<std::uint32_t(std::uint64_t)> fn()
    {
        return [this](std::uint64_t id) {
            asked.push_back(id);
            const auto it = pids.find(id);
            return it != pids.end() ? it->second : 0u;
        };
    }
};

}  // namespace

TEST(MarkX11Windows, ByOwnerThenByTheWrittenPid)
{
    std::vector<CompositorWindow> kwin{Native(1, "foot", 30), Native(2, "xterm", 10),
                                       Native(3, "日本語タイトル端末", 666), Native(4, "", 40)};
    Written written{{{8, 666}}, {}};
    platform::linux_impl::markX11Windows(kwin, {X11(7, "xterm", 10), X11(8, "日本語タイトル端末", 20)}, written.fn());
    EXPECT_FALSE(kwin[0].x11);
    EXPECT_TRUE(kwin[1].x11);    // its owner has X11 windows
    EXPECT_EQ(kwin[1].x11Id, 7u);
    EXPECT_TRUE(kwin[2].x11);    // the pid X11 window 8 wrote
    EXPECT_EQ(kwin[2].x11Id, 8u);
    EXPECT_FALSE(kwin[3].x11);
    EXPECT_EQ(written.asked, std::vector<std::uint64_t>{8});   // only the window its owner left over
    // The X11 window is listed under its real owner, in the compositor's place for it.
    const auto merged = mergeWindows({X11(7, "xterm", 10), X11(8, "日本語タイトル端末", 20)}, kwin);
    EXPECT_EQ(Titles(merged), (Strings{"foot", "xterm", "日本語タイトル端末", ""}));
    EXPECT_EQ(merged[2].pid, 20u);
}

TEST(MarkX11Windows, ANumberedCaptionIsNoSecondRow)
{
    // KWin numbers a second window of one title; the X11 one wrote a pid not its owner's (the
    // X server's answer differs, as in a container).
    std::vector<CompositorWindow> kwin{Native(1, "ミレボ", 42), Native(2, "ミレボ <2>\u200E", 4242)};
    Written written{{{7, 4242}}, {}};
    platform::linux_impl::markX11Windows(kwin, {X11(7, "ミレボ", 77)}, written.fn());
    EXPECT_FALSE(kwin[0].x11);
    EXPECT_TRUE(kwin[1].x11);
    const auto merged = mergeWindows({X11(7, "ミレボ", 77)}, kwin);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[1].pid, 77u);
    for (const WindowInfo& row : merged)
        EXPECT_NE(row.pid, 4242u) << "a row under the pid the window wrote";
}

TEST(MarkX11Windows, ANativeWindowSharingAnX11TitleStaysNative)
{
    // A second copy of a program, one on X11 and one native, both titled alike.
    std::vector<CompositorWindow> kwin{Native(1, "ミレボ", 42), Native(2, "ミレボ", 43)};
    Written written{{{7, 42}}, {}};
    platform::linux_impl::markX11Windows(kwin, {X11(7, "ミレボ", 42)}, written.fn());
    EXPECT_TRUE(kwin[0].x11);
    EXPECT_FALSE(kwin[1].x11);
}

TEST(MarkX11Windows, OfOneWrittenPidTheEntryShowingTheTitleIsTheWindow)
{
    std::vector<CompositorWindow> kwin{Native(1, "native", 50), Native(2, "x <3>", 50)};
    Written written{{{7, 50}}, {}};
    platform::linux_impl::markX11Windows(kwin, {X11(7, "x", 70)}, written.fn());
    EXPECT_FALSE(kwin[0].x11);
    EXPECT_TRUE(kwin[1].x11);
    EXPECT_TRUE(platform::linux_impl::sameCaption("x <12>", "x"));
    EXPECT_FALSE(platform::linux_impl::sameCaption("x <1a>", "x"));
    EXPECT_FALSE(platform::linux_impl::sameCaption("xy", "x"));
}
