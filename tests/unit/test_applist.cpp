#include "fixture.h"

using platform::WindowInfo;

namespace {

WindowInfo Window(const char* title, std::uint32_t pid, bool visible = true, std::uint64_t identity = 0)
{
    return WindowInfo{pid * 16ull, title, visible, pid, identity ? identity : pid * 1000ull};
}

}  // namespace

class ApplistTest : public MainWindowTest {
protected:
    QStringList Rows() const
    {
        QStringList rows;
        for (int r = 1; r < Grid().RowCount(); ++r)
            rows << Grid().Cell(0, r) + QLatin1Char('|') + Grid().Cell(1, r);
        return rows;
    }

    void Rebuild(std::vector<WindowInfo> windows)
    {
        fake.windowList = std::move(windows);
        form->Applist();
    }
};

// ---- rebuild rules ----
TEST_F(ApplistTest, OneRowPerProcessUnderItsTopmostTitledVisibleWindow)
{
    Rebuild({Window("", 7), Window("hidden", 7, false), Window("エディタ", 7), Window("second", 7),
             Window("ミレボ", 42), Window("端末", 9)});
    EXPECT_EQ(Grid().Cell(0, 0), QStringLiteral("アプリケーション名称"));
    EXPECT_EQ(Grid().Cell(1, 0), QStringLiteral("プロセスＩＤ"));
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("エディタ|7"), QStringLiteral("ミレボ|42"),
                                   QStringLiteral("端末|9")}));
    EXPECT_EQ(form->AppCount, 4);
    EXPECT_EQ(Grid().RowCount(), 4);
}

TEST_F(ApplistTest, HiddenAndUntitledWindowsNeverAppear)
{
    Rebuild({Window("", 3), Window("withdrawn", 4, false), Window("shown", 5)});
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("shown|5")});
}

TEST_F(ApplistTest, ProcessIdsAboveTheSignedRangeShowUnsigned)
{
    Rebuild({Window("big", 4294967295u), Window("half", 2147483648u)});
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("big|4294967295"), QStringLiteral("half|2147483648")}));
}

TEST_F(ApplistTest, OnlyThisRebuildsRowsCountAsDuplicates)
{
    Rebuild({Window("a", 1), Window("b", 2), Window("c", 3)});
    Rebuild({Window("c", 3)});
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("c|3")});
    // Rows 2 and 3 still hold "2" and "3" from before; they must not hide these processes.
    Rebuild({Window("b", 2), Window("c", 3)});
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("b|2"), QStringLiteral("c|3")}));
}

TEST_F(ApplistTest, RowsFollowTheStackingOrder)
{
    Rebuild({Window("a", 1), Window("b", 2)});
    Rebuild({Window("b", 2), Window("a", 1)});
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("b|2"), QStringLiteral("a|1")}));
}

TEST_F(ApplistTest, NoQualifyingWindowLeavesOnlyTheHeader)
{
    Rebuild({Window("", 1)});
    EXPECT_EQ(Grid().RowCount(), 1);
    EXPECT_EQ(form->AppCount, 1);
    Rebuild({Window("back", 1)});
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("back|1")});
}

// ---- selection ----
TEST_F(ApplistTest, TheSelectionStaysOnItsRowNumber)
{
    Rebuild({Window("a", 1), Window("b", 2), Window("c", 3)});
    Grid().SetRow(2);
    Rebuild({Window("c", 3), Window("a", 1), Window("b", 2)});
    EXPECT_EQ(Grid().Row(), 2);
    EXPECT_EQ(Grid().Cell(1, Grid().Row()), QStringLiteral("1"));
}

TEST_F(ApplistTest, ASelectionBeyondTheNewCountMovesToTheLastRow)
{
    Rebuild({Window("a", 1), Window("b", 2), Window("c", 3), Window("d", 4)});
    Grid().SetRow(4);
    Rebuild({Window("a", 1), Window("b", 2)});
    EXPECT_EQ(Grid().Row(), 2);
    Rebuild({Window("a", 1), Window("b", 2), Window("c", 3), Window("d", 4)});
    EXPECT_EQ(Grid().Row(), 2) << "it does not move back";
}

TEST_F(ApplistTest, ClicksOnTheTitleColumnSelectNothing)
{
    Show();
    Rebuild({Window("a", 1), Window("b", 2)});
    Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    TStringGrid& grid = Grid();
    const QRect title = grid.visualRect(grid.model()->index(1, 0));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, title.center());
    EXPECT_EQ(grid.Row(), 1);
    const QRect pid = grid.visualRect(grid.model()->index(1, 1));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, pid.center());
    EXPECT_EQ(grid.Row(), 2);
}

// ---- End task ----
TEST_F(ApplistTest, EndTaskEndsTheSelectedRowsProcessAndWaitsAtMost500ms)
{
    Rebuild({Window("a", 10), Window("b", 20, true, 555)});
    fake.processes[20] = {555, true};
    Grid().SetRow(2);
    fake.calls.clear();
    form->BitBtn1Click();
    const std::vector<std::string> expected = {"openProcess 20", "terminateProcess 0",
                                               "waitForProcess 500", "closeProcess"};
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(fake.terminated, std::vector<std::uint32_t>{20});
    EXPECT_EQ(fake.openProcesses(), 0u);
    EXPECT_EQ(Rows().size(), 2) << "the list waits for the next tick";
}

