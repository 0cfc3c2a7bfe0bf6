#pragma once
// Every operating-system operation the program's logic calls, behind one interface, so that every
// handler can run against a scripted fake in tests. Drawing, menus and ordinary widgets are used
// through Qt directly; only what touches the system (or blocks, like a modal box) is here.
//
// Conventions: failures are values (0, false, an error code, std::nullopt), never exceptions;
// every call returns promptly (nothing here waits longer than the caller asked for).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QIcon>
#include <QMargins>
#include <QPoint>
#include <QString>
#include <QStringList>

#include "platform/types.h"

class QMenu;
class QTimer;
class QWidget;

namespace platform {

// ---- tray ---------------------------------------------------------------------------------------
// Receives the callback message of a tray icon, as a window receives a posted message.
class TrayReceiver {
public:
    virtual void trayMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;

protected:
    ~TrayReceiver() = default;
};

// The one notification-icon record. The tray knows an icon by (window, id).
struct TrayData {
    std::uint32_t size = 0;
    TrayReceiver* window = nullptr;
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t callbackMessage = 0;
    QIcon icon;
    char tip[64] = {};              // NUL-terminated UTF-8, at most 63 bytes
    QMenu* menu = nullptr;          // shown by trays that open an icon's menu themselves
};

// ---- run dialog's file chooser ------------------------------------------------------------------
struct OpenFileRequest {
    QStringList filters;            // "name|pattern" entries, in order
    int filterIndex = 1;            // 1-based, in and out: the filter last chosen
    QString fileName;               // the file name box's text, and the chosen path on return
};

class Platform {
public:
    virtual ~Platform() = default;

    // Top-level windows, topmost first, fetched in one batch with everything each row needs.
    virtual std::vector<WindowInfo> windows() = 0;

    // Opens the process only while it is still the one with this identity; 0 when it has gone,
    // cannot be signalled by us, the id names no single process, or the identity is 0 (unknown:
    // whatever holds the id by now cannot be told from the process that was listed).
    virtual ProcessHandle openProcess(std::uint32_t pid, std::uint64_t identity) = 0;
    virtual void terminateProcess(ProcessHandle process, std::uint32_t exitCode) = 0;
    // Returns once the process has ended or after `milliseconds`, whichever comes first.
    virtual void waitForProcess(ProcessHandle process, int milliseconds) = 0;
    virtual void closeProcess(ProcessHandle process) = 0;

    // std::nullopt when the kernel's figures cannot be read.
    virtual std::optional<MemoryStatus> memoryStatus() = 0;
    // The processor type number (386, 486, 586, ...).
    virtual std::uint32_t processorType() = 0;
    // Name into `buffer` (NUL-terminated); *size is the room in bytes, the name's length on
    // success. False, with the buffer untouched, when no name can be had.
    virtual bool computerName(char* buffer, std::uint32_t* size) = 0;
    virtual bool userName(char* buffer, std::uint32_t* size) = 0;

    // Statistics source. A sub-key path uses '\' between its parts.
    virtual long regOpenKey(StatKey parent, const std::string& subKey, StatKey* result) = 0;
    // With data == nullptr only *type and *size are returned. *size is the room on the way in.
    virtual long regQueryValue(StatKey key, const std::string& name, std::uint32_t* type,
                               void* data, std::uint32_t* size) = 0;
    virtual void regCloseKey(StatKey key) = 0;

    virtual bool notifyIcon(TrayOp op, const TrayData& data) = 0;
    virtual QPoint cursorPos() = 0;
    // Raises and activates the window, unless it is minimised.
    virtual void setForegroundWindow(QWidget* window) = 0;

    // Keeps the window off the taskbar (hide = true) or lets it show there. Said before the
    // window is shown, it holds from the moment the window appears, so no button flashes in a
    // panel; the window system may give the window a new identity at each show, so it is said
    // before every show.
    virtual void hideTaskbarButton(QWidget* window, bool hide) = 0;
    // The frame the window manager will put around the window, asked before its first show so
    // that the whole frame can be placed, in the same units as the window's geometry; empty
    // margins when no manager says.
    virtual QMargins frameMargins(QWidget* window) = 0;
    // Starts the program or opens the document or address named by the whole text; never fails
    // loudly.
    virtual void shellOpen(const QString& text) = 0;
    // The file-open dialog; false when cancelled.
    virtual bool openFileName(QWidget* parent, OpenFileRequest& request) = 0;

    // (Re)starts the timer with the interval; false when the system refuses a timer.
    virtual bool startTimer(QTimer& timer, int milliseconds) = 0;
    // The modal error box; returns when the user has closed it.
    virtual void errorBox(QWidget* parent, const QString& caption, const QString& text) = 0;
};

}  // namespace platform
