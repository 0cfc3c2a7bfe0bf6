#include <algorithm>

#include <QAccessible>

#include "fixture.h"

using Role = QAccessible::Role;

// The main window's accessibility tree as a screen reader walks it: Qt's bridge hands on each
// node's role, name, description and state as they are here.
class AccessibilityTest : public MainWindowTest {
protected:
    struct Node {
        QAccessibleInterface* node;
        QString parent;   // the parent's name
    };

    void SetUp() override
    {
        MainWindowTest::SetUp();
        fake.memory = platform::MemoryStatus{42, 68719476736};
        fake.computer = "desk-01";
        fake.user = "yamada";
        fake.windowList = {{16, "ミレボ", true, 4242, 1}};
        Show();
        form->timRefTimer();
        Walk();
    }

    void Walk()
    {
        tree.clear();
        Add(QAccessible::queryAccessibleInterface(form.get()), QString());
    }

    void Add(QAccessibleInterface* node, const QString& parent)
    {
        ASSERT_TRUE(node != nullptr && node->isValid()) << parent.toStdString();
        tree.push_back({node, parent});
        for (int i = 0; i < node->childCount(); ++i)
            Add(node->child(i), node->text(QAccessible::Name));
    }

    // The nodes with that role and name, under a parent of that name unless it is null.
    std::vector<QAccessibleInterface*> Nodes(Role role, const char* name, const char* parent = nullptr) const
    {
        std::vector<QAccessibleInterface*> found;
        for (const Node& n : tree)
            if (n.node->role() == role && n.node->text(QAccessible::Name) == QString::fromUtf8(name) &&
                (parent == nullptr || n.parent == QString::fromUtf8(parent)))
                found.push_back(n.node);
        return found;
    }

    QAccessibleInterface* One(Role role, const char* name, const char* parent = nullptr) const
    {
        const auto found = Nodes(role, name, parent);
        EXPECT_EQ(found.size(), 1u) << name;
        return found.empty() ? nullptr : found[0];
    }

    static std::string Description(QAccessibleInterface* node)
    {
        return node ? node->text(QAccessible::Description).toStdString() : "(none)";
    }
    static bool Shown(QAccessibleInterface* node) { return node && !node->state().invisible; }

    std::vector<Node> tree;
};

// ---- names --------------------------------------------------------------------------------------
TEST_F(AccessibilityTest, ControlsAreNamedByTheirTextWithoutTheMnemonicMarker)
{
    const struct {
        Role role;
        const char* name;
        const char* parent;
        std::size_t count = 1;
    } expected[] = {
        // The tab bar is named by the page it shows.
        {Role::PageTab, "アプリケーション一覧", "リソースステータス"},
        {Role::PageTab, "リソースステータス", "リソースステータス"},
        {Role::PageTabList, "リソースステータス", nullptr},
        {Role::Grouping, "メモリ", nullptr},
        {Role::Grouping, "システム情報", nullptr},
        {Role::StaticText, "全メモリ量", "メモリ"},
        {Role::StaticText, "Byte", "メモリ"},
        {Role::StaticText, "使用率", "メモリ"},
        {Role::StaticText, "％", "メモリ"},
        {Role::StaticText, "コンピュータ", "システム情報"},
        {Role::StaticText, "ユーザー", "システム情報"},
        {Role::StaticText, "CPU 情報", "システム情報"},
        {Role::StaticText, "CPU 使用率", "システム情報"},
        {Role::StaticText, "％", "システム情報"},
        {Role::PushButton, "閉じる(C)", nullptr, 2},
        {Role::PushButton, "終了", nullptr},
        {Role::MenuItem, "ファイル(F)", nullptr},
        {Role::MenuItem, "オプション(O)", nullptr},
        {Role::MenuItem, "表示(V)", nullptr},
        {Role::MenuItem, "新規実行(G)...", nullptr},
        {Role::MenuItem, "Windowsの終了(Q)...", nullptr},
        {Role::MenuItem, "ソラトキの終了(X)", nullptr},
        {Role::MenuItem, "常に手前に表示(A)", nullptr},
        {Role::MenuItem, "更新の頻度(U)", nullptr},
        {Role::MenuItem, "高(H)", nullptr},
        {Role::MenuItem, "通常(N)", nullptr},
        {Role::MenuItem, "低(L)", nullptr},
    };
    for (const auto& e : expected)
        EXPECT_EQ(Nodes(e.role, e.name, e.parent).size(), e.count) << e.name;
}

TEST_F(AccessibilityTest, NothingThatShowsATextIsNamelessAndNoNameCarriesTheMnemonicMarker)
{
    const Role texts[] = {Role::StaticText, Role::PushButton,  Role::PageTab,    Role::MenuItem,
                          Role::CheckBox,   Role::RadioButton, Role::ColumnHeader};
    for (const Node& n : tree) {
        const QString name = n.node->text(QAccessible::Name);
        const bool showsText = std::find(std::begin(texts), std::end(texts), n.node->role()) != std::end(texts);
        EXPECT_FALSE(showsText && name.isEmpty()) << "role " << n.node->role() << " in " << n.parent.toStdString();
        EXPECT_FALSE(name.contains(QLatin1Char('&'))) << name.toStdString();
    }
}

