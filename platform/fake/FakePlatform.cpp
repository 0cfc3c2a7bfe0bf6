#include "platform/fake/FakePlatform.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>

#include <QTimer>
#include <QtEndian>
#include <QWidget>

namespace platform {

namespace {

std::string lower(std::string text)
{
    std::ranges::transform(text, text.begin(), asciiLower);
    return text;
}

}  // namespace

void FakePlatform::setCpuUsage(std::int32_t percent)
{
    std::string bytes(4, '\0');
    qToLittleEndian<qint32>(percent, bytes.data());
    for (const char* key : {"PerfStats\\StartStat", "PerfStats\\StatData"})
        keys[key]["KERNEL\\CPUUsage"] = Value{kTypeBinary, bytes, false};
}

int FakePlatform::count(const std::string& call) const
{
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

std::vector<WindowInfo> FakePlatform::windows()
{
    calls.push_back("windows");
    return windowList;
}

ProcessHandle FakePlatform::openProcess(std::uint32_t pid, std::uint64_t identity)
{
    calls.push_back("openProcess " + std::to_string(pid));
    auto found = processes.find(pid);
    if (found == processes.end() || !found->second.signallable)
        return 0;
    if (identity == 0 || identity != found->second.identity)
        return 0;
    ProcessHandle handle = nextProcess++;
    processHandles[handle] = pid;
    return handle;
}

void FakePlatform::terminateProcess(ProcessHandle process, std::uint32_t exitCode)
{
    calls.push_back("terminateProcess " + std::to_string(exitCode));
    auto found = processHandles.find(process);
    if (found == processHandles.end())
        return;
    terminated.push_back(found->second);
    processes.erase(found->second);
}

void FakePlatform::waitForProcess(ProcessHandle, int milliseconds)
{
    calls.push_back("waitForProcess " + std::to_string(milliseconds));
}

void FakePlatform::closeProcess(ProcessHandle process)
{
    calls.push_back("closeProcess");
    processHandles.erase(process);
}

std::optional<MemoryStatus> FakePlatform::memoryStatus()
{
    calls.push_back("memoryStatus");
    return memory;
}

std::uint32_t FakePlatform::processorType()
{
    calls.push_back("processorType");
    return processor;
}

bool FakePlatform::copyName(const std::optional<std::string>& name, char* buffer,
                            std::uint32_t* size)
{
    if (!name || name->size() + 1 > *size)
        return false;
    std::memcpy(buffer, name->c_str(), name->size() + 1);
    *size = static_cast<std::uint32_t>(name->size());
    return true;
}

bool FakePlatform::computerName(char* buffer, std::uint32_t* size)
{
    calls.push_back("computerName " + std::to_string(*size));
    return copyName(computer, buffer, size);
}

bool FakePlatform::userName(char* buffer, std::uint32_t* size)
{
    calls.push_back("userName " + std::to_string(*size));
    return copyName(user, buffer, size);
}

long FakePlatform::regOpenKey(StatKey parent, const std::string& subKey, StatKey* result)
{
    calls.push_back("regOpenKey " + subKey);
    std::string path;
    if (parent != kDynDataRoot) {
        auto found = openKeyPaths.find(parent);
        if (found == openKeyPaths.end())
            return kErrorInvalidHandle;
        path = found->second + "\\";
    }
    path += subKey;
    for (const auto& [name, values] : keys) {
        if (lower(name) == lower(path)) {
            *result = nextKey++;
            openKeyPaths[*result] = name;
            return kErrorSuccess;
        }
    }
    return kErrorFileNotFound;
}

long FakePlatform::regQueryValue(StatKey key, const std::string& name, std::uint32_t* type,
                                 void* data, std::uint32_t* size)
{
    calls.push_back(std::string(data ? "regQueryValue data " : "regQueryValue info ") + name);
    auto open = openKeyPaths.find(key);
    if (open == openKeyPaths.end())
        return kErrorInvalidHandle;
    const auto& values = keys[open->second];
    auto found = values.find(name);
    if (found == values.end())
        return kErrorFileNotFound;
    const Value& value = found->second;
    if (type)
        *type = value.type;
    if (!data) {
        *size = static_cast<std::uint32_t>(value.bytes.size());
        return kErrorSuccess;
    }
    if (value.failDataRead)
        return kErrorFileNotFound;
    if (*size < value.bytes.size()) {
        *size = static_cast<std::uint32_t>(value.bytes.size());
        return kErrorMoreData;
    }
    std::memcpy(data, value.bytes.data(), value.bytes.size());
    *size = static_cast<std::uint32_t>(value.bytes.size());
    return kErrorSuccess;
}

void FakePlatform::regCloseKey(StatKey key)
{
    calls.push_back("regCloseKey");
    openKeyPaths.erase(key);
}

bool FakePlatform::notifyIcon(TrayOp op, const TrayData& data)
{
    calls.push_back("notifyIcon " + std::to_string(static_cast<int>(op)));
    trayCalls.push_back({op, data});
    return trayAccepts;
}

QPoint FakePlatform::cursorPos()
{
    calls.push_back("cursorPos");
    return cursor;
}

void FakePlatform::setForegroundWindow(QWidget* window)
{
    calls.push_back("setForegroundWindow");
    foreground = window;
}

void FakePlatform::hideTaskbarButton(QWidget* window, bool hide)
{
    calls.push_back(hide ? "hideTaskbarButton 1" : "hideTaskbarButton 0");
    taskbarHidden[window] = hide;
    if (hide && window != nullptr && !window->isVisible())
        ++taskbarHiddenBeforeShow;
}

QMargins FakePlatform::frameMargins(QWidget*)
{
    calls.push_back("frameMargins");
    return frame;
}

void FakePlatform::shellOpen(const QString& text)
{
    calls.push_back("shellOpen");
    opened.push_back(text);
}

bool FakePlatform::openFileName(QWidget*, OpenFileRequest& request)
{
    calls.push_back("openFileName");
    return fileDialog ? fileDialog(request) : false;
}

bool FakePlatform::startTimer(QTimer& timer, int milliseconds)
{
    calls.push_back("startTimer " + std::to_string(milliseconds));
    if (refusedIntervals.count(milliseconds)) {
        timer.stop();
        return false;
    }
    timer.start(milliseconds);
    return true;
}

void FakePlatform::errorBox(QWidget* parent, const QString& caption, const QString& text)
{
    calls.push_back("errorBox");
    lastErrorParent = parent;
    lastErrorCaption = caption;
    errorBoxes.push_back(text);
    if (onErrorBox)
        onErrorBox(text);
}

}  // namespace platform
