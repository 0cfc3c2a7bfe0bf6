// The program's logic on the real Linux backend, on a real desktop: the figures against /proc,
// the application list against the window manager's own list, End task on real processes.
// Run on a private desktop (scripts/with-desktop.sh); skipped where there is no X display.

#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "fonts.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/x11/x11.h"
#include "stringgrid.h"
#include "untCmd.h"
#include "untMain.h"

namespace {

std::string Output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput().toStdString();
}

// pid -> titles, from the window manager's client list.
std::map<std::uint32_t, std::set<std::string>> ClientList()
{
    std::map<std::uint32_t, std::set<std::string>> clients;
    std::istringstream lines(Output(QStringLiteral("wmctrl"), {QStringLiteral("-lp")}));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, desktop, host;
        std::uint32_t pid = 0;
        fields >> id >> desktop >> pid >> host;
        std::string title;
        std::getline(fields, title);
        if (!title.empty() && title[0] == ' ')
            title.erase(0, 1);
        clients[pid].insert(title);
    }
    return clients;
}

bool WaitFor(const std::function<bool()>& done, int milliseconds = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QTest::qWait(50);
    }
    return true;
}

class SystemTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InstallUiFonts(); }

    void SetUp() override
    {
        if (qEnvironmentVariable("QT_QPA_PLATFORM") != QLatin1String("xcb") ||
            qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the private desktop";
        form = std::make_unique<TfrmMain>(linux);
        cmd = std::make_unique<TfrmCmd>(linux, form->Guard(), form.get());
        form->SetCmd(cmd.get());
        form->ShowMain();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->timRef()->stop();   // the tests drive the cycle themselves
    }

    void TearDown() override
    {
        for (QProcess* child : children) {
            child->kill();
            child->waitForFinished(2000);
            delete child;
        }
        cmd.reset();
        form.reset();
    }

    QProcess* Start(const QString& program, const QStringList& arguments)
    {
        auto* child = new QProcess;
        children.push_back(child);
        child->start(program, arguments);
        EXPECT_TRUE(child->waitForStarted(5000));
        return child;
    }

    QProcess* Xterm(const QString& title)
    {
        return Start(QStringLiteral("xterm"), {QStringLiteral("-T"), title, QStringLiteral("-e"),
                                               QStringLiteral("sleep"), QStringLiteral("600")});
    }

    TStringGrid& Grid() const { return *form->findChild<TStringGrid*>(QStringLiteral("grdApp")); }

    // title -> pid of every row, after a rebuild.
    std::map<std::string, std::uint32_t> Rows()
    {
        form->Applist();
        std::map<std::string, std::uint32_t> rows;
        for (int r = 1; r < Grid().RowCount(); ++r)
            rows[Grid().Cell(0, r).toStdString()] = Grid().Cell(1, r).toUInt();
        return rows;
    }

    bool Listed(const std::string& title)
    {
        return WaitFor([&] { return Rows().count(title) > 0; });
    }

    int RowOf(std::uint32_t pid)
    {
        form->Applist();
        for (int r = 1; r < Grid().RowCount(); ++r)
            if (Grid().Cell(1, r).toUInt() == pid)
                return r;
        return 0;
    }

    std::string WindowOf(QProcess* child, const char* title)
    {
        std::string id;
        WaitFor([&] {
            id = Output(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--pid"),
                                                 QString::number(child->processId()),
                                                 QStringLiteral("--name"), QString::fromUtf8(title)});
            return !id.empty();
        });
        return id.substr(0, id.find('\n'));
    }

    platform::LinuxPlatform linux;
    std::unique_ptr<TfrmMain> form;
    std::unique_ptr<TfrmCmd> cmd;
    std::vector<QProcess*> children;
};

}  // namespace

