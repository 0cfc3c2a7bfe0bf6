#include "untMain.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QtEndian>

#include "alignlayout.h"
#include "chart.h"
#include "fonts.h"
#include "labels.h"
#include "stringgrid.h"
#include "texts.h"
#include "ui_untMain.h"
#include "untCmd.h"

using namespace platform;

namespace {

const std::string StartStat = "PerfStats\\StartStat";
const std::string StatData = "PerfStats\\StatData";
const std::string CPUUsage = "KERNEL\\CPUUsage";

// One of the program's pictures, read as the XPM it is: naming the format spares a scan of
// every image plugin at start-up.
QPixmap Picture(const QString& name)
{
    return QPixmap::fromImage(QImage(QStringLiteral(":/icons/%1.xpm").arg(name), "XPM"));
}

// The pages' controls are placed for pages of `page`. Qt's styles draw a thinner pane frame
// than the one that layout was made for; the rest of that border becomes margin around the
// pages, so that they keep their designed size. Measured once the tab control is laid out.
bool FitPages(QTabWidget* pages, QSize page)
{
    auto* stack = pages->findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly);
    if (stack == nullptr || !pages->isVisible())
        return false;
    const QSize room = stack->size();
    const int dx = room.width() - page.width(), dy = room.height() - page.height();
    if (dx >= 0 && dy >= 0) {   // a style whose frame is thicker still: pages keep what it leaves
        stack->setContentsMargins(dx / 2, 0, dx - dx / 2, dy);
        stack->layout()->activate();
    }
    return true;
}

}  // namespace

