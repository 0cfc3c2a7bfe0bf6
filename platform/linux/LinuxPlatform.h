#pragma once
// The platform interface on Linux: /proc for the figures, X11 (through Qt's connection) for
// the window list and window-manager requests, pidfds for ending processes, Qt for the rest.
// Works without a display too: then there are no windows and the X requests do nothing.

#include "platform/Platform.h"
#include "platform/linux/wayland/compositor.h"
#include "platform/linux/proc/process.h"
#include "platform/linux/proc/statregistry.h"
#include "platform/linux/tray/tray.h"
#include "platform/linux/x11/windows.h"

namespace platform {

class LinuxPlatform final : public Platform {
public:
    LinuxPlatform();
    ~LinuxPlatform() override;

    std::vector<WindowInfo> windows() override;

    ProcessHandle openProcess(std::uint32_t pid, std::uint64_t identity) override;
    void terminateProcess(ProcessHandle process, std::uint32_t exitCode) override;
    void waitForProcess(ProcessHandle process, int milliseconds) override;
    void closeProcess(ProcessHandle process) override;

    std::optional<MemoryStatus> memoryStatus() override;
    std::uint32_t processorType() override;
    bool computerName(char* buffer, std::uint32_t* size) override;
    bool userName(char* buffer, std::uint32_t* size) override;

    long regOpenKey(StatKey parent, const std::string& subKey, StatKey* result) override;
    long regQueryValue(StatKey key, const std::string& name, std::uint32_t* type, void* data,
                       std::uint32_t* size) override;
    void regCloseKey(StatKey key) override;

    bool notifyIcon(TrayOp op, const TrayData& data) override;
    QPoint cursorPos() override;
    void setForegroundWindow(QWidget* window) override;
    void hideTaskbarButton(QWidget* window, bool hide) override;
    QMargins frameMargins(QWidget* window) override;
    void shellOpen(const QString& text) override;
    bool openFileName(QWidget* parent, OpenFileRequest& request) override;
    bool startTimer(QTimer& timer, int milliseconds) override;
    void errorBox(QWidget* parent, const QString& caption, const QString& text) override;

private:
    linux_impl::WindowLister windows_;
    linux_impl::Compositor compositor_;
    linux_impl::ProcessTable processes_;
    linux_impl::StatRegistry stats_;
    linux_impl::TrayIcons tray_;
};

}  // namespace platform
