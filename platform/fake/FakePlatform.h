#pragma once
// A scripted platform for tests: every answer is a public field a test sets, and every call is
// written to `calls` so a test can read what the logic did, in order.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace platform {

class FakePlatform : public Platform {
public:
    struct Value {
        std::uint32_t type = kTypeBinary;
        std::string bytes;
        bool failDataRead = false;   // the size/type query works, the data query then fails
    };
    struct Process {
        std::uint64_t identity = 0;
        bool signallable = true;
    };
    struct TrayCall {
        TrayOp op;
        TrayData data;
    };

    // --- scripted answers ---
    std::vector<WindowInfo> windowList;
    std::map<std::uint32_t, Process> processes;
    std::optional<MemoryStatus> memory = MemoryStatus{42, 8ull << 30};
    std::uint32_t processor = 586;
    std::optional<std::string> computer = std::string("HOST");
    std::optional<std::string> user = std::string("user");
    // Keys by full path below the root ("PerfStats\\StatData"), each with its values.
    std::map<std::string, std::map<std::string, Value>> keys;
    bool trayAccepts = true;
    QPoint cursor{100, 200};
    std::set<int> refusedIntervals;     // startTimer with one of these fails
    std::function<bool(OpenFileRequest&)> fileDialog;   // unset = cancel
    std::function<void(const QString&)> onErrorBox;     // runs while the "box" is open

    // --- what happened ---
    std::vector<std::string> calls;
    std::vector<TrayCall> trayCalls;
    std::vector<QString> errorBoxes;    // text of each box, in order
    std::vector<QString> opened;        // texts handed to shellOpen
    std::vector<std::uint32_t> terminated;
    std::map<QWidget*, bool> taskbarHidden;
    int taskbarHiddenBeforeShow = 0;   // hide requests made while the window was not yet shown
    QMargins frame{1, 20, 1, 5};
    QWidget* foreground = nullptr;

    // Sets the processor sample both statistics keys give.
    void setCpuUsage(std::int32_t percent);
    std::size_t openKeys() const { return openKeyPaths.size(); }
    std::size_t openProcesses() const { return processHandles.size(); }
    int count(const std::string& call) const;

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

    QString lastErrorCaption;
    QWidget* lastErrorParent = nullptr;

private:
    bool copyName(const std::optional<std::string>& name, char* buffer, std::uint32_t* size);

    std::map<StatKey, std::string> openKeyPaths;
    StatKey nextKey = 1;
    std::map<ProcessHandle, std::uint32_t> processHandles;
    ProcessHandle nextProcess = 1;
};

}  // namespace platform