TfrmMain::TfrmMain(Platform& platform, QWidget* parent)
    : QMainWindow(parent), platform_(platform), ui(std::make_unique<Ui::frmMain>()),
      guard_(platform, AppTitle())
{
    // The pictures live in this static library: nothing else would pull them into the program.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    TAlignLayout::Install(ui->PageControl1->widget(0));
    TAlignLayout::Install(ui->PageControl1->widget(1));
    ui->Splitter1->SetControl(ui->Panel2);
    ui->PageControl1->setCurrentWidget(ui->TabSheet3);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    // Every control is placed for pages of 304x220 in a 312x247 tab control right under the menu
    // bar; the window manager's frame, whatever its thickness, goes around that.
    resize(PageControlSize.width(), menuBar()->sizeHint().height() + PageControlSize.height());

    QIcon icon;
    icon.addPixmap(Picture("mirebo-16"));
    icon.addPixmap(Picture("mirebo-32"));
    setWindowIcon(icon);
    for (int level = 0; level < static_cast<int>(IL.size()); ++level)
        IL[static_cast<std::size_t>(level)] = QIcon(Picture(QStringLiteral("tray%1").arg(level)));
    QPixmap empty(16, 16);
    empty.fill(Qt::transparent);
    emptyIcon_ = QIcon(empty);

    // Our own pictures: the style's stock ones would be looked up in the icon theme at start-up.
    ui->BitBtn1->setIcon(QIcon(Picture("abort")));
    ui->BitBtn2->setIcon(QIcon(Picture("close")));
    ui->BitBtn5->setIcon(QIcon(Picture("close")));

    for (QLabel* figure : {ui->lblTotalMem, ui->lblAllocMem, ui->lblData})
        figure->setFont(FigureFont());

    Describe();

    frequency_ = new QActionGroup(this);
    frequency_->setExclusive(true);
    for (QAction* item : {ui->btnHigh, ui->btnNormal, ui->btnLow})
        frequency_->addAction(item);

    popExt_ = new QMenu(this);
    popExt_->setObjectName(QStringLiteral("popExt"));
    QAction* Exit1 = popExt_->addAction(QStringLiteral("終了"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    timRef_ = new QTimer(this);
    timRef_->setObjectName(QStringLiteral("timRef"));
    // A coarse timer drifts several percent off its interval; the charts scroll by the tick.
    timRef_->setTimerType(Qt::PreciseTimer);

    connect(timRef_, &QTimer::timeout, this, &TfrmMain::timRefTimer);
    connect(ui->G1, &QAction::triggered, this, [this] { Handle(&TfrmMain::G1Click); });
    connect(ui->X1, &QAction::triggered, this, [this] { Handle(&TfrmMain::X1Click); });
    connect(Exit1, &QAction::triggered, this, [this] { Handle(&TfrmMain::Exit1Click); });
    connect(ui->btnTop, &QAction::triggered, this, [this] {
        // The handler owns the check mark: undo the menu's own toggle first.
        ui->btnTop->setChecked(!ui->btnTop->isChecked());
        Handle(&TfrmMain::btnTopClick);
    });
    connect(ui->btnHigh, &QAction::triggered, this, [this] { Handle(&TfrmMain::btnHighClick); });
    connect(ui->btnNormal, &QAction::triggered, this, [this] { Handle(&TfrmMain::btnNormalClick); });
    connect(ui->btnLow, &QAction::triggered, this, [this] { Handle(&TfrmMain::btnLowClick); });
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { Handle(&TfrmMain::BitBtn1Click); });
    connect(ui->BitBtn2, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->BitBtn5, &QPushButton::clicked, this, &QWidget::close);
    // Trays that open the icon's menu themselves never report the right click.
    connect(popExt_, &QMenu::aboutToShow, this, [this] { platform_.setForegroundWindow(this); });

    guard_.SetOwner(this);
    guard_.Run([this] { FormCreate(); });
    // The timer counts from the window's creation; its first tick comes one interval later.
    if (!platform_.startTimer(*timRef_, interval_))
        guard_.Run([] { throw EAppError(QStringLiteral("タイマーを取得できません")); });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::Handle(void (TfrmMain::*handler)())
{
    guard_.Run([this, handler] { (this->*handler)(); });
}

const QIcon& TfrmMain::TrayIcon(int level) const
{
    return level >= 0 && level < static_cast<int>(IL.size()) ? IL[static_cast<std::size_t>(level)]
                                                             : emptyIcon_;
}

// What a screen reader says for the controls whose visible text alone means nothing.
void TfrmMain::Describe()
{
    const std::pair<QWidget*, const char*> descriptions[] = {
        {ui->lblTotalMem, "全メモリ量 (Byte)"},
        {ui->lblAllocMem, "メモリ使用率 (％)"},
        {ui->lblData, "CPU 使用率 (％)"},
        {ui->lblComp, "コンピュータ名"},
        {ui->lblUser, "ユーザー名"},
        {ui->lblCPU, "CPU 情報"},
        {ui->imgCPU, "CPU 使用率の推移。右端が最新で、1 列が 1 回の更新"},
        {ui->imgMemory, "メモリ使用率の推移。右端が最新で、1 列が 1 回の更新"},
        {ui->grdApp, "実行中のアプリケーション: 1 行に 1 プロセス、ウィンドウの名称とプロセスID"},
    };
    for (const auto& [widget, text] : descriptions)
        widget->setAccessibleDescription(QString::fromUtf8(text));
    ui->imgCPU->setAccessibleName(QStringLiteral("CPU 使用率のグラフ"));
    ui->imgMemory->setAccessibleName(QStringLiteral("メモリ使用率のグラフ"));
    ui->grdApp->setAccessibleName(QStringLiteral("アプリケーション一覧"));
}

// ---- start-up, show, close ----------------------------------------------------------------------

void TfrmMain::FormCreate()
{
    TrayInit();
    platform_.hideTaskbarButton(this, true);
}

void TfrmMain::ShowMain()
{
    // Said before the window appears, so that no taskbar button flashes in a panel; the window
    // system may have made a new window for us since the last show. The first minimise gives
    // the window its button for good.
    if (!minimisedOnce_)
        platform_.hideTaskbarButton(this, true);
    if (!isVisible() && !testAttribute(Qt::WA_Moved)) {
        if (const QScreen* screen = this->screen()) {
            // The whole frame is centred, not just what lies inside it.
            const QMargins frame = platform_.frameMargins(this);
            const QRect area = screen->availableGeometry();
            const QSize outer = size().grownBy(frame);
            const QPoint corner = area.topLeft() + QPoint((area.width() - outer.width()) / 2,
                                                          (area.height() - outer.height()) / 2);
            setGeometry(QRect(corner + QPoint(frame.left(), frame.top()), size()));
        }
    }
    show();
    raise();
    activateWindow();
}

void TfrmMain::FormShow()
{
    SysInfo();
    statReg_ = std::make_unique<TStatReg>(platform_);
    statReg_->SetRootKey(kDynDataRoot);
    ReadMemory();
    statReg_->OpenKey(StatData);
    ReadProcessorSample();
    ShowProcessorSample();
    statReg_->CloseKey();
    ScrollCount = 0;
}

void TfrmMain::FormPaint()
{
    for (TImage* image : {ui->imgCPU, ui->imgMemory}) {
        image->SetBrush(chart::Black);
        image->FillRect(0, 0, image->width(), image->height());
        ScrollCount = Sheet(*image);
    }
}

void TfrmMain::FormCloseQuery()
{
    timRef_->stop();
    closed_ = true;
    TrayRemove();
    statReg_.reset();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!pagesFitted_)
        pagesFitted_ = FitPages(ui->PageControl1, QSize(304, 220));
    // Shown by the program (first show, or anew by the always-on-top command): the show handler
    // and a fresh chart grid. Shown by the window system on restore: the fresh grid only.
    if (!event->spontaneous()) {
        guard_.Run([this] { FormShow(); });
        guard_.Run([this] { FormPaint(); });
    } else if (restorePending_) {
        restorePending_ = false;
        guard_.Run([this] { FormPaint(); });
    }
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized())
        return;
    restorePending_ = true;
    if (!minimisedOnce_) {
        minimisedOnce_ = true;
        platform_.hideTaskbarButton(this, false);
    }
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (!closed_)
        guard_.Run([this] { FormCloseQuery(); });
    if (frmCmd_ && frmCmd_->isVisible())
        frmCmd_->reject();
    event->accept();
    // Ends the message loop and every modal loop inside it (an error box, the run dialog).
    QCoreApplication::quit();
}

