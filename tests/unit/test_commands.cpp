#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include "fixture.h"
#include "splitter.h"

// ---- layout ----
TEST_F(MainWindowTest, OpensAtItsSizeOnTheResourcePage)
{
    Show();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ミレボ"));
    // The controls are placed for pages of 304x220 in a 312x247 tab control under the menu bar.
    auto* menu = form->menuBar();
    EXPECT_EQ(form->width(), 312);
    EXPECT_EQ(form->height(), menu->height() + 247);
    auto* pages = Find<QTabWidget>("PageControl1");
    EXPECT_EQ(QRect(pages->mapTo(form.get(), QPoint()), pages->size()),
              QRect(0, menu->height(), 312, 247));
    EXPECT_EQ(Find("TabSheet3")->size(), QSize(304, 220));
    EXPECT_EQ(Find("Panel7")->geometry(), QRect(193, 0, 111, 31));
    EXPECT_EQ(pages->currentWidget()->objectName(), QStringLiteral("TabSheet3"));
    pages->setCurrentIndex(0);
    EXPECT_EQ(Find("TabSheet1")->size(), QSize(304, 220));
    EXPECT_EQ(Find("grdApp")->geometry(), QRect(2, 14, 300, 169));
    EXPECT_EQ(Find("Panel4")->geometry(), QRect(119, 0, 185, 35));
    pages->setCurrentIndex(1);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(pages->tabText(0), QStringLiteral("アプリケーション一覧"));
    EXPECT_EQ(pages->tabText(1), QStringLiteral("リソースステータス"));
}

TEST_F(MainWindowTest, TheFirstShowCentresTheWholeFrame)
{
    Show();
    const QRect area = form->screen()->availableGeometry();
    const QRect outer = form->geometry().marginsAdded(fake.frame);
    EXPECT_LE(std::abs(outer.center().x() - area.center().x()), 1) << outer.x();
    EXPECT_LE(std::abs(outer.center().y() - area.center().y()), 1) << outer.y();
}

TEST_F(MainWindowTest, ControlsCarryTheirTexts)
{
    const std::pair<const char*, const char*> labels[] = {
        {"Label3", "全メモリ量"}, {"Label1", "Byte"}, {"Label6", "使用率"}, {"Label8", "％"},
        {"Label4", "コンピュータ"}, {"Label5", "ユーザー"}, {"Label2", "CPU 情報"},
        {"Label7", "CPU 使用率"}, {"Label9", "％"}, {"lblTotalMem", "0"}, {"lblAllocMem", "0"},
    };
    for (const auto& [name, text] : labels)
        EXPECT_EQ(Text(name), QString::fromUtf8(text)) << name;
    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->title(), QStringLiteral("メモリ"));
    EXPECT_EQ(Find<QGroupBox>("GroupBox2")->title(), QStringLiteral("システム情報"));
    EXPECT_EQ(Find<QPushButton>("BitBtn1")->text(), QStringLiteral("終了"));
    EXPECT_EQ(Find<QPushButton>("BitBtn2")->text(), QStringLiteral("閉じる(&C)"));
    EXPECT_EQ(Find<QPushButton>("BitBtn5")->text(), QStringLiteral("閉じる(&C)"));
    EXPECT_FALSE(Find<QPushButton>("BitBtn1")->icon().isNull());
}

