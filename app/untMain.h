#pragma once
// The main window: its commands, the refresh cycle, and the tray icon and application list that
// the cycle drives. Qt's event overrides only decide when a named handler runs.

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include <QMainWindow>
#include <QSize>

#include "apperror.h"
#include "platform/Platform.h"
#include "statreg.h"

namespace Ui { class frmMain; }
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;
class TImage;
class TStringGrid;
class TfrmCmd;

class TfrmMain : public QMainWindow, public platform::TrayReceiver {
    Q_OBJECT
public:
    static constexpr std::uint32_t WM_TRAYICON = platform::kTrayCallbackMessage;
    static constexpr std::uint32_t TrayId = 100;
    static constexpr QSize PageControlSize{312, 247};

    explicit TfrmMain(platform::Platform& platform, QWidget* parent = nullptr);
    ~TfrmMain() override;

    void SetCmd(TfrmCmd* frmCmd) { frmCmd_ = frmCmd; }
    // Shows the window (again), in front, and keeps it off the taskbar until first minimised.
    void ShowMain();

    // Handlers, named after their control and event.
    void FormCreate();
    void FormShow();
    void FormPaint();
    void FormCloseQuery();
    void timRefTimer();
    void G1Click();
    void X1Click();
    void Exit1Click();
    void btnTopClick();
    void btnHighClick();
    void btnNormalClick();
    void btnLowClick();
    void BitBtn1Click();

    // Tray icon.
    void TrayInit();
    void TrayUpdate(std::int32_t sample);
    void TrayRemove();
    void TrayNotify(std::uint32_t mouseMessage);
    void trayMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override;

    // Application list.
    void Applist();
    bool AppEnumProc(const platform::WindowInfo& window);

    // State the tests look at.
    std::int32_t ScrollCount = 0;
    std::int32_t AppCount = 0;
    const platform::TrayData& TrayData() const { return trayData_; }
    TStatReg* StatReg() const { return statReg_.get(); }
    QTimer* timRef() const { return timRef_; }
    QMenu* popExt() const { return popExt_; }
    TErrorGuard& Guard() { return guard_; }
    const QIcon& TrayIcon(int level) const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Describe();
    void RefreshCycle();
    void ReadMemory();
    void ReadProcessorSample();
    void ShowProcessorSample();
    void SysInfo();
    void SetInterval(int milliseconds);
    void Handle(void (TfrmMain::*handler)());

    platform::Platform& platform_;
    std::unique_ptr<Ui::frmMain> ui;
    TErrorGuard guard_;
    QTimer* timRef_ = nullptr;
    QMenu* popExt_ = nullptr;
    QActionGroup* frequency_ = nullptr;
    TfrmCmd* frmCmd_ = nullptr;
    std::unique_ptr<TStatReg> statReg_;
    platform::MemoryStatus memory_;
    std::int32_t sample_ = 0;
    int interval_ = 1000;
    bool closed_ = false;
    bool minimisedOnce_ = false;
    bool restorePending_ = false;
    bool pagesFitted_ = false;

    platform::TrayData trayData_;
    std::array<QIcon, 6> IL;
    QIcon emptyIcon_;

    // What End task needs of each row beyond its text, from the rebuild that wrote it.
    struct RowProcess {
        std::uint64_t identity = 0;   // 0: unknown, never ended
        bool foreignPid = false;      // the id is another pid namespace's: refused with an error
    };
    std::vector<RowProcess> rowProcess_;
    std::unordered_set<std::uint32_t> listedPids_;
};
