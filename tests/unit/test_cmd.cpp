#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "fixture.h"

class RunDialogTest : public MainWindowTest {
protected:
    template <class T = QWidget>
    T* Control(const char* name) const
    {
        T* found = cmd->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QComboBox* Combo() const { return Control<QComboBox>("cmbCmd"); }

    // Opens the dialog from the menu and runs `inside` once it is up.
    void OpenWith(std::function<void()> inside)
    {
        QTimer::singleShot(0, cmd.get(), [this, inside] {
            EXPECT_TRUE(cmd->isVisible());
            cmd->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(cmd.get(), 1000));
            inside();
        });
        Find<QAction>("G1")->trigger();
        EXPECT_FALSE(cmd->isVisible());
    }

    void ChooseInFileDialog(const QString& path)
    {
        fake.fileDialog = [this, path](platform::OpenFileRequest& request) {
            requests.push_back(request);
            request.fileName = path;
            return true;
        };
        cmd->btnFileClick();
    }

    std::vector<platform::OpenFileRequest> requests;
};

TEST_F(RunDialogTest, IsLaidOutWithItsTextsAndTabOrder)
{
    EXPECT_EQ(cmd->windowTitle(), QStringLiteral("アプリケーション新規実行"));
    EXPECT_EQ(cmd->size(), QSize(288, 72));
    EXPECT_EQ(Control("Bevel1")->geometry(), QRect(4, 4, 281, 37));
    EXPECT_EQ(Combo()->geometry(), QRect(12, 12, 185, 20));
    EXPECT_TRUE(Combo()->isEditable());
    EXPECT_EQ(Control<QPushButton>("btnFile")->text(), QStringLiteral("参照..."));
    EXPECT_EQ(Control<QPushButton>("OKBtn")->text(), QStringLiteral("OK"));
    EXPECT_TRUE(Control<QPushButton>("OKBtn")->isDefault());
    EXPECT_EQ(Control<QPushButton>("CancelBtn")->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(cmd->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(cmd->windowModality(), Qt::WindowModal);
    // Tab order, skipping what belongs inside the combo box.
    QWidget* order[] = {Control("OKBtn"), Control("CancelBtn"), Combo(), Control("btnFile")};
    for (int i = 0; i < 3; ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next != order[i] && (!(next->focusPolicy() & Qt::TabFocus) || next->parentWidget() == Combo()))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
}

// The dialog has no label beside its one field: what tells a sighted user what to type there is
// the dialog's caption, so a screen reader reads that as the field's name. The text being typed
// sits in the line edit, which holds the keyboard focus.
TEST_F(RunDialogTest, TheNameFieldIsNamedByTheDialogsCaption)
{
    const QString caption = QStringLiteral("アプリケーション新規実行");
    EXPECT_EQ(Combo()->accessibleName(), caption);
    EXPECT_EQ(Combo()->lineEdit()->accessibleName(), caption);
    Combo()->setEditText(QStringLiteral("xterm"));
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(Combo()->lineEdit());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(QAccessible::Name), caption);
    EXPECT_EQ(field->text(QAccessible::Value), QStringLiteral("xterm"));
}

TEST_F(RunDialogTest, EnterOnTheFirstOpeningHandsTheEmptyTextOverAndCloses)
{
    Show();
    OpenWith([this] {
        EXPECT_EQ(cmd->focusWidget(), Control("OKBtn"));
        QTest::keyClick(cmd->focusWidget(), Qt::Key_Return);
    });
    EXPECT_EQ(fake.opened, std::vector<QString>{QString()});
}

TEST_F(RunDialogTest, EscapeCancelsWithoutOpeningAnything)
{
    Show();
    OpenWith([this] { QTest::keyClick(cmd.get(), Qt::Key_Escape); });
    EXPECT_TRUE(fake.opened.empty());
}

TEST_F(RunDialogTest, OkHandsTheWholeTypedTextOverAndDoesNotListIt)
{
    Show();
    OpenWith([this] {
        Combo()->setFocus();
        QTest::keyClicks(Combo(), QStringLiteral("prog --flag \"two words\""));
        QTest::keyClick(Combo(), Qt::Key_Return);
    });
    EXPECT_EQ(fake.opened, std::vector<QString>{QStringLiteral("prog --flag \"two words\"")});
    EXPECT_EQ(Combo()->count(), 0);
    // The text and the last focused control are still there at the next opening.
    OpenWith([this] {
        EXPECT_EQ(Combo()->currentText(), QStringLiteral("prog --flag \"two words\""));
        EXPECT_TRUE(cmd->focusWidget() == Combo() || cmd->focusWidget()->parentWidget() == Combo());
        cmd->CancelBtnClick();
    });
}

TEST_F(RunDialogTest, AFileChosenTwiceIsListedTwice)
{
    ChooseInFileDialog(QStringLiteral("/usr/bin/xterm"));
    ChooseInFileDialog(QStringLiteral("/usr/bin/xterm"));
    EXPECT_EQ(Combo()->count(), 2);
    EXPECT_EQ(Combo()->itemText(1), QStringLiteral("/usr/bin/xterm"));
    EXPECT_EQ(Combo()->currentText(), QStringLiteral("/usr/bin/xterm"));
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].fileName, QStringLiteral("*.EXE"));
    EXPECT_EQ(requests[1].fileName, QStringLiteral("/usr/bin/xterm"));
    EXPECT_EQ(requests[0].filters, (QStringList{QStringLiteral("実行ファイル|*.EXE"), QStringLiteral("全て|*.*")}));
    EXPECT_EQ(requests[0].filterIndex, 1);
}