// ---- commands -----------------------------------------------------------------------------------

void TfrmMain::G1Click()
{
    if (frmCmd_)
        frmCmd_->ShowModal();
}

void TfrmMain::X1Click()
{
    close();
}

void TfrmMain::Exit1Click()
{
    close();
}

void TfrmMain::btnTopClick()
{
    const bool onTop = !ui->btnTop->isChecked();
    ui->btnTop->setChecked(onTop);
    // Changing the flag makes a new native window; it must come back where it was.
    const QRect place = geometry();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    setGeometry(place);
    ShowMain();
}

void TfrmMain::SetInterval(int milliseconds)
{
    // Choosing the interval in force keeps the timer's phase: restarting it would not.
    if (milliseconds == interval_)
        return;
    interval_ = milliseconds;
    if (!platform_.startTimer(*timRef_, milliseconds))
        throw EAppError(QStringLiteral("タイマーを取得できません"));
}

void TfrmMain::btnHighClick()
{
    ui->btnHigh->setChecked(true);
    SetInterval(100);
}

void TfrmMain::btnNormalClick()
{
    ui->btnNormal->setChecked(true);
    SetInterval(1000);
}

void TfrmMain::btnLowClick()
{
    ui->btnLow->setChecked(true);
    SetInterval(5000);
}

// ---- refresh cycle ------------------------------------------------------------------------------

void TfrmMain::timRefTimer()
{
    if (closed_)
        return;
    guard_.Run([this] { RefreshCycle(); });
}

void TfrmMain::ReadMemory()
{
    // An unreadable status keeps the last good figures.
    if (const auto status = platform_.memoryStatus())
        memory_ = *status;
    SetRightAnchored(ui->lblTotalMem, QString::number(memory_.totalPhys), 73, 65);
    SetText(ui->lblAllocMem, QString::number(memory_.memoryLoad));
}

void TfrmMain::ReadProcessorSample()
{
    // A shorter value fills only the first bytes of the sample; a missing one leaves it as it was.
    unsigned char bytes[4];
    qToLittleEndian<qint32>(sample_, bytes);
    statReg_->ReadBinaryData(CPUUsage, bytes, sizeof bytes);
    sample_ = qFromLittleEndian<qint32>(bytes);
}

void TfrmMain::ShowProcessorSample()
{
    SetRightAnchored(ui->lblData, QString::number(sample_), 149, 0);
}

void TfrmMain::RefreshCycle()
{
    if (!statReg_) {
        statReg_ = std::make_unique<TStatReg>(platform_);
        statReg_->SetRootKey(kDynDataRoot);
    }
    ReadMemory();
    Graph(*ui->imgMemory, static_cast<std::int32_t>(memory_.memoryLoad), chart::Yellow, ScrollCount);
    // A key left open by a tick that failed half-way would make the next open relative to it.
    statReg_->CloseKey();
    statReg_->OpenKey(StartStat);
    ReadProcessorSample();
    statReg_->CloseKey();
    statReg_->OpenKey(StatData);
    ReadProcessorSample();
    ShowProcessorSample();
    ScrollCount = Graph(*ui->imgCPU, sample_, chart::Lime, ScrollCount);
    statReg_->CloseKey();
    ++ScrollCount;
    TrayUpdate(sample_);
    Applist();
}

// ---- system information -------------------------------------------------------------------------