TEST_F(ApplistTest, WithOnlyTheHeaderLeftEndTaskEndsNothing)
{
    Rebuild({Window("a", 10)});
    fake.processes[10] = {10000, true};
    Rebuild({});
    fake.calls.clear();
    form->BitBtn1Click();
    EXPECT_TRUE(fake.calls.empty()) << "the hidden row's old text named process 10";
    EXPECT_TRUE(fake.terminated.empty());
}

TEST_F(ApplistTest, IdsAboveTheSignedRangeComeBackUnchanged)
{
    for (std::uint32_t pid : {2147483648u, 4294967295u}) {
        Rebuild({Window("big", pid)});
        fake.processes[pid] = {pid * 1000ull, true};
        form->BitBtn1Click();
        EXPECT_EQ(fake.terminated.back(), pid);
    }
}

TEST_F(ApplistTest, AReusedIdIsLeftAlone)
{
    Rebuild({Window("old", 30, true, 111)});
    fake.processes[30] = {222, true};   // the id now belongs to a later process
    form->BitBtn1Click();
    EXPECT_TRUE(fake.terminated.empty());
    EXPECT_TRUE(fake.errorBoxes.empty());
}

TEST_F(ApplistTest, AGoneOrProtectedProcessIsLeftAloneSilently)
{
    Rebuild({Window("gone", 31), Window("root's", 32)});
    fake.processes[32] = {32000, false};
    for (int row : {1, 2}) {
        Grid().SetRow(row);
        fake.calls.clear();
        form->BitBtn1Click();
        EXPECT_EQ(fake.count("terminateProcess 0"), 0) << row;
    }
    EXPECT_TRUE(fake.errorBoxes.empty());
}

// Without the start time the listing saw, whatever holds the id at the click would be ended.
TEST_F(ApplistTest, ARowWithoutAStartTimeIsNeverEnded)
{
    WindowInfo unknown = Window("unknown", 33);
    unknown.identity = 0;
    Rebuild({unknown});
    fake.processes[33] = {4242, true};
    Find<QPushButton>("BitBtn1")->click();
    EXPECT_TRUE(fake.terminated.empty());
    EXPECT_TRUE(fake.errorBoxes.empty());
}

// Ids from another pid namespace may name an unrelated process here: such rows are listed,
// End task refuses them with the error box, and the flag belongs to its row alone.
TEST_F(ApplistTest, ARowFromAnotherPidNamespaceIsRefusedWithTheErrorBox)
{
    WindowInfo foreign = Window("container", 40);
    foreign.foreignPid = true;
    Rebuild({foreign, Window("local", 41)});
    fake.processes[40] = {40000, true};
    fake.processes[41] = {41000, true};
    ASSERT_EQ(Rows(), QStringList({"container|40", "local|41"}));
    Find<QPushButton>("BitBtn1")->click();
    ASSERT_EQ(fake.errorBoxes.size(), 1u);
    EXPECT_EQ(fake.errorBoxes[0],
              QStringLiteral("このプロセスはサンドボックスまたはコンテナーの外にあるため、終了できません."));
    EXPECT_EQ(fake.count("openProcess 40"), 0);

    Grid().SetRow(2);
    Find<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(fake.terminated, std::vector<std::uint32_t>{41});

    Rebuild({Window("container", 40)});   // the same id, now from a source we can trust
    Find<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(fake.terminated, (std::vector<std::uint32_t>{41, 40}));
    EXPECT_EQ(fake.errorBoxes.size(), 1u);
}

TEST_F(ApplistTest, ATextThatIsNotANumberIsReported)
{
    Show();
    // Before the first tick the selected row is empty.
    Find<QPushButton>("BitBtn1")->click();
    ASSERT_EQ(fake.errorBoxes.size(), 1u);
    EXPECT_EQ(fake.errorBoxes[0], QStringLiteral("'' は整数ではありません."));
    EXPECT_EQ(fake.count("openProcess 0"), 0);
    Grid().SetCell(1, 1, QStringLiteral("12x"));
    Find<QPushButton>("BitBtn1")->click();
    EXPECT_EQ(fake.errorBoxes.back(), QStringLiteral("'12x' は整数ではありません."));
}

TEST_F(ApplistTest, TheIdIsTheLow32BitsOfTheNumber)
{
    Rebuild({Window("x", 5)});
    const std::pair<const char*, std::string> cases[] = {
        {"-1", "openProcess 4294967295"},
        {"4294967296", "openProcess 0"},
        {"4294967301", "openProcess 5"},
    };
    for (const auto& [text, call] : cases) {
        Grid().SetCell(1, 1, QString::fromLatin1(text));
        fake.calls.clear();
        form->BitBtn1Click();
        EXPECT_EQ(fake.calls.front(), call) << text;
    }
}