TEST_F(MainWindowTest, ChartsKeepTheirSizeWhenTheWindowIsResized)
{
    Show();
    EXPECT_EQ(Image("imgCPU").size(), QSize(302, 48));
    EXPECT_EQ(Image("imgMemory").size(), QSize(302, 48));
    form->resize(500, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(Image("imgCPU").size(), QSize(302, 48));
    EXPECT_EQ(Image("imgMemory").geometry(), QRect(1, 1, 302, 48));
}

TEST_F(MainWindowTest, TheMenusHoldEveryItemInOrder)
{
    auto* bar = Find<QMenuBar>("MainMenu1");
    QStringList top;
    for (QAction* item : bar->actions())
        top << item->text();
    EXPECT_EQ(top, (QStringList{QStringLiteral("ファイル(&F)"), QStringLiteral("オプション(&O)"),
                                QStringLiteral("表示(&V)")}));
    QStringList file;
    for (QAction* item : Find<QMenu>("N1")->actions())
        file << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(file, (QStringList{QStringLiteral("新規実行(&G)..."), QStringLiteral("-"),
                                 QStringLiteral("Windowsの終了(&Q)..."), QStringLiteral("-"),
                                 QStringLiteral("ソラトキの終了(&X)")}));
    EXPECT_FALSE(Find<QAction>("WindowsQ1")->isEnabled());
    EXPECT_TRUE(Find<QAction>("btnTop")->isChecked());
    EXPECT_EQ(Find<QMenu>("U1")->title(), QStringLiteral("更新の頻度(&U)"));
    QStringList frequency;
    for (QAction* item : Find<QMenu>("U1")->actions())
        frequency << item->text() + (item->isChecked() ? QStringLiteral("*") : QString());
    EXPECT_EQ(frequency, (QStringList{QStringLiteral("高(&H)"), QStringLiteral("通常(&N)*"),
                                      QStringLiteral("低(&L)")}));
    EXPECT_TRUE(Find<QAction>("btnHigh")->actionGroup()->isExclusive());
}

TEST_F(MainWindowTest, TheGridStartsWithFiveEmptyRows)
{
    Show();
    EXPECT_EQ(Grid().RowCount(), 5);
    EXPECT_EQ(Grid().Row(), 1);
    EXPECT_EQ(Grid().Cell(1, 1), QString());
}

// ---- refresh frequency ----
TEST_F(MainWindowTest, FrequencyItemsSetTheIntervalAndCheckThemselves)
{
    Show();
    const std::pair<const char*, int> items[] = {{"btnHigh", 100}, {"btnLow", 5000}, {"btnNormal", 1000}};
    for (const auto& [name, interval] : items) {
        Find<QAction>(name)->trigger();
        EXPECT_TRUE(Find<QAction>(name)->isChecked()) << name;
        EXPECT_EQ(form->timRef()->interval(), interval) << name;
        EXPECT_TRUE(form->timRef()->isActive());
    }
    EXPECT_FALSE(Find<QAction>("btnHigh")->isChecked());
}

TEST_F(MainWindowTest, ChoosingTheIntervalInForceKeepsTheTimersPhase)
{
    Show();
    Find<QAction>("btnNormal")->trigger();
    EXPECT_EQ(fake.count("startTimer 1000"), 0);
    Find<QAction>("btnHigh")->trigger();
    EXPECT_EQ(fake.count("startTimer 100"), 1);
}

TEST_F(MainWindowTest, ARefusedTimerIsReportedAndStopsTicksUntilAnotherIntervalWorks)
{
    Show();
    fake.refusedIntervals = {100};
    Find<QAction>("btnHigh")->trigger();
    ASSERT_EQ(fake.errorBoxes.size(), 1u);
    EXPECT_EQ(fake.errorBoxes[0], QStringLiteral("タイマーを取得できません."));
    EXPECT_TRUE(Find<QAction>("btnHigh")->isChecked()) << "the check mark has moved";
    EXPECT_FALSE(form->timRef()->isActive());
    Find<QAction>("btnHigh")->trigger();
    EXPECT_FALSE(form->timRef()->isActive()) << "the same interval changes nothing";
    Find<QAction>("btnLow")->trigger();
    EXPECT_TRUE(form->timRef()->isActive());
    EXPECT_EQ(form->timRef()->interval(), 5000);
}

TEST_F(MainWindowTest, TheTimerIsPreciseAndRunsFromCreation)
{
    EXPECT_TRUE(form->timRef()->isActive());
    EXPECT_EQ(form->timRef()->interval(), 1000);
    EXPECT_EQ(form->timRef()->timerType(), Qt::PreciseTimer);
}

// ---- always on top ----
TEST_F(MainWindowTest, AlwaysOnTopTogglesAndShowsTheWindowAnew)
{
    Show();
    fake.taskbarHiddenBeforeShow = 0;
    const QRect place = form->geometry();
    QAction* top = Find<QAction>("btnTop");
    top->trigger();
    EXPECT_FALSE(top->isChecked());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->geometry().size(), place.size());
    EXPECT_EQ(fake.count("processorType"), 1) << "the show handler ran again";
    EXPECT_EQ(fake.count("hideTaskbarButton 1"), 1);
    EXPECT_EQ(fake.taskbarHiddenBeforeShow, 1) << "said before the new window appears";
    EXPECT_EQ(form->ScrollCount, 14);
    top->trigger();
    EXPECT_TRUE(top->isChecked());
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
}

// ---- splitter ----
TEST_F(MainWindowTest, SplitterClicksAlternateBetween26And30AndADragCollapses)
{
    Show();
    auto* splitter = Find<TSplitter>("Splitter1");
    QWidget* panel = Find("Panel2");
    const int y = 100;
    // A click without moving: no move event between press and release.
    for (int height : {26, 30, 26}) {
        splitter->BeginDrag(y);
        splitter->EndDrag();
        EXPECT_EQ(panel->height(), height);
    }
    EXPECT_EQ(Image("imgCPU").height(), 24);
    EXPECT_EQ(Find("Splitter1")->y(), 26);
    EXPECT_EQ(Find("Panel1")->y(), 28);
    splitter->BeginDrag(y);
    splitter->DragTo(y + 5);
    splitter->EndDrag();
    EXPECT_EQ(panel->height(), 0);
    EXPECT_EQ(Image("imgCPU").height(), 0);
    // From the collapsed panel, a click raises it to the minimum.
    splitter->BeginDrag(y);
    splitter->EndDrag();
    EXPECT_EQ(panel->height(), 30);
}

TEST_F(MainWindowTest, EscapeCancelsASplitterDrag)
{
    Show();
    auto* splitter = Find<TSplitter>("Splitter1");
    splitter->BeginDrag(100);
    splitter->DragTo(90);
    splitter->CancelDrag();
    splitter->EndDrag();
    EXPECT_EQ(Find("Panel2")->height(), 50);
}

TEST_F(MainWindowTest, AfterTheSplitterTheSharedCountStarvesTheMemoryChartOfGuides)
{
    Show();
    auto* splitter = Find<TSplitter>("Splitter1");
    splitter->BeginDrag(100);
    splitter->EndDrag();
    ASSERT_EQ(Image("imgCPU").height(), 24);
    // The count now wraps every 6 ticks, so the memory chart never reaches its 12: once the grid's
    // guides have scrolled out, its picture has no vertical line left.
    for (int i = 0; i < 320; ++i)
        form->timRefTimer();
    const QImage& memory = Image("imgMemory").Picture();
    for (int x = 0; x < 300; ++x)
        ASSERT_NE(memory.pixel(x, 5), chart::DarkGreen) << x;
    const QImage& cpu = Image("imgCPU").Picture();
    int guides = 0;
    for (int x = 295; x <= 300; ++x)
        guides += cpu.pixel(x, 5) == chart::DarkGreen;
    EXPECT_EQ(guides, 1) << "the processor chart gets one every 6 ticks";
}
