#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/proc/cpustat.h"
#include "platform/linux/x11/desktop.h"
#include "platform/linux/run/filedialog.h"
#include "platform/linux/proc/meminfo.h"
#include "platform/linux/proc/names.h"
#include "platform/linux/run/shell.h"

namespace platform {

LinuxPlatform::LinuxPlatform() : stats_(&linux_impl::readProcStat)
{
    linux_impl::watchUserInput();
}

LinuxPlatform::~LinuxPlatform() = default;

std::vector<WindowInfo> LinuxPlatform::windows()
{
    return compositor_.windows(windows_.list());
}

ProcessHandle LinuxPlatform::openProcess(std::uint32_t pid, std::uint64_t identity)
{
    return processes_.open(pid, identity);
}

void LinuxPlatform::terminateProcess(ProcessHandle process, std::uint32_t /*exitCode*/)
{
    // A process ended from outside always dies of SIGKILL here; no exit code can be imposed.
    processes_.terminate(process);
}

void LinuxPlatform::waitForProcess(ProcessHandle process, int milliseconds)
{
    processes_.wait(process, milliseconds);
}

void LinuxPlatform::closeProcess(ProcessHandle process)
{
    processes_.close(process);
}

std::optional<MemoryStatus> LinuxPlatform::memoryStatus()
{
    return linux_impl::readMemoryStatus();
}

std::uint32_t LinuxPlatform::processorType()
{
    return linux_impl::processorType();
}

bool LinuxPlatform::computerName(char* buffer, std::uint32_t* size)
{
    return linux_impl::computerName(buffer, size);
}

bool LinuxPlatform::userName(char* buffer, std::uint32_t* size)
{
    return linux_impl::userName(buffer, size);
}

long LinuxPlatform::regOpenKey(StatKey parent, const std::string& subKey, StatKey* result)
{
    return stats_.openKey(parent, subKey, result);
}

long LinuxPlatform::regQueryValue(StatKey key, const std::string& name, std::uint32_t* type,
                                  void* data, std::uint32_t* size)
{
    return stats_.queryValue(key, name, type, data, size);
}

void LinuxPlatform::regCloseKey(StatKey key)
{
    stats_.closeKey(key);
}

bool LinuxPlatform::notifyIcon(TrayOp op, const TrayData& data)
{
    return tray_.apply(op, data);
}

QPoint LinuxPlatform::cursorPos()
{
    // Asked while a tray click is handled: where the tray host says it was, which on a Wayland
    // session only the host knows.
    if (const auto point = tray_.clickPoint())
        return *point;
    return linux_impl::cursorPos();
}

void LinuxPlatform::setForegroundWindow(QWidget* window)
{
    linux_impl::setForegroundWindow(window);
    compositor_.raise(window);
}

void LinuxPlatform::hideTaskbarButton(QWidget* window, bool hide)
{
    linux_impl::hideTaskbarButton(window, hide);
}

QMargins LinuxPlatform::frameMargins(QWidget* window)
{
    return linux_impl::frameMargins(window);
}

void LinuxPlatform::shellOpen(const QString& text)
{
    linux_impl::shellOpen(text);
}

bool LinuxPlatform::openFileName(QWidget* parent, OpenFileRequest& request)
{
    return linux_impl::openFileName(parent, request);
}

bool LinuxPlatform::startTimer(QTimer& timer, int milliseconds)
{
    return linux_impl::startTimer(timer, milliseconds);
}

void LinuxPlatform::errorBox(QWidget* parent, const QString& caption, const QString& text)
{
    linux_impl::errorBox(parent, caption, text);
}

}  // namespace platform
