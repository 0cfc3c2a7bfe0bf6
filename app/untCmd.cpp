#include "untCmd.h"

#include <QLineEdit>
#include <QScreen>

#include "apperror.h"
#include "ui_untCmd.h"

TfrmCmd::TfrmCmd(platform::Platform& platform, TErrorGuard& guard, QWidget* parent)
    : QDialog(parent), platform_(platform), guard_(guard), ui(std::make_unique<Ui::frmCmd>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    setFixedSize(288, 72);
    // Window-modal: only the main window is blocked, so the tray menu can still end the program.
    setWindowModality(Qt::WindowModal);
    ui->OKBtn->setFocus();
    // No label stands beside the field; the caption is what tells a sighted user what it is for,
    // so a screen reader reads it as the field's name (the line edit is where the focus sits).
    ui->cmbCmd->setAccessibleName(windowTitle());
    ui->cmbCmd->lineEdit()->setAccessibleName(windowTitle());

    dlgOpen_.filters = {QStringLiteral("実行ファイル|*.EXE"), QStringLiteral("全て|*.*")};
    dlgOpen_.filterIndex = 1;
    dlgOpen_.fileName = QStringLiteral("*.EXE");

    connect(ui->btnFile, &QPushButton::clicked, this, [this] { guard_.Run([this] { btnFileClick(); }); });
    connect(ui->OKBtn, &QPushButton::clicked, this, [this] { guard_.Run([this] { OKBtnClick(); }); });
    connect(ui->CancelBtn, &QPushButton::clicked, this, [this] { guard_.Run([this] { CancelBtnClick(); }); });
}

TfrmCmd::~TfrmCmd() = default;

void TfrmCmd::ShowModal()
{
    if (!placed_) {
        placed_ = true;
        if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    exec();
}

void TfrmCmd::btnFileClick()
{
    if (!platform_.openFileName(this, dlgOpen_))
        return;
    ui->cmbCmd->setEditText(dlgOpen_.fileName);
    ui->cmbCmd->addItem(dlgOpen_.fileName);
}

void TfrmCmd::OKBtnClick()
{
    platform_.shellOpen(ui->cmbCmd->currentText());
    reject();
}

void TfrmCmd::CancelBtnClick()
{
    reject();
}