TEST_F(RunDialogTest, TheFilterLastChosenIsOfferedAgain)
{
    fake.fileDialog = [](platform::OpenFileRequest& request) {
        request.filterIndex = 2;
        request.fileName = QStringLiteral("/tmp/readme.txt");
        return true;
    };
    cmd->btnFileClick();
    ChooseInFileDialog(QStringLiteral("/bin/ls"));
    EXPECT_EQ(requests.back().filterIndex, 2);
}

TEST_F(RunDialogTest, CancellingTheFileDialogChangesNothing)
{
    Combo()->setEditText(QStringLiteral("typed"));
    cmd->btnFileClick();
    EXPECT_EQ(Combo()->currentText(), QStringLiteral("typed"));
    EXPECT_EQ(Combo()->count(), 0);
}

TEST_F(RunDialogTest, TheMainWindowKeepsUpdatingWhileTheDialogIsOpen)
{
    Show();
    OpenWith([this] {
        fake.setCpuUsage(91);
        form->timRefTimer();
        EXPECT_EQ(Text("lblData"), QStringLiteral("91"));
        cmd->CancelBtnClick();
    });
}

TEST_F(RunDialogTest, ExitFromTheTrayMenuWhileOpenClosesBothAndRunsTheCloseQuery)
{
    Show();
    OpenWith([this] { form->popExt()->actions()[0]->trigger(); });
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(fake.trayCalls.back().op, platform::TrayOp::Delete);
}

// ---- system information ----
TEST_F(MainWindowTest, TheShowFillsTheMachineFacts)
{
    fake.computer = "desk-01";
    fake.user = "yamada.taro.12345678";   // 20 characters fit the buffer whole
    fake.processor = 586;
    Show();
    EXPECT_EQ(Text("lblComp"), QStringLiteral("desk-01"));
    EXPECT_EQ(Text("lblUser"), QStringLiteral("yamada.taro.12345678"));
    EXPECT_EQ(Text("lblCPU"), QStringLiteral("586"));
}

TEST_F(MainWindowTest, NamesAreReadThroughA127ByteRoom)
{
    form->FormShow();
    EXPECT_EQ(fake.count("computerName 127"), 1);
    EXPECT_EQ(fake.count("userName 127"), 1);
    fake.computer = std::string(127, 'h');   // no room left for the terminating NUL
    fake.user.reset();
    form->FormShow();
    EXPECT_EQ(Text("lblComp"), QStringLiteral("(不明)"));
    EXPECT_EQ(Text("lblUser"), QStringLiteral("(不明)"));
}

TEST_F(MainWindowTest, TheFactsAreReadAgainAtEveryShow)
{
    Show();
    fake.computer = "renamed";
    Find<QAction>("btnTop")->trigger();
    EXPECT_EQ(Text("lblComp"), QStringLiteral("renamed"));
    EXPECT_EQ(Text("lblCPU"), QStringLiteral("586"));
}
