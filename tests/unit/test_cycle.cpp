#include <QtTest/qtestspontaneevent.h>

#include <cstring>

#include "fixture.h"

using platform::FakePlatform;

// ---- order and figures ----
TEST_F(MainWindowTest, ATickReadsEverythingInItsOrder)
{
    Show();
    form->timRefTimer();
    const std::vector<std::string> expected = {
        "memoryStatus",
        "regOpenKey PerfStats\\StartStat",
        "regQueryValue info KERNEL\\CPUUsage",
        "regQueryValue data KERNEL\\CPUUsage",
        "regCloseKey",
        "regOpenKey PerfStats\\StatData",
        "regQueryValue info KERNEL\\CPUUsage",
        "regQueryValue data KERNEL\\CPUUsage",
        "regCloseKey",
        "notifyIcon 1",
        "windows",
    };
    EXPECT_EQ(fake.calls, expected);
}

TEST_F(MainWindowTest, ATickShowsTheFiguresAsPlainNumbers)
{
    Show();
    fake.memory = platform::MemoryStatus{63, 3221225472ull};
    fake.setCpuUsage(0);
    form->timRefTimer();
    EXPECT_EQ(Text("lblTotalMem"), QStringLiteral("3221225472"));
    EXPECT_EQ(Text("lblAllocMem"), QStringLiteral("63"));
    EXPECT_EQ(Text("lblData"), QStringLiteral("0"));
}

TEST_F(MainWindowTest, TotalMemoryAbove4GiBShowsEveryDigitAndKeepsItsRightEdge)
{
    fake.memory = platform::MemoryStatus{10, 68719476736ull};
    Show();
    QLabel* total = Find<QLabel>("lblTotalMem");
    EXPECT_EQ(total->text(), QStringLiteral("68719476736"));
    EXPECT_EQ(total->geometry().right() + 1, 73);
    EXPECT_GE(total->width(), total->fontMetrics().horizontalAdvance(total->text()));
}

TEST_F(MainWindowTest, ProcessorLabelKeepsItsRightEdgeAndFitsItsText)
{
    Show();
    for (std::int32_t sample : {5, 100, -2147483647}) {
        fake.setCpuUsage(sample);
        form->timRefTimer();
        QLabel* data = Find<QLabel>("lblData");
        EXPECT_EQ(data->text(), QString::number(sample));
        EXPECT_EQ(data->geometry().right() + 1, 149);
        EXPECT_EQ(data->width(), data->fontMetrics().horizontalAdvance(data->text()));
    }
}

TEST_F(MainWindowTest, UnreadableMemoryKeepsTheLastGoodFigures)
{
    fake.memory.reset();
    Show();
    EXPECT_EQ(Text("lblTotalMem"), QStringLiteral("0"));
    fake.memory = platform::MemoryStatus{20, 1000};
    form->timRefTimer();
    fake.memory.reset();
    form->timRefTimer();
    EXPECT_EQ(Text("lblTotalMem"), QStringLiteral("1000"));
    EXPECT_EQ(Text("lblAllocMem"), QStringLiteral("20"));
    EXPECT_TRUE(fake.errorBoxes.empty());
}

// ---- show-time preparation ----
TEST_F(MainWindowTest, ShowReadsTheDataKeyOnceAndStartsTheCount)
{
    form->ShowMain();
    EXPECT_EQ(fake.count("regOpenKey PerfStats\\StatData"), 1);
    EXPECT_EQ(fake.count("regOpenKey PerfStats\\StartStat"), 0);
    EXPECT_EQ(Text("lblData"), QStringLiteral("37"));
    EXPECT_EQ(fake.openKeys(), 0u);
    // The first paint re-phases the count after the show handler has zeroed it.
    EXPECT_EQ(form->ScrollCount, 14);
    form->FormShow();
    EXPECT_EQ(form->ScrollCount, 0);
}

TEST_F(MainWindowTest, EachShowMakesANewStatisticsSource)
{
    Show();
    // A tick that failed half-way leaves its key open in the old source. A new source opens the
    // data key from the root; the old one would look for it below the open key, miss it, and
    // read the start key's sample instead.
    ASSERT_TRUE(form->StatReg()->OpenKey("PerfStats\\StartStat"));
    std::string bytes(4, '\0');
    const std::int32_t data = 64;
    std::memcpy(bytes.data(), &data, 4);
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"].bytes = bytes;
    form->FormShow();
    EXPECT_EQ(Text("lblData"), QStringLiteral("64"));
    ASSERT_NE(form->StatReg(), nullptr);
    EXPECT_EQ(form->StatReg()->CurrentKey(), 0u);
    EXPECT_EQ(fake.openKeys(), 0u);
}

TEST_F(MainWindowTest, AFailedShowStillShowsTheWindowAndKeepsTheOldCount)
{
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"].type = platform::kTypeString;
    form->ScrollCount = 5;
    form->FormPaint();   // grid first, so that the count is known
    const std::int32_t before = form->ScrollCount;
    form->Guard().Run([this] { form->FormShow(); });
    EXPECT_EQ(form->ScrollCount, before);
    ASSERT_EQ(fake.errorBoxes.size(), 1u);
    EXPECT_EQ(fake.errorBoxes[0], QStringLiteral("'KERNEL\\CPUUsage' のデータ型が不正です."));
    form->ShowMain();
    EXPECT_TRUE(form->isVisible());
}