void TfrmMain::SysInfo()
{
    const std::uint32_t processorType = platform_.processorType();
    char buffer[128];
    std::uint32_t size = 127;
    SetText(ui->lblComp, NameText(platform_.computerName(buffer, &size), buffer, sizeof buffer));
    size = 127;
    SetText(ui->lblUser, NameText(platform_.userName(buffer, &size), buffer, sizeof buffer));
    SetText(ui->lblCPU, QString::number(processorType));
}

// ---- tray icon ----------------------------------------------------------------------------------

void TfrmMain::TrayInit()
{
    trayData_.size = kTrayDataSize;
    trayData_.window = this;
    trayData_.id = TrayId;
    trayData_.flags = kNifMessage | kNifIcon | kNifTip;
    trayData_.callbackMessage = WM_TRAYICON;
    trayData_.icon = windowIcon();
    // The tray's first tip names the program "ソラトキ", as its exit command does, while the
    // title and the error boxes say "ミレボ". Both names are meant: keep each where it is.
    CopyTip(trayData_.tip, QStringLiteral("ソラトキ"));
    trayData_.menu = popExt_;
    platform_.notifyIcon(TrayOp::Add, trayData_);
}

void TfrmMain::TrayUpdate(std::int32_t sample)
{
    trayData_.icon = TrayIcon(sample / 20);
    CopyTip(trayData_.tip, QStringLiteral("CPU 使用率 ") + QString::number(sample) + QLatin1Char('%'));
    platform_.notifyIcon(TrayOp::Modify, trayData_);
}

void TfrmMain::TrayRemove()
{
    platform_.notifyIcon(TrayOp::Delete, trayData_);
}

void TfrmMain::trayMessage(std::uint32_t message, std::uint32_t, std::uint32_t lParam)
{
    if (message == WM_TRAYICON && !closed_)
        guard_.Run([this, lParam] { TrayNotify(lParam); });
}

void TfrmMain::TrayNotify(std::uint32_t mouseMessage)
{
    if (mouseMessage != kRButtonDown)
        return;
    const QPoint cursor = platform_.cursorPos();
    platform_.setForegroundWindow(this);
    // A tray that opened the icon's menu itself has already put it at the cursor.
    if (!popExt_->isVisible())
        popExt_->popup(cursor);
}

// ---- application list ---------------------------------------------------------------------------

void TfrmMain::Applist()
{
    TStringGrid* grid = ui->grdApp;
    grid->SetCell(0, 0, QStringLiteral("アプリケーション名称"));
    grid->SetCell(1, 0, QStringLiteral("プロセスＩＤ"));
    AppCount = 1;
    listedPids_.clear();
    for (const WindowInfo& window : platform_.windows())
        if (!AppEnumProc(window))
            break;
    grid->SetRowCount(AppCount);
}

bool TfrmMain::AppEnumProc(const WindowInfo& window)
{
    if (window.title.empty() || !window.visible)
        return true;
    // Rows 1 to AppCount - 1 are this rebuild's: a process already among them keeps its row.
    // The set holds exactly the ids those rows show, without a scan per window.
    if (!listedPids_.insert(window.pid).second)
        return true;
    TStringGrid* grid = ui->grdApp;
    grid->SetCell(0, AppCount, QString::fromStdString(window.title));
    grid->SetCell(1, AppCount, QString::number(window.pid));
    if (rowProcess_.size() <= static_cast<std::size_t>(AppCount))
        rowProcess_.resize(static_cast<std::size_t>(AppCount) + 1);
    rowProcess_[static_cast<std::size_t>(AppCount)] = {window.identity, window.foreignPid};
    ++AppCount;
    return true;
}

void TfrmMain::BitBtn1Click()
{
    const int r = ui->grdApp->Row();
    // With only the header left the selection stands on a row nobody sees; its old text must
    // not name a process to end.
    if (r >= ui->grdApp->RowCount())
        return;
    const QString text = ui->grdApp->Cell(1, r);
    const auto value = ParseInt64(text);
    if (!value)
        throw EAppError(QStringLiteral("'%1' は整数ではありません").arg(text));
    const auto pid = static_cast<std::uint32_t>(static_cast<std::uint64_t>(*value));
    const RowProcess row =
        static_cast<std::size_t>(r) < rowProcess_.size() ? rowProcess_[static_cast<std::size_t>(r)] : RowProcess{};
    // Such an id may name an unrelated process of ours; the user is told why nothing happens.
    if (row.foreignPid)
        throw EAppError(QStringLiteral("このプロセスはサンドボックスまたはコンテナーの外にあるため、終了できません"));
    if (const ProcessHandle process = platform_.openProcess(pid, row.identity)) {
        platform_.terminateProcess(process, 0);
        platform_.waitForProcess(process, 500);
        platform_.closeProcess(process);
    }
}