// ---- figures ----
TEST_F(SystemTest, TheFiguresMatchTheKernelsWithinATick)
{
    form->timRefTimer();
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t value = 0, total = 0;
    while (meminfo >> key >> value) {
        if (key == "MemTotal:")
            total = value * 1024;
        meminfo.ignore(64, '\n');
    }
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblTotalMem"))->text().toULongLong(), total);
    // Whole percentages, nothing else: toInt() alone would read a garbled label as 0.
    bool isNumber = false;
    const int load = form->findChild<QLabel*>(QStringLiteral("lblAllocMem"))->text().toInt(&isNumber);
    EXPECT_TRUE(isNumber);
    EXPECT_GT(load, 0);
    EXPECT_LE(load, 100);
    const QString cpuText = form->findChild<QLabel*>(QStringLiteral("lblData"))->text();
    const int cpu = cpuText.toInt(&isNumber);
    EXPECT_TRUE(isNumber) << cpuText.toStdString();
    EXPECT_GE(cpu, 0);
    EXPECT_LE(cpu, 100);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblComp"))->text(), QString::fromLocal8Bit(host));
}

// ---- the application list ----
TEST_F(SystemTest, OurOwnWindowIsListedUnderItsTitle)
{
    ASSERT_TRUE(Listed("ミレボ"));
    EXPECT_EQ(Rows()["ミレボ"], static_cast<std::uint32_t>(getpid()));
}

TEST_F(SystemTest, TheListMatchesTheWindowManagersClients)
{
    Xterm(QStringLiteral("日本語タイトル端末"));
    Xterm(QStringLiteral("plain latin"));
    ASSERT_TRUE(Listed("日本語タイトル端末")) << "a COMPOUND_TEXT title is decoded";
    ASSERT_TRUE(Listed("plain latin"));
    const auto rows = Rows();
    const auto clients = ClientList();
    for (const auto& [title, pid] : rows) {
        // wmctrl shows a window's own _NET_WM_PID (0 where it has none, as xmessage has); the
        // list takes the server's word.
        const std::uint32_t declared = clients.count(pid) ? pid : 0;
        ASSERT_TRUE(clients.count(declared)) << title << " " << pid;
        // wmctrl cannot decode COMPOUND_TEXT titles and shows N/A for them.
        EXPECT_TRUE(clients.at(declared).count(title) || clients.at(declared).count("N/A")) << title;
    }
    std::set<std::uint32_t> listed;
    for (const auto& [title, pid] : rows)
        listed.insert(pid);
    for (const auto& [pid, titles] : clients) {
        if (pid != 0 && !(titles.size() == 1 && titles.begin()->empty())) {
            EXPECT_TRUE(listed.count(pid)) << "missing pid " << pid << " " << *titles.begin();
        }
    }
}

TEST_F(SystemTest, AMinimisedWindowStaysAndAWithdrawnOneGoes)
{
    QProcess* minimised = Xterm(QStringLiteral("to minimise"));
    QProcess* withdrawn = Xterm(QStringLiteral("to withdraw"));
    ASSERT_TRUE(Listed("to minimise"));
    ASSERT_TRUE(Listed("to withdraw"));
    Output(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QString::fromStdString(WindowOf(minimised, "to minimise"))});
    Output(QStringLiteral("xdotool"), {QStringLiteral("windowunmap"), QString::fromStdString(WindowOf(withdrawn, "to withdraw"))});
    EXPECT_TRUE(WaitFor([&] { return Rows().count("to withdraw") == 0; }));
    EXPECT_EQ(Rows().count("to minimise"), 1u);
}

TEST_F(SystemTest, AnUntitledWindowIsNotListed)
{
    QProcess* term = Xterm(QStringLiteral("to be untitled"));
    ASSERT_TRUE(Listed("to be untitled"));
    const std::string id = WindowOf(term, "to be untitled");
    Output(QStringLiteral("xdotool"), {QStringLiteral("set_window"), QStringLiteral("--name"), QString(), QString::fromStdString(id)});
    Output(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::fromStdString(id), QStringLiteral("-remove"), QStringLiteral("_NET_WM_NAME")});
    EXPECT_TRUE(WaitFor([&] { return RowOf(static_cast<std::uint32_t>(term->processId())) == 0; }));
}