// ---- figures: the number is the name, its meaning the description ---------------------------------
TEST_F(AccessibilityTest, FiguresAreNamedByTheirValueAndDescribedByTheirMeaning)
{
    const struct {
        const char* description;
        const char* name;
        const char* parent;
    } figures[] = {
        {"全メモリ量 (Byte)", "68719476736", "メモリ"},
        {"メモリ使用率 (％)", "42", "メモリ"},
        {"CPU 使用率 (％)", "37", "システム情報"},
        {"コンピュータ名", "desk-01", "システム情報"},
        {"ユーザー名", "yamada", "システム情報"},
        {"CPU 情報", "586", "システム情報"},
    };
    for (const auto& f : figures)
        EXPECT_EQ(Description(One(Role::StaticText, f.name, f.parent)), f.description);
}

// ---- charts and the list ----------------------------------------------------------------------------
TEST_F(AccessibilityTest, ChartsAndTheListAreNamedDescribedAndShownWithTheirPage)
{
    QAccessibleInterface* cpu = One(Role::Client, "CPU 使用率のグラフ");
    EXPECT_EQ(Description(cpu), "CPU 使用率の推移。右端が最新で、1 列が 1 回の更新");
    QAccessibleInterface* memory = One(Role::Client, "メモリ使用率のグラフ");
    EXPECT_EQ(Description(memory), "メモリ使用率の推移。右端が最新で、1 列が 1 回の更新");
    EXPECT_TRUE(Shown(cpu) && Shown(memory));

    QAccessibleInterface* list = One(Role::Table, "アプリケーション一覧");
    EXPECT_EQ(Description(list), "実行中のアプリケーション: 1 行に 1 プロセス、ウィンドウの名称とプロセスID");
    EXPECT_FALSE(Shown(list));   // the resource page is shown at start
    One(Role::ColumnHeader, "アプリケーション名称", "アプリケーション一覧");
    One(Role::ColumnHeader, "プロセスＩＤ", "アプリケーション一覧");
    One(Role::Cell, "ミレボ", "アプリケーション一覧");
    One(Role::Cell, "4242", "アプリケーション一覧");
}

TEST_F(AccessibilityTest, PressingTheListTabShowsTheListAndHidesTheCharts)
{
    QAccessibleInterface* tab = One(Role::PageTab, "アプリケーション一覧");
    ASSERT_TRUE(tab && tab->actionInterface());
    tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();   // a reader looks again once the press is handled
    Walk();
    EXPECT_TRUE(Shown(One(Role::Table, "アプリケーション一覧")));
    One(Role::PageTabList, "アプリケーション一覧");
    EXPECT_FALSE(Shown(One(Role::Client, "CPU 使用率のグラフ")));
    const auto closes = Nodes(Role::PushButton, "閉じる(C)");
    EXPECT_EQ(std::count_if(closes.begin(), closes.end(), Shown), 1);   // the list page's own
}

// ---- the selection ------------------------------------------------------------------------------
// A screen reader selects a row through the table, or with a cell's "Toggle", and reads the
// selection back; "終了" must end that row's process, not the row last clicked.
TEST_F(AccessibilityTest, TheRowAScreenReaderSelectsIsTheRowEndTaskEnds)
{
    fake.windowList = {{16, "ミレボ", true, 4242, 1}, {17, "A", true, 100, 7}, {18, "B", true, 200, 8},
                       {19, "C", true, 300, 9}};
    for (const auto& w : fake.windowList)
        fake.processes[w.pid] = {w.identity, true};
    form->timRefTimer();
    Find<QTabWidget>("PageControl1")->setCurrentIndex(0);
    TStringGrid& grid = Grid();
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(&grid)->tableInterface();
    ASSERT_NE(table, nullptr);
    // Accessible rows count from the first under the header; A, B and C are rows 1 to 3.
    const auto clickA = [&] {
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(grid.model()->index(1, 1)).center());
        ASSERT_EQ(table->selectedRows(), QList<int>{1});
    };
    const auto endTask = [&] {
        fake.terminated.clear();
        form->BitBtn1Click();
        return fake.terminated;
    };

    clickA();
    ASSERT_TRUE(table->selectRow(2));
    QCoreApplication::processEvents();
    EXPECT_EQ(table->selectedRows(), QList<int>{2});
    EXPECT_EQ(endTask(), std::vector<std::uint32_t>{200});

    clickA();
    QAccessibleInterface* c = table->cellAt(3, 1);
    ASSERT_TRUE(c && c->actionInterface());
    c->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCoreApplication::processEvents();
    EXPECT_TRUE(c->state().selected);
    EXPECT_FALSE(table->cellAt(1, 1)->state().selected);
    EXPECT_EQ(endTask(), std::vector<std::uint32_t>{300});

    // Some row is always selected: neither a toggle nor clearing the selection takes it away.
    c->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    grid.clearSelection();
    QCoreApplication::processEvents();
    EXPECT_EQ(table->selectedRows(), QList<int>{3});
    EXPECT_EQ(grid.Row(), 4);   // C's, which End task would take
}