// ---- failures of the statistics source ----
TEST_F(MainWindowTest, AMissingStatisticsKeyIsSilentAndKeepsTheSample)
{
    Show();
    fake.keys.clear();
    form->timRefTimer();
    EXPECT_EQ(Text("lblData"), QStringLiteral("37"));
    EXPECT_TRUE(fake.errorBoxes.empty());
    EXPECT_EQ(fake.count("windows"), 1) << "the tick ran to its end";
}

TEST_F(MainWindowTest, ABadValueTypeEndsTheTickWithOneErrorBox)
{
    Show();
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"].type = platform::kTypeDWord;
    form->timRefTimer();
    ASSERT_EQ(fake.errorBoxes.size(), 1u);
    EXPECT_EQ(fake.errorBoxes[0], QStringLiteral("'KERNEL\\CPUUsage' のデータ型が不正です."));
    EXPECT_EQ(fake.lastErrorCaption, QStringLiteral("ミレボ"));
    // With none of our windows active the box still stands above the always-on-top window.
    EXPECT_EQ(fake.lastErrorParent, form.get());
    EXPECT_EQ(fake.count("notifyIcon 1"), 0) << "later steps are skipped";
    EXPECT_EQ(fake.count("windows"), 0);
}

TEST_F(MainWindowTest, AFailedDataReadIsReportedByName)
{
    Show();
    fake.keys["PerfStats\\StartStat"]["KERNEL\\CPUUsage"].failDataRead = true;
    form->timRefTimer();
    ASSERT_EQ(fake.errorBoxes.size(), 1u);
    EXPECT_EQ(fake.errorBoxes[0], QStringLiteral("'KERNEL\\CPUUsage' の取得に失敗しました."));
}

TEST_F(MainWindowTest, ASourceFailingOnEveryTickNeverPilesUpBoxes)
{
    Show();
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"].failDataRead = true;
    int nested = 0;
    // Ticks keep coming while the box is open, as they do in its modal loop.
    fake.onErrorBox = [&](const QString&) {
        for (; nested < 5; ++nested)
            form->timRefTimer();
    };
    form->timRefTimer();
    EXPECT_EQ(nested, 5);
    EXPECT_EQ(fake.errorBoxes.size(), 1u);
    fake.onErrorBox = nullptr;
    form->timRefTimer();
    EXPECT_EQ(fake.errorBoxes.size(), 2u) << "after the box closed, the next failure shows again";
}

TEST_F(MainWindowTest, AKeyLeftOpenByAFailedTickIsClosedBeforeTheNext)
{
    Show();
    fake.keys["PerfStats\\StatData"]["KERNEL\\CPUUsage"].failDataRead = true;
    form->timRefTimer();
    EXPECT_EQ(fake.openKeys(), 1u);
    fake.setCpuUsage(64);
    form->timRefTimer();
    EXPECT_EQ(fake.openKeys(), 0u);
    EXPECT_EQ(Text("lblData"), QStringLiteral("64"));
}

// ---- close ----
TEST_F(MainWindowTest, CloseRemovesTheIconReleasesTheSourceAndStopsTicks)
{
    Show();
    form->close();
    EXPECT_FALSE(form->timRef()->isActive());
    EXPECT_EQ(form->StatReg(), nullptr);
    ASSERT_FALSE(fake.trayCalls.empty());
    EXPECT_EQ(fake.trayCalls.back().op, platform::TrayOp::Delete);
    fake.calls.clear();
    form->timRefTimer();
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(MainWindowTest, EveryCloseCommandRunsTheCloseQuery)
{
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"BitBtn2", [this] { Find<QPushButton>("BitBtn2")->click(); }},
        {"BitBtn5", [this] { Find<QPushButton>("BitBtn5")->click(); }},
        {"X1", [this] { Find<QAction>("X1")->trigger(); }},
        {"title bar", [this] { form->close(); }},
    };
    for (const auto& [name, command] : commands) {
        TearDown();
        fake.trayCalls.clear();
        SetUp();
        Show();
        command();
        EXPECT_FALSE(form->isVisible()) << name;
        ASSERT_FALSE(fake.trayCalls.empty());
        EXPECT_EQ(fake.trayCalls.back().op, platform::TrayOp::Delete) << name;
    }
}

// ---- minimise and restore ----
TEST_F(MainWindowTest, TheFirstMinimiseGivesTheTaskbarButtonForGood)
{
    Show();
    EXPECT_TRUE(fake.taskbarHidden[form.get()]);
    form->setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(fake.taskbarHidden[form.get()]);
    form->setWindowState(Qt::WindowNoState);
    form->setWindowState(Qt::WindowMinimized);
    form->ShowMain();
    EXPECT_EQ(fake.count("hideTaskbarButton 1"), 0);
    EXPECT_EQ(fake.count("hideTaskbarButton 0"), 1);
}

TEST_F(MainWindowTest, RestoreRepaintsTheChartsWithoutTheShowHandler)
{
    Show();
    for (int i = 0; i < 20; ++i)
        form->timRefTimer();
    form->setWindowState(Qt::WindowMinimized);
    fake.calls.clear();
    // What the window system sends when the user restores the window.
    QShowEvent restored;
    QSpontaneKeyEvent::setSpontaneous(&restored);
    QCoreApplication::instance()->notify(form.get(), &restored);   // keeps it spontaneous
    EXPECT_EQ(fake.count("processorType"), 0) << "no show handler";
    EXPECT_EQ(form->ScrollCount, 14);
    const QImage& picture = Image("imgCPU").Picture();
    EXPECT_EQ(picture.pixel(301, 40), chart::Black) << "history wiped";
}