TEST_F(SystemTest, TheRunDialogsTitleShowsOnOurRowWhileItIsOpen)
{
    std::map<std::string, std::uint32_t> during;
    QTimer::singleShot(300, cmd.get(), [&] {
        WaitFor([&] { during = Rows(); return during.count("アプリケーション新規実行") > 0; }, 5000);
        cmd->CancelBtnClick();
    });
    form->G1Click();
    EXPECT_EQ(during["アプリケーション新規実行"], static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(during.count("ミレボ"), 0u) << "one row per process, under its upper window";
    EXPECT_TRUE(WaitFor([&] { return Rows().count("ミレボ") > 0; }));
}

// ---- End task ----
TEST_F(SystemTest, EndTaskEndsARealProcessAndTheNextRebuildDropsIt)
{
    QProcess* term = Xterm(QStringLiteral("end me"));
    ASSERT_TRUE(Listed("end me"));
    const auto pid = static_cast<std::uint32_t>(term->processId());
    const int row = RowOf(pid);
    ASSERT_GT(row, 0);
    Grid().SetRow(row);
    QElapsedTimer clock;
    clock.start();
    form->BitBtn1Click();
    EXPECT_LT(clock.elapsed(), 600);
    EXPECT_TRUE(term->waitForFinished(500));
    EXPECT_EQ(term->exitStatus(), QProcess::CrashExit) << "killed, not closed";
    EXPECT_TRUE(WaitFor([&] { return RowOf(pid) == 0; }, 3000));
}

TEST_F(SystemTest, EndTaskLeavesAReusedIdAlone)
{
    QProcess* term = Xterm(QStringLiteral("identity"));
    ASSERT_TRUE(Listed("identity"));
    const auto pid = static_cast<std::uint32_t>(term->processId());
    Grid().SetRow(RowOf(pid));
    // The row's text now names another process (as if the id had been reused since the
    // rebuild): the identity recorded with the row no longer matches it.
    QProcess* other = Start(QStringLiteral("sleep"), {QStringLiteral("600")});
    Grid().SetCell(1, Grid().Row(), QString::number(other->processId()));
    form->BitBtn1Click();
    EXPECT_FALSE(other->waitForFinished(300));
    EXPECT_EQ(other->state(), QProcess::Running);
}

// ---- the window among others ----
namespace {

// The window manager's frame around our window, as the X server places it.
std::optional<QRect> FrameOnScreen(QWidget* window)
{
    const auto x = platform::linux_impl::qtX11();
    const auto id = static_cast<xcb_window_t>(window->windowHandle()->winId());
    const auto atoms = platform::linux_impl::internAtoms(x->connection, {"_NET_FRAME_EXTENTS"});
    platform::linux_impl::XReply<xcb_get_property_reply_t> extents(xcb_get_property_reply(
        x->connection, xcb_get_property(x->connection, 0, id, atoms[0], XCB_ATOM_CARDINAL, 0, 4),
        nullptr));
    platform::linux_impl::XReply<xcb_translate_coordinates_reply_t> at(
        xcb_translate_coordinates_reply(
            x->connection, xcb_translate_coordinates(x->connection, id, x->root, 0, 0), nullptr));
    if (!extents || xcb_get_property_value_length(extents.get()) != 16 || !at)
        return std::nullopt;
    const auto* e = static_cast<const std::uint32_t*>(xcb_get_property_value(extents.get()));
    const QRect client(at->dst_x, at->dst_y, window->width(), window->height());
    return client.marginsAdded(QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3])));
}

}  // namespace

TEST_F(SystemTest, TheWholeFrameIsCentredAndTheLayoutKeepsItsDesignedSize)
{
    std::optional<QRect> frame;
    ASSERT_TRUE(WaitFor([&] { return (frame = FrameOnScreen(form.get())).has_value(); }, 2000));
    const QRect area = form->screen()->availableGeometry();
    EXPECT_LE(std::abs(frame->center().x() - area.center().x()), 1) << frame->x() << "," << frame->y();
    EXPECT_LE(std::abs(frame->center().y() - area.center().y()), 1)
        << frame->y() << " in " << area.y() << "+" << area.height();
    EXPECT_EQ(form->findChild<QWidget*>(QStringLiteral("TabSheet3"))->size(), QSize(304, 220));
}
